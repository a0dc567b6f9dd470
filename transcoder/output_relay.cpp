#include "transcoder/output_relay.h"

#include <poll.h>

#include <string>

#include "transcoder/child_process.h"
#include "vocabulary/transcoder_protocol.h"
#include "vocabulary/url_credentials.h"

namespace vx {
namespace {

constexpr std::size_t kPieceSize = 16 * 1024;
// An unfinished line longer than this goes on as it is: no URL is that long.
constexpr std::size_t kLongestHeldLine = 8 * 1024;

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void OutputRelay::relay(int fd) {
  read_until_end(fd, kPieceSize, [this](std::string_view text) { pass_on(text); });
  pass_on_rest();
}

void OutputRelay::relay(int fd, std::chrono::milliseconds period,
                        const std::function<void()>& step) {
  char buffer[kPieceSize];
  pollfd ready{fd, POLLIN, 0};
  for (;;) {
    if (::poll(&ready, 1, static_cast<int>(period.count())) > 0) {
      const ssize_t count = read_some(fd, buffer, sizeof buffer);
      if (count <= 0) {
        pass_on_rest();
        return;
      }
      pass_on(std::string_view(buffer, static_cast<std::size_t>(count)));
    }
    step();
  }
}

void OutputRelay::pass_on(std::string_view text) {
  unfinished_line_.append(text);
  const std::size_t line_end = unfinished_line_.find_last_of("\r\n");
  const std::size_t whole = unfinished_line_.size() > kLongestHeldLine ? unfinished_line_.size()
                            : line_end == std::string::npos            ? 0
                                                                       : line_end + 1;
  if (whole > 0) {
    say(text_without_url_credentials(std::string_view(unfinished_line_).substr(0, whole)));
    unfinished_line_.erase(0, whole);
  }
  if (watch_.frozen_after(text, seconds_now())) {
    say("\n" + std::string(kVideoFrameFreezing) + "\n");
  }
}

void OutputRelay::pass_on_rest() {
  if (!unfinished_line_.empty()) say(text_without_url_credentials(unfinished_line_));
  unfinished_line_.clear();
}

}  // namespace vx
