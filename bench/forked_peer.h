// The other end of a fan-out bench in a process of its own, so that its processor time and
// descriptors are not the server's: forked before any thread exists, it learns the server's port
// through one pipe and sends its report through another.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace vx::bench {

struct ForkedPeer {
  pid_t pid = -1;
  UniqueFd port_output;   // where the port goes
  UniqueFd report_input;  // where the report comes from

  bool tell_port(std::uint16_t port) const {
    return write_all(port_output.get(),
                     std::string_view(reinterpret_cast<const char*>(&port), sizeof port));
  }
  void wait() const { ::waitpid(pid, nullptr, 0); }
  void kill_and_wait() const {
    ::kill(pid, SIGKILL);
    wait();
  }
};

// `run(port_input, report_output)` runs in the child; what it returns is the child's status.
template <typename Run>
std::optional<ForkedPeer> fork_peer(Run run) {
  int port_pipe[2];
  int report_pipe[2];
  if (::pipe(port_pipe) != 0 || ::pipe(report_pipe) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(port_pipe[1]);
    ::close(report_pipe[0]);
    ::_exit(run(port_pipe[0], report_pipe[1]));
  }
  ::close(port_pipe[0]);
  ::close(report_pipe[1]);
  return ForkedPeer{child, UniqueFd(port_pipe[1]), UniqueFd(report_pipe[0])};
}

}  // namespace vx::bench
