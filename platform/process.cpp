#include "platform/process.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace vx {
namespace {

bool make_pipe(UniqueFd& read_end, UniqueFd& write_end) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end.reset(ends[0]);
  write_end.reset(ends[1]);
  return true;
}

// Only our ends are non-blocking; each pipe end is its own open file description, so the
// child's ends stay blocking.
bool make_non_blocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

class SpawnSetup {
 public:
  SpawnSetup() {
    ready_ = posix_spawn_file_actions_init(&actions_) == 0;
    ready_ = posix_spawnattr_init(&attributes_) == 0 && ready_;
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool configure(int child_input, int child_output) {
    if (!ready_) return false;
    sigset_t defaults;
    sigemptyset(&defaults);
    // We ignore SIGPIPE and may ignore SIGINT; the child must not inherit either.
    for (int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) {
      sigaddset(&defaults, signal_number);
    }
    sigset_t empty_mask;
    sigemptyset(&empty_mask);
    return posix_spawn_file_actions_adddup2(&actions_, child_input, STDIN_FILENO) == 0 &&
           posix_spawn_file_actions_adddup2(&actions_, child_output, STDOUT_FILENO) == 0 &&
           posix_spawn_file_actions_adddup2(&actions_, child_output, STDERR_FILENO) == 0 &&
           posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
           posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
           posix_spawnattr_setsigmask(&attributes_, &empty_mask) == 0 &&
           posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                                      POSIX_SPAWN_SETSIGMASK) == 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool ready_ = false;
};

}  // namespace

SpawnResult spawn_child(const std::vector<std::string>& argv, ChildProcess& child) {
  if (argv.empty()) return SpawnResult::not_started;
  UniqueFd child_input, our_input, our_output, child_output;
  if (!make_pipe(child_input, our_input) || !make_pipe(our_output, child_output) ||
      !make_non_blocking(our_input.get()) || !make_non_blocking(our_output.get())) {
    return SpawnResult::no_pipe;
  }
  SpawnSetup setup;
  if (!setup.configure(child_input.get(), child_output.get())) return SpawnResult::not_started;

  std::vector<char*> arguments;
  arguments.reserve(argv.size() + 1);
  for (const std::string& argument : argv)
    arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawnp(&pid, arguments[0], setup.actions(), setup.attributes(), arguments.data(),
                   environ) != 0) {
    return SpawnResult::not_started;
  }
  child.pid = pid;
  child.input = std::move(our_input);
  child.output = std::move(our_output);
  return SpawnResult::started;  // the child's ends close here; the child holds its own copies
}

bool child_has_ended(pid_t pid, std::uint32_t& exit_code) {
  if (pid <= 0) {
    exit_code = 0;
    return true;
  }
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(pid, &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == 0) return false;
  if (reaped < 0) {
    exit_code = 0;  // not ours (or reaped elsewhere): nothing left to wait for
    return true;
  }
  if (WIFEXITED(status)) {
    exit_code = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    exit_code = 0x80u + static_cast<std::uint32_t>(WTERMSIG(status));
  } else {
    return false;  // stopped or continued, still alive
  }
  return true;
}

void signal_child_group(pid_t pid, int signal) {
  if (pid <= 0) return;
  ::kill(-pid, signal);
}

bool set_child_affinity(pid_t pid, std::uint32_t mask) {
  if (pid <= 0 || mask == 0) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < 32; ++cpu) {
    if (mask & (1u << cpu)) CPU_SET(cpu, &set);
  }
  return ::sched_setaffinity(pid, sizeof set, &set) == 0;
}

long read_available(int fd, char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t count = ::read(fd, buffer, capacity);
    if (count >= 0) return static_cast<long>(count);
    if (errno != EINTR) return -1;
  }
}

bool is_executable_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> find_program(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) {
    if (is_executable_file(name)) return name;
    return std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const std::size_t colon = folders.find(':');
    std::string folder(folders.substr(0, colon));
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + name;
    if (is_executable_file(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

int logical_processor_count() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

}  // namespace vx
