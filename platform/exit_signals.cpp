#include "platform/exit_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vx {

UniqueFd block_exit_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  return UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

int read_exit_signal(int descriptor) {
  signalfd_siginfo received{};
  if (::read(descriptor, &received, sizeof received) != sizeof received) return 0;
  return static_cast<int>(received.ssi_signo);
}

}  // namespace vx
