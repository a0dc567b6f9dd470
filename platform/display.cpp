#include "platform/display.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/tcp_probe.h"
#include "platform/unique_fd.h"

namespace vx {
namespace {

constexpr std::chrono::milliseconds kRemoteWait{1000};

bool local_socket_answers(const std::string& path, bool abstract_too) {
  for (const bool abstract : {true, false}) {
    if (abstract && !abstract_too) continue;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;  // the abstract name starts with a zero byte
    if (path.size() + offset >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    if (fd.get() >= 0 &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0)
      return true;
  }
  return false;
}

bool tcp_answers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool answered = false;
  for (const addrinfo* entry = found; entry != nullptr && !answered; entry = entry->ai_next)
    answered = tcp_connects(*entry, kRemoteWait);
  ::freeaddrinfo(found);
  return answered;
}

}  // namespace

std::optional<XDisplayAddress> x_display_address(std::string_view name) {
  const std::size_t colon = name.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = name.substr(0, colon);
  std::string_view rest = name.substr(colon + 1);
  rest = rest.substr(0, rest.find('.'));  // the screen does not matter
  int number = -1;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
  if (error != std::errc() || end != rest.data() + rest.size() || number < 0) return std::nullopt;
  XDisplayAddress address;
  if (host.empty() || host == "unix") {
    address.socket_path = "/tmp/.X11-unix/X" + std::to_string(number);
  } else if (host.find('/') != std::string_view::npos) {
    return std::nullopt;  // a launchd-style path: not ours to judge
  } else {
    address.host = std::string(host);
    address.port = 6000 + number;
  }
  return address;
}

bool display_reachable() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland != nullptr && *wayland != '\0') {
    std::string path = wayland;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (path.front() != '/' && runtime != nullptr) path = std::string(runtime) + "/" + path;
    if (local_socket_answers(path, false)) return true;
  }
  const char* x = std::getenv("DISPLAY");
  if (x == nullptr || *x == '\0') return false;
  const std::optional<XDisplayAddress> address = x_display_address(x);
  if (!address) return true;
  return address->socket_path.empty() ? tcp_answers(address->host, address->port)
                                      : local_socket_answers(address->socket_path, true);
}

}  // namespace vx
