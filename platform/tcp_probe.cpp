#include "platform/tcp_probe.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace vx {

bool tcp_connects(const addrinfo& address, std::chrono::milliseconds limit) {
  const UniqueFd socket(::socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket) return false;
  if (::connect(socket.get(), address.ai_addr, address.ai_addrlen) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd ready{socket.get(), POLLOUT, 0};
  int error = 0;
  socklen_t length = sizeof error;
  return ::poll(&ready, 1, static_cast<int>(limit.count())) == 1 &&
         ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace vx
