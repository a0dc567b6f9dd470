// A raw HTTP/1.1 client on 127.0.0.1 for the server tests: requests are written byte for byte
// (so tests can send what no well-behaved client would) and answers are read until the server
// closes the connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "vocabulary/ascii.h"

namespace vx::testing_support {

// Source ports for crowds of test connections: above the system's range of ephemeral ports
// (32768-60999), so that they never take the port another test's server is about to listen on.
inline constexpr std::uint16_t kCrowdPorts = 61000;

// A receive buffer, when given, is set before connecting so the window stays that small. Another
// loopback source address (127.0.0.2, host order) makes the connection another client; a source
// port, when given, is used even if a closed connection lingers on it.
inline UniqueFd connect_local(std::uint16_t port, int receive_buffer = 0,
                              std::uint32_t source = INADDR_LOOPBACK,
                              std::uint16_t source_port = 0) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (receive_buffer > 0)
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  if (source != INADDR_LOOPBACK || source_port != 0) {
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(source_port);
    from.sin_addr.s_addr = htonl(source);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) return {};
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return {};
  return fd;
}

// A connection from `source` begun without waiting to be accepted (non-blocking), as a crowd of
// clients that do not care opens them; invalid when it could not even begin.
inline UniqueFd begin_connect_local(std::uint16_t port, std::uint32_t source = INADDR_LOOPBACK) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return {};
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(source);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) return {};
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
      errno != EINPROGRESS) {
    return {};
  }
  return fd;
}

// The peer has closed (or reset) the connection: nothing more will come.
inline bool peer_closed(int fd) {
  pollfd state{fd, POLLIN | POLLRDHUP, 0};
  if (::poll(&state, 1, 0) <= 0) return false;
  if ((state.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0) return true;
  char byte;
  return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

// How many of the connections the peer has not closed.
inline std::size_t count_not_closed(const std::vector<UniqueFd>& connections) {
  std::size_t open = 0;
  for (const UniqueFd& fd : connections)
    open += fd && !peer_closed(fd.get()) ? 1 : 0;
  return open;
}

inline bool send_text(int fd, std::string_view text) {
  return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// Everything until the peer closes (or resets) the connection, or the limit passes; `closed`
// tells which.
inline std::string read_to_end(int fd,
                               std::chrono::steady_clock::duration limit = std::chrono::seconds(30),
                               bool* closed = nullptr) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[65536];
  if (closed) *closed = false;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, 100) <= 0) continue;
    const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
    if (count <= 0) {
      if (closed) *closed = true;
      break;
    }
    received.append(buffer, static_cast<std::size_t>(count));
  }
  return received;
}

struct Reply {
  std::string head;  // status line and headers, each ending in "\r\n"
  std::string body;

  // 0 when nothing (or no status line) came back.
  int status() const {
    if (head.rfind("HTTP/1.", 0) != 0 || head.size() < 12) return 0;
    return std::stoi(head.substr(9, 3));
  }
  // The value of the first header of that name (any case), or "" when there is none.
  std::string header(std::string_view name) const {
    std::size_t line = head.find("\r\n");
    while (line != std::string::npos && line + 2 < head.size()) {
      const std::size_t end = head.find("\r\n", line + 2);
      const std::string_view text = std::string_view(head).substr(line + 2, end - line - 2);
      const std::size_t colon = text.find(':');
      if (colon != std::string_view::npos && iequals(text.substr(0, colon), name)) {
        std::string_view value = text.substr(colon + 1);
        while (!value.empty() && value.front() == ' ')
          value.remove_prefix(1);
        return std::string(value);
      }
      line = end;
    }
    return {};
  }
  bool has_header(std::string_view name) const { return !header(name).empty(); }
};

inline Reply split_reply(const std::string& raw) {
  const std::size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return {raw, {}};
  return {raw.substr(0, end + 2), raw.substr(end + 4)};
}

// Sends the raw request on a new connection and reads the answer until the server closes it.
inline Reply http_exchange(std::uint16_t port, std::string_view request,
                           std::uint32_t source = INADDR_LOOPBACK) {
  const UniqueFd fd = connect_local(port, 0, source);
  if (!fd || !send_text(fd.get(), request)) return {};
  return split_reply(read_to_end(fd.get(), std::chrono::seconds(20)));
}

// A GET (or another method) with "Connection: close" and the extra header lines given.
inline Reply http_get(std::uint16_t port, std::string_view target, std::string_view headers = {},
                      std::string_view method = "GET") {
  std::string request = std::string(method) + " " + std::string(target) + " HTTP/1.1\r\n";
  request += "Host: 127.0.0.1\r\nConnection: close\r\n";
  request += headers;
  request += "\r\n";
  return http_exchange(port, request);
}

inline Reply http_post(std::uint16_t port, std::string_view target, std::string_view body,
                       std::string_view headers = {}) {
  std::string request = "POST " + std::string(target) + " HTTP/1.1\r\n";
  request += "Host: 127.0.0.1\r\nConnection: close\r\n";
  request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += headers;
  request += "\r\n";
  request += body;
  return http_exchange(port, request);
}

}  // namespace vx::testing_support
