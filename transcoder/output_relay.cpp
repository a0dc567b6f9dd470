#include "transcoder/output_relay.h"

#include <poll.h>

#include <string>

#include "transcoder/child_process.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

constexpr std::size_t kPieceSize = 16 * 1024;

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void OutputRelay::relay(int fd) {
  read_until_end(fd, kPieceSize, [this](std::string_view text) { pass_on(text); });
}

void OutputRelay::relay(int fd, std::chrono::milliseconds period,
                        const std::function<void()>& step) {
  char buffer[kPieceSize];
  pollfd ready{fd, POLLIN, 0};
  for (;;) {
    if (::poll(&ready, 1, static_cast<int>(period.count())) > 0) {
      const ssize_t count = read_some(fd, buffer, sizeof buffer);
      if (count <= 0) return;
      pass_on(std::string_view(buffer, static_cast<std::size_t>(count)));
    }
    step();
  }
}

void OutputRelay::pass_on(std::string_view text) {
  say(text);
  if (watch_.frozen_after(text, seconds_now())) {
    say("\n" + std::string(kVideoFrameFreezing) + "\n");
  }
}

}  // namespace vx
