#include "platform/single_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "tests/support/peers.h"

namespace vx {
namespace {

using namespace vx::testing_support;

// Sets (nullptr: removes) an environment variable for one scope. The runtime folder would win
// over the test's own folder, and there meet a copy of the program the user is running.
struct ScopedEnvironment {
  ScopedEnvironment(const char* variable, const char* value) : name(variable) {
    if (const char* old_value = std::getenv(variable)) old = old_value;
    set(value);
  }
  ~ScopedEnvironment() { set(old ? old->c_str() : nullptr); }
  void set(const char* value) const { value ? ::setenv(name, value, 1) : ::unsetenv(name); }
  const char* name;
  std::optional<std::string> old;
};

bool is_socket_file(const fs::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

// Serves the owner's side the way its poll loop does, until one request was answered.
std::thread serve_one(SingleInstance& owner, bool headless, int& requests) {
  return std::thread([&owner, headless, &requests] {
    const auto deadline = Clock::now() + 5s;
    while (requests == 0 && Clock::now() < deadline) {
      pollfd ready{owner.listening_fd(), POLLIN, 0};
      if (::poll(&ready, 1, 100) > 0) requests += owner.answer_pending(headless);
    }
  });
}

UniqueFd raw_client(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
  return fd;
}

// What the owner sent before it closed the connection.
std::string reply_to(const UniqueFd& client) {
  char buffer[64];
  const ssize_t got = ::recv(client.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : "";
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  ScopedEnvironment no_runtime_folder_{"XDG_RUNTIME_DIR", nullptr};
  fs::path folder_ = fresh_test_folder("vx-instance");
};

TEST_F(SingleInstanceTest, TheLockDecidesTheRole) {
  {
    SingleInstance first = SingleInstance::acquire(folder_);
    ASSERT_EQ(first.role(), InstanceRole::first) << first.error();
    EXPECT_TRUE(is_socket_file(folder_ / "morvi_mutex_9527.sock"));
    EXPECT_TRUE(fs::exists(folder_ / "morvi_mutex_9527.lock"));

    // A second open of the lock file conflicts even within this process.
    SingleInstance second = SingleInstance::acquire(folder_);
    EXPECT_EQ(second.role(), InstanceRole::second) << second.error();

    // Moving keeps the lock with the new owner; the emptied one releases nothing.
    SingleInstance moved = std::move(first);
    EXPECT_EQ(moved.role(), InstanceRole::first);
    EXPECT_EQ(SingleInstance::acquire(folder_).role(), InstanceRole::second);
  }
  EXPECT_FALSE(fs::exists(folder_ / "morvi_mutex_9527.sock"));
  EXPECT_EQ(SingleInstance::acquire(folder_).role(), InstanceRole::first);
}

TEST_F(SingleInstanceTest, RuntimeFolderIsUsedOnlyWhenAbsoluteAndPresent) {
  const fs::path runtime = folder_ / "runtime";
  fs::create_directories(runtime);
  for (const fs::path& value : {runtime, folder_ / "missing", fs::path("relative")}) {
    ScopedEnvironment runtime_folder("XDG_RUNTIME_DIR", value.c_str());
    SingleInstance instance = SingleInstance::acquire(folder_);
    EXPECT_EQ(fs::path(instance.socket_path()).parent_path(), value == runtime ? runtime : folder_)
        << value << ": " << instance.error();
  }
}

TEST_F(SingleInstanceTest, SecondCopyIsToldWhetherTheWindowShowed) {
  for (const bool headless : {false, true}) {
    SingleInstance first = SingleInstance::acquire(folder_);
    SingleInstance second = SingleInstance::acquire(folder_);
    ASSERT_EQ(second.role(), InstanceRole::second);
    int requests = 0;
    std::thread owner = serve_one(first, headless, requests);
    const InstanceAnswer answer = second.ask_first_to_show();
    owner.join();
    EXPECT_EQ(answer, headless ? InstanceAnswer::headless : InstanceAnswer::window_shown);
    EXPECT_EQ(requests, 1);
  }
}

TEST_F(SingleInstanceTest, OwnerInAnotherProcessHoldsTheLockUntilItDies) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstance owner = SingleInstance::acquire(folder_);
    const char role = owner.role() == InstanceRole::first ? 'f' : 'x';
    (void)!::write(ready[1], &role, 1);
    pollfd request{owner.listening_fd(), POLLIN, 0};
    const bool asked = ::poll(&request, 1, 5000) == 1 && owner.answer_pending(true) == 1;
    // Ends without the destructor, as a crash would: the socket file stays behind.
    ::_exit(asked ? 0 : 1);
  }
  ::close(ready[1]);
  char role = 0;
  EXPECT_EQ(::read(ready[0], &role, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(role, 'f');

  SingleInstance second = SingleInstance::acquire(folder_);
  EXPECT_EQ(second.role(), InstanceRole::second) << second.error();
  EXPECT_EQ(second.ask_first_to_show(), InstanceAnswer::headless);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(is_socket_file(folder_ / "morvi_mutex_9527.sock"));

  // The lock died with its owner; the stale socket is replaced by one that answers.
  SingleInstance successor = SingleInstance::acquire(folder_);
  ASSERT_EQ(successor.role(), InstanceRole::first) << successor.error();
  SingleInstance later = SingleInstance::acquire(folder_);
  int requests = 0;
  std::thread owner = serve_one(successor, false, requests);
  EXPECT_EQ(later.ask_first_to_show(), InstanceAnswer::window_shown);
  owner.join();
}

TEST_F(SingleInstanceTest, GarbageIsNotAnsweredAndCannotStallTheOwner) {
  SingleInstance first = SingleInstance::acquire(folder_);
  ASSERT_EQ(first.role(), InstanceRole::first) << first.error();
  std::vector<UniqueFd> clients;
  for (const std::string& text :
       {std::string("hello\n"), std::string("SHOW\n"), std::string("show\r\n"), std::string("show"),
        std::string(), std::string(100000, 'x')}) {
    clients.push_back(raw_client(first.socket_path()));
    ASSERT_TRUE(clients.back());
    (void)::send(clients.back().get(), text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  clients.push_back(raw_client(first.socket_path()));
  clients.back().reset();  // gone before it is accepted

  const auto start = Clock::now();
  EXPECT_EQ(first.answer_pending(false), 0);
  EXPECT_LT(Clock::now() - start, 1s);
  for (std::size_t k = 0; k + 1 < clients.size(); ++k)
    EXPECT_EQ(reply_to(clients[k]), "") << "client " << k;

  // Still serving afterwards.
  UniqueFd client = raw_client(first.socket_path());
  ASSERT_TRUE(client);
  ASSERT_EQ(::send(client.get(), "show\n", 5, MSG_NOSIGNAL), 5);
  EXPECT_EQ(first.answer_pending(false), 1);
  EXPECT_EQ(reply_to(client), "shown\n");
}

TEST_F(SingleInstanceTest, UnusableFolderOrNameFailsWithAReason) {
  const std::string missing = (folder_ / "missing").string();
  SingleInstance no_folder = SingleInstance::acquire(missing);
  EXPECT_EQ(no_folder.role(), InstanceRole::failed);
  EXPECT_NE(no_folder.error().find(missing), std::string::npos) << no_folder.error();
  EXPECT_EQ(no_folder.ask_first_to_show(), InstanceAnswer::no_answer);

  for (const char* name : {"morvi", "/a/b", "/.."}) {
    SingleInstance bad_name = SingleInstance::acquire(folder_, name);
    EXPECT_EQ(bad_name.role(), InstanceRole::failed) << name;
    EXPECT_FALSE(bad_name.error().empty()) << name;
  }
  EXPECT_TRUE(fs::is_empty(folder_));
}

}  // namespace
}  // namespace vx
