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
    say_lines(unfinished_line_.substr(0, whole));
    unfinished_line_.erase(0, whole);
  }
  if (watch_.frozen_after(text, seconds_now())) {
    say("\n" + std::string(kVideoFrameFreezing) + "\n");
  }
}

void OutputRelay::pass_on_rest() {
  say_lines(std::move(unfinished_line_));
  unfinished_line_.clear();
}

void OutputRelay::say_lines(std::string text) {
  for (std::size_t at = 0;
       !withheld_start_.empty() && (at = text.find(withheld_start_, at)) != std::string::npos;) {
    if (at > 0 && text[at - 1] != '\n' && text[at - 1] != '\r') {
      ++at;
      continue;
    }
    const std::size_t end = text.find_first_of("\r\n", at);
    text.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
    withheld_ = true;
  }
  if (!text.empty()) say(text_without_url_credentials(text));
}

}  // namespace vx
