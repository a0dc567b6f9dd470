#include "app/headless_loop.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>

#include <cstdio>
#include <string>

#include "web/server.h"

namespace vx {
namespace {

sigset_t exit_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

void print_line(std::FILE* stream, std::string_view text) {
  std::fprintf(stream, "vantorix: %.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stream);
}

}  // namespace

HeadlessLoop::HeadlessLoop() {
  const sigset_t set = exit_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signals_.reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  ::signal(SIGPIPE, SIG_IGN);  // a viewer that hangs up must not end the program
}

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
    signalfd_siginfo received{};
    if (::read(signals_.get(), &received, sizeof received) == sizeof received) {
      return static_cast<int>(received.ssi_signo);
    }
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
  print_line(stderr, text);
}

void HeadlessLoop::error(std::string_view caption, std::string_view text) {
  (void)caption;
  print_line(stderr, text);
}

void HeadlessLoop::note(std::string_view text) {
  print_line(stdout, text);
}

}  // namespace vx
