#include "app/headless_loop.h"

#include <poll.h>

#include <string>

#include "platform/exit_signals.h"
#include "web/server.h"

namespace vx {
HeadlessLoop::HeadlessLoop() : signals_(block_exit_signals()) {}

int HeadlessLoop::run(Application& application) {
  SingleInstance* instance = application.instance();
  auto next_tick = SupervisorClock::now();
  for (;;) {
    const auto now = SupervisorClock::now();
    if (now >= next_tick) {
      carry_out_requests(application);
      // Commands wake the loop through their descriptor; without one they wait for the tick.
      if (application.commands().wake_descriptor() < 0) {
        application.commands().carry_out(application.supervisor());
      }
      application.supervisor().tick(now);
      // Later copies are answered once a tick; a socket that keeps failing cannot spin the loop.
      if (instance != nullptr) instance->answer_pending(true);
      next_tick += kSupervisionPeriod;
      if (next_tick < now) next_tick = now + kSupervisionPeriod;  // after a long stall
      continue;
    }
    pollfd watched[] = {{signals_.get(), POLLIN, 0},
                        {application.commands().wake_descriptor(), POLLIN, 0}};
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - now).count() + 1;
    if (::poll(watched, 2, static_cast<int>(wait)) <= 0) continue;
    if (watched[1].revents != 0) {
      carry_out_requests(application);
      application.commands().carry_out(application.supervisor());
    }
    if (watched[0].revents == 0) continue;
    if (const int signal_number = read_exit_signal(signals_.get())) return signal_number;
  }
}

// Before any waiting command, so a command for a channel that a post has just added finds its
// row.
void HeadlessLoop::carry_out_requests(Application& application) {
  if (reload_requested_.exchange(false)) application.supervisor().rebuild_rows(false);
  // Restarted here, never on the server's own thread, and without the core lock.
  if (restart_requested_.exchange(false)) application.restart_web_server();
}

void HeadlessLoop::configuration_saved() {
  apply_autostart_setting();
}

void HeadlessLoop::warning(std::string_view caption, std::string_view text) {
  (void)caption;
  print_operator_line(stderr, text);
}

void HeadlessLoop::error(std::string_view caption, std::string_view text) {
  (void)caption;
  print_operator_line(stderr, text);
}

void HeadlessLoop::note(std::string_view text) {
  print_operator_line(stdout, text);
}

}  // namespace vx
