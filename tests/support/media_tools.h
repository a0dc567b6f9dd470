// Shared by the tests that run real media tools: child processes with a time limit (killed and
// reaped by their pid), ffmpeg argument lists, ffprobe's view of a file, free loopback ports.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vx::testing_support {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline constexpr auto kProcessLimit = 60s;

std::string read_text(const fs::path& path);

// Alive and not a zombie waiting for its parent.
bool process_exists(pid_t pid);

// A child started from PATH in `folder`, standard input from /dev/null, its output in files.
// One still running when the object goes is killed and reaped.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const fs::path& folder, const fs::path& out,
          const fs::path& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
      pid_ = -1;
      status_ = 127;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { kill_and_reap(); }

  bool running() {
    if (pid_ > 0) reap(WNOHANG);
    return pid_ > 0;
  }

  // The exit status (128 + the signal for a killed process), or nothing when the process was
  // still running after `limit` and had to be killed.
  std::optional<int> wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    if (pid_ > 0) {
      kill_and_reap();
      return std::nullopt;
    }
    return status_;
  }

 private:
  void reap(int flags) {
    int status = 0;
    if (waitpid(pid_, &status, flags) != pid_) return;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
  }
  void kill_and_reap() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  std::optional<int> status_;
};

std::vector<std::string> ffmpeg_argv(std::vector<std::string> arguments);

struct Stream {
  std::string codec_type;
  std::string codec_name;
  std::string field_order;
};

// The streams ffprobe finds in `media` (its "flat" form keeps the file's stream list apart from
// the per-program copies a transport stream also lists).
std::vector<Stream> probe(const fs::path& media);

// "video h264", "audio aac", ... sorted, so that stream order does not matter.
std::vector<std::string> kinds(const std::vector<Stream>& streams);

// An even UDP port on 127.0.0.1 that is free together with the `count` - 1 ports after it.
std::uint16_t free_udp_ports(int count);

// Whether some socket is bound to the UDP port (read from /proc, so nothing races the owner).
bool udp_port_bound(std::uint16_t port);

}  // namespace vx::testing_support
