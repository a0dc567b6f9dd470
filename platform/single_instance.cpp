#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

namespace vx {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A request or an answer is one short line; anything longer is not ours.
constexpr std::size_t kLineLimit = 64;
// Time one answer_pending call may spend waiting on clients that have not sent their line yet:
// the owner's loop (and with it the web server and the engine) waits that long at most.
constexpr auto kClientBudget = 100ms;
// Clients taken per call; a flood of connections is served over later calls instead of
// keeping the owner's loop in this one.
constexpr int kClientsPerCall = 16;
constexpr auto kAnswerLimit = 2s;

bool is_folder(const std::string& path) {
  struct stat status {};
  return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string instance_folder(const std::string& fallback) {
  // A relative runtime folder would depend on the working folder, so two copies started from
  // different places would not see each other; the XDG rules say to ignore it.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime != nullptr && runtime[0] == '/' && is_folder(runtime)
                           ? std::string(runtime)
                           : fallback;
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  return folder;
}

std::string system_reason() {
  return std::strerror(errno);
}

int milliseconds_left(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// One line of at most kLineLimit bytes, without its '\n'; nothing when the peer closes, sends
// more than that without a newline, or is still silent at the deadline.
std::optional<std::string> read_line(int fd, Clock::time_point deadline) {
  char buffer[kLineLimit];
  std::size_t filled = 0;
  while (filled < sizeof buffer) {
    const ssize_t got = ::recv(fd, buffer + filled, sizeof buffer - filled, MSG_DONTWAIT);
    if (got > 0) {
      const std::string_view added(buffer + filled, static_cast<std::size_t>(got));
      const std::size_t newline = added.find('\n');
      if (newline != std::string_view::npos) return std::string(buffer, filled + newline);
      filled += static_cast<std::size_t>(got);
      continue;
    }
    if (got == 0) return std::nullopt;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return std::nullopt;
    const int wait = milliseconds_left(deadline);
    if (wait == 0) return std::nullopt;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, wait) < 0 && errno != EINTR) return std::nullopt;
  }
  return std::nullopt;
}

bool send_line(int fd, std::string_view line) {
  // Short lines on a fresh local socket go out whole; MSG_NOSIGNAL keeps a peer that already
  // left from killing this process with SIGPIPE.
  ssize_t sent = -1;
  do {
    sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(line.size());
}

// In a data folder other users may be able to reach, only this user may make the window show.
bool from_this_user(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

sockaddr_un socket_address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

UniqueFd local_socket() {
  return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

}  // namespace

SingleInstance SingleInstance::acquire(const std::string& fallback_folder, std::string_view name) {
  SingleInstance instance;
  const std::string_view file = name.starts_with('/') ? name.substr(1) : std::string_view();
  if (file.empty() || file == "." || file == ".." || file.find('/') != std::string_view::npos) {
    instance.error_ =
        "The instance name \"" + std::string(name) + "\" is not a '/' followed by a file name.";
    return instance;
  }
  const std::string folder = instance_folder(fallback_folder);
  if (!is_folder(folder)) {
    instance.error_ = "The folder for the instance lock \"" + folder + "\" does not exist.";
    return instance;
  }
  const std::string base = (folder == "/" ? "" : folder) + "/" + std::string(file);
  const std::string lock_path = base + ".lock";
  instance.socket_path_ = base + ".sock";
  if (instance.socket_path_.size() >= sizeof(sockaddr_un{}.sun_path)) {
    instance.error_ = "The instance socket path \"" + instance.socket_path_ +
                      "\" is longer than a Unix socket address allows.";
    return instance;
  }

  UniqueFd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock) {
    instance.error_ =
        "Cannot open the instance lock \"" + lock_path + "\": " + system_reason() + ".";
    return instance;
  }
  int locked = -1;
  do {
    locked = ::flock(lock.get(), LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    if (errno == EWOULDBLOCK) {
      instance.role_ = InstanceRole::second;
    } else {
      instance.error_ = "Cannot lock \"" + lock_path + "\": " + system_reason() + ".";
    }
    return instance;
  }

  // Holding the lock proves no live owner: a socket file still there was left by one that
  // died. Anything else at that path is not ours to delete, and bind reports it.
  struct stat status {};
  if (::lstat(instance.socket_path_.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) {
    ::unlink(instance.socket_path_.c_str());
  }
  UniqueFd listener = local_socket();
  const sockaddr_un address = socket_address(instance.socket_path_);
  if (!listener ||
      ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    instance.error_ = "Cannot create the instance socket \"" + instance.socket_path_ +
                      "\": " + system_reason() + ".";
    return instance;
  }
  ::chmod(instance.socket_path_.c_str(), 0600);
  if (::listen(listener.get(), kClientsPerCall) != 0) {
    instance.error_ = "Cannot listen on the instance socket \"" + instance.socket_path_ +
                      "\": " + system_reason() + ".";
    ::unlink(instance.socket_path_.c_str());
    return instance;
  }
  instance.role_ = InstanceRole::first;
  instance.lock_ = std::move(lock);
  instance.listener_ = std::move(listener);
  return instance;
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept
    : role_(std::exchange(other.role_, InstanceRole::failed)),
      error_(std::move(other.error_)),
      socket_path_(std::move(other.socket_path_)),
      lock_(std::move(other.lock_)),
      listener_(std::move(other.listener_)) {}

SingleInstance& SingleInstance::operator=(SingleInstance&& other) noexcept {
  if (this != &other) {
    release();
    role_ = std::exchange(other.role_, InstanceRole::failed);
    error_ = std::move(other.error_);
    socket_path_ = std::move(other.socket_path_);
    lock_ = std::move(other.lock_);
    listener_ = std::move(other.listener_);
  }
  return *this;
}

SingleInstance::~SingleInstance() {
  release();
}

void SingleInstance::release() {
  // The socket file goes while the lock is still held, so it can never remove the socket of
  // an owner that came after.
  if (role_ == InstanceRole::first) ::unlink(socket_path_.c_str());
  listener_.reset();
  lock_.reset();
  role_ = InstanceRole::failed;
}

int SingleInstance::answer_pending(bool headless) {
  if (role_ != InstanceRole::first) return 0;
  const Clock::time_point deadline = Clock::now() + kClientBudget;
  int requests = 0;
  for (int taken = 0; taken < kClientsPerCall; ++taken) {
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!client) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;
    }
    if (!from_this_user(client.get())) continue;
    const std::optional<std::string> request = read_line(client.get(), deadline);
    if (request != "show") continue;
    ++requests;
    send_line(client.get(), headless ? "headless\n" : "shown\n");
  }
  return requests;
}

InstanceAnswer SingleInstance::ask_first_to_show() {
  if (role_ != InstanceRole::second) return InstanceAnswer::no_answer;
  const Clock::time_point deadline = Clock::now() + kAnswerLimit;
  const sockaddr_un address = socket_address(socket_path_);
  UniqueFd connection;
  for (;;) {
    connection = local_socket();
    if (!connection) return InstanceAnswer::no_answer;
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
        0) {
      break;
    }
    // The first copy may hold the lock but not listen yet, or have its queue full for a moment.
    const bool worth_retrying =
        errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN || errno == EINTR;
    if (!worth_retrying || Clock::now() >= deadline) return InstanceAnswer::no_answer;
    std::this_thread::sleep_for(20ms);
  }
  if (!send_line(connection.get(), "show\n")) return InstanceAnswer::no_answer;
  const std::optional<std::string> answer = read_line(connection.get(), deadline);
  if (answer == "shown") return InstanceAnswer::window_shown;
  if (answer == "headless") return InstanceAnswer::headless;
  return InstanceAnswer::no_answer;
}

}  // namespace vx
