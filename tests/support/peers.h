// Shared by the tests that run real programs: morvi-transcoder run as the engine runs it, peer
// programs with their output in files (both killed by their pid and reaped when a test ends
// early), free loopback ports and who holds them, and what ffprobe finds in a stream.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/process.h"
#include "platform/unique_fd.h"
#include "vocabulary/transcoder_protocol.h"

extern char** environ;

namespace vx::testing_support {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline constexpr auto kRunLimit = 40s;

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// An empty folder of its own for the running test: <tmp>/<prefix>-<pid>-<test name>.
inline fs::path fresh_test_folder(const std::string& prefix) {
  const fs::path folder =
      fs::temp_directory_path() / (prefix + "-" + std::to_string(getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

// Alive and not a zombie waiting for its parent.
// A process as /proc/<pid>/stat and cmdline show it (arguments joined by blanks).
struct ProcessEntry {
  pid_t pid = 0;
  pid_t parent = 0;
  pid_t group = 0;
  std::string command;
};

inline std::vector<ProcessEntry> running_processes() {
  std::vector<ProcessEntry> processes;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    ProcessEntry process;
    process.pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
    if (process.pid <= 0) continue;
    const std::string stat = read_text(entry.path() / "stat");
    const std::size_t close = stat.rfind(')');  // the name may hold blanks and parentheses
    if (close == std::string::npos || close + 2 > stat.size()) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    rest >> state >> process.parent >> process.group;
    process.command = read_text(entry.path() / "cmdline");
    std::replace(process.command.begin(), process.command.end(), '\0', ' ');
    processes.push_back(std::move(process));
  }
  return processes;
}

// The ffmpeg children of a failover transcoder that read the switch's pictures: its encoders.
inline std::set<pid_t> encoders_of(pid_t transcoder) {
  std::set<pid_t> found;
  for (const ProcessEntry& process : running_processes()) {
    if (process.parent == transcoder && process.command.find("-i pipe:3") != std::string::npos) {
      found.insert(process.pid);
    }
  }
  return found;
}

inline bool process_exists(pid_t pid) {
  if (pid <= 0) return false;
  const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

inline std::string last_part(const std::string& text, std::size_t size = 4000) {
  return text.size() <= size ? text : "..." + text.substr(text.size() - size);
}

inline bool wait_until(const std::function<bool()>& done, Clock::duration limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Processes

// A peer program (ffmpeg, ffprobe, curl, srt-live-transmit, nginx) started from PATH with
// standard input from /dev/null and its output in files. Killed by its pid and reaped when it is
// still running at the end.
class Peer {
 public:
  Peer(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err)
      : out_(out), err_(err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (const std::string& arg : argv)
      command_ += arg + " ";
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool running() {
    if (pid_ > 0) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return pid_ > 0;
  }

  // The exit status; nothing when it was still running after `limit` (it is then killed).
  std::optional<int> wait(Clock::duration limit) {
    wait_until([this] { return !running(); }, limit);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return std::nullopt;
    }
    return status_;
  }

  void signal(int number) {
    if (running()) ::kill(pid_, number);
  }

  pid_t pid() const { return pid_; }

  std::string out() const { return read_text(out_); }
  std::string err() const { return read_text(err_); }
  std::string report() const { return "peer: " + command_ + "\nits messages: " + last_part(err()); }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  fs::path out_;
  fs::path err_;
  std::string command_;
};

// morvi-transcoder started as the engine starts it: no arguments, the token line on its standard
// input, in a process group of its own. A thread keeps reading what it relays, so ffmpeg never
// waits on a full pipe. Killed with its group and reaped when it is still running at the end.
class Transcoder {
 public:
  explicit Transcoder(const std::string& argument_line) : line_(argument_line) {
    const std::string program = module_folder() + "/" + std::string(kTranscoderFileName);
    if (spawn_child({program}, child_) != SpawnResult::started) {
      child_.pid = 0;
      return;
    }
    reader_ = std::thread([this] { read_output(); });
    const std::string text = std::string(kTranscoderToken) + " " + argument_line + "\n";
    std::size_t sent = 0;
    const auto deadline = Clock::now() + 10s;
    while (sent < text.size() && Clock::now() < deadline) {
      const ssize_t count = ::write(child_.input.get(), text.data() + sent, text.size() - sent);
      if (count > 0) {
        sent += static_cast<std::size_t>(count);
      } else {
        std::this_thread::sleep_for(1ms);
      }
    }
    child_.input.reset();
  }
  Transcoder(const Transcoder&) = delete;
  Transcoder& operator=(const Transcoder&) = delete;
  ~Transcoder() {
    if (child_.pid > 0) {
      signal_child_group(child_.pid, SIGKILL);
      std::uint32_t code = 0;
      while (!child_has_ended(child_.pid, code))
        std::this_thread::sleep_for(5ms);
    }
    stop_reading_ = true;
    if (reader_.joinable()) reader_.join();
  }

  bool started() const { return child_.pid > 0 || code_.has_value(); }
  pid_t pid() const { return child_.pid; }

  // The orderly stop the engine sends: SIGINT to the whole group.
  void interrupt() {
    if (child_.pid > 0) signal_child_group(child_.pid, SIGINT);
  }

  bool running() {
    std::uint32_t code = 0;
    if (child_.pid > 0 && child_has_ended(child_.pid, code)) {
      child_.pid = 0;
      code_ = static_cast<int>(code);
      // Whatever ffmpeg wrote last is still in the pipe: let the reader reach its end.
      wait_until([this] { return reader_done_.load(); }, 3s);
    }
    return child_.pid > 0;
  }

  // The exit code (0x80 + N after signal N); nothing when it was still running after `limit`.
  std::optional<int> wait_for_end(Clock::duration limit = kRunLimit) {
    wait_until([this] { return !running(); }, limit);
    return code_;
  }

  bool wait_for_output(const std::string& text, Clock::duration limit = kRunLimit) {
    return wait_until([&] { return output().find(text) != std::string::npos || !running(); },
                      limit) &&
           output().find(text) != std::string::npos;
  }

  std::string output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
  }

  // For failure messages: the line it was given and the end of what it printed.
  std::string report() const {
    return "\nline: " + line_ + "\ntranscoder output: " + last_part(output());
  }

 private:
  void read_output() {
    char buffer[16 * 1024];
    while (!stop_reading_) {
      pollfd ready{child_.output.get(), POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      const long count = read_available(child_.output.get(), buffer, sizeof buffer);
      if (count == 0) break;
      if (count > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        output_.append(buffer, static_cast<std::size_t>(count));
      }
    }
    reader_done_ = true;
  }

  std::string line_;
  ChildProcess child_;
  std::optional<int> code_;
  std::thread reader_;
  std::atomic<bool> stop_reading_{false};
  std::atomic<bool> reader_done_{false};
  mutable std::mutex mutex_;
  std::string output_;
};

inline std::vector<std::string> ffmpeg_argv(std::vector<std::string> arguments) {
  std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

// A short H.264 and AAC clip (160x120, 10 fps) written to `path`, made on the spot so a channel
// runs from a file and reports figures. ffmpeg's messages go to `messages` + ".out" and ".err",
// never beside the clip: a folder of clips is played as a playlist.
inline bool make_test_clip(const fs::path& path, int seconds, const fs::path& messages) {
  fs::create_directories(path.parent_path());
  Peer ffmpeg(ffmpeg_argv({"-f", "lavfi", "-i",
                           "testsrc=size=160x120:rate=10:duration=" + std::to_string(seconds), "-f",
                           "lavfi", "-i", "sine=duration=" + std::to_string(seconds), "-c:v",
                           "libx264", "-preset", "ultrafast", "-c:a", "aac", "-y", path.string()}),
              messages.string() + ".out", messages.string() + ".err");
  return ffmpeg.wait(60s) == 0;
}

// A live MPEG-TS feed on UDP in real time from the lavfi picture `video` (320x240 at 25 fps is
// expected) with a tone, in h264 and aac, as a camera would send it; it runs until the Peer is
// destroyed.
inline std::unique_ptr<Peer> start_udp_sender(const fs::path& folder, std::uint16_t port,
                                              const std::string& name, const std::string& video) {
  return std::make_unique<Peer>(
      ffmpeg_argv({"-re", "-f", "lavfi", "-i", video, "-f", "lavfi", "-i", "sine=frequency=440",
                   "-c:v", "libx264", "-preset", "ultrafast", "-g", "10", "-c:a", "aac", "-f",
                   "mpegts", "udp://127.0.0.1:" + std::to_string(port) + "?pkt_size=1316"}),
      folder / (name + ".out"), folder / (name + ".err"));
}

// The test pattern as a live feed.
inline std::unique_ptr<Peer> start_live_udp_sender(const fs::path& folder, std::uint16_t port,
                                                   const std::string& name) {
  return start_udp_sender(folder, port, name, "testsrc=size=320x240:rate=25");
}

// ---------------------------------------------------------------------------------------------
// Ports

enum class Transport { tcp, udp };

inline UniqueFd bound_socket(Transport transport, std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET,
                       (transport == Transport::tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return UniqueFd();
  }
  return fd;
}

inline std::uint16_t port_of(const UniqueFd& fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (!fd || ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

inline std::uint16_t free_tcp_port() {
  return port_of(bound_socket(Transport::tcp, 0));
}

// An even UDP port that is free together with the `count` - 1 ports after it (RTP needs the
// next one for RTCP; native RTP sends audio two ports up).
inline std::uint16_t free_udp_ports(int count) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int base = (port_of(bound_socket(Transport::udp, 0)) + 1) & ~1;
    if (base == 0 || base + count > 65536) continue;
    std::vector<UniqueFd> held;
    for (int k = 0; k < count; ++k) {
      UniqueFd fd = bound_socket(Transport::udp, static_cast<std::uint16_t>(base + k));
      if (!fd) break;
      held.push_back(std::move(fd));
    }
    if (static_cast<int>(held.size()) == count) return static_cast<std::uint16_t>(base);
  }
  return 0;
}

// Whether some process listens on the TCP port or has bound the UDP port. Read from /proc, so a
// peer that accepts only one connection is not disturbed by the look.
inline bool port_taken(Transport transport, std::uint16_t port) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ":%04X", port);
  std::istringstream table(
      read_text(transport == Transport::tcp ? "/proc/net/tcp" : "/proc/net/udp"));
  for (std::string row; std::getline(table, row);) {
    std::istringstream fields(row);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    const bool listening = transport == Transport::udp || state == "0A";
    if (local.ends_with(suffix) && listening) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// What ffprobe sees

struct Stream {
  std::string type;
  std::string codec;
  std::string field_order;
  int packets = 0;
};

// ffprobe's "flat" listing of streams with packet counts (the per-program copies of a transport
// stream are listed apart and left out).
inline std::vector<Stream> parse_probe(const std::string& listing) {
  std::vector<Stream> streams;
  std::istringstream lines(listing);
  const std::string prefix = "streams.stream.";
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(prefix)) continue;
    std::size_t end = 0;
    const std::size_t index = std::stoul(line.substr(prefix.size()), &end);
    const std::string entry = line.substr(prefix.size() + end + 1);
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    std::string value = entry.substr(equals + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    if (streams.size() <= index) streams.resize(index + 1);
    const std::string key = entry.substr(0, equals);
    if (key == "codec_type") streams[index].type = value;
    if (key == "codec_name") streams[index].codec = value;
    if (key == "field_order") streams[index].field_order = value;
    if (key == "nb_read_packets") streams[index].packets = std::atoi(value.c_str());
  }
  return streams;
}

// ffprobe listing the streams of `media` with their packet counts; `options` before the input.
inline std::vector<std::string> probe_argv(const std::vector<std::string>& options,
                                           const std::string& media) {
  std::vector<std::string> argv = {
      "ffprobe",       "-v",
      "error",         "-count_packets",
      "-show_entries", "stream=codec_type,codec_name,field_order,nb_read_packets",
      "-of",           "flat"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(media);
  return argv;
}

struct ProbeResult {
  std::vector<Stream> streams;
  std::string error;  // empty when ffprobe ended with 0

  // "audio aac", "video h264", ... sorted, so that stream order does not matter.
  std::vector<std::string> kinds() const {
    std::vector<std::string> names;
    for (const Stream& stream : streams)
      names.push_back(stream.type + " " + stream.codec);
    std::sort(names.begin(), names.end());
    return names;
  }
  int packets(const std::string& type) const {
    int total = 0;
    for (const Stream& stream : streams) {
      if (stream.type == type) total += stream.packets;
    }
    return total;
  }
};

inline ProbeResult probe_finished(Peer& ffprobe) {
  ProbeResult result;
  const std::optional<int> status = ffprobe.wait(kRunLimit);
  result.streams = parse_probe(ffprobe.out());
  if (status != 0) {
    result.error = "ffprobe ended with " + (status ? std::to_string(*status) : "a kill") + "\n" +
                   ffprobe.report();
  }
  return result;
}

// ffprobe reads `media` (a file, or a URL with `options` saying how far) to its end.
inline ProbeResult probe(const fs::path& folder, const std::string& media,
                         const std::vector<std::string>& options = {},
                         const std::string& name = "probe") {
  Peer ffprobe(probe_argv(options, media), folder / (name + ".out"), folder / (name + ".err"));
  return probe_finished(ffprobe);
}

// ffprobe reads a file beside which its listing is kept; a failure is reported to the test.
inline ProbeResult probe_file(const fs::path& media) {
  ProbeResult result = probe(media.parent_path(), media.string(), {}, media.filename().string());
  if (!result.error.empty()) ADD_FAILURE() << result.error;
  return result;
}

}  // namespace vx::testing_support
