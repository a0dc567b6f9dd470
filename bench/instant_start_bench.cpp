// How soon a viewer who joins a live output between two key frames sees its first picture. ffmpeg
// encodes SIZE at 25 fps with a key frame every 10 s into MPEG-TS and into fragmented MP4 as the
// engine composes the HTML5 output (half-second fragments and one at every key frame); the
// fan-out serves it on 127.0.0.1 once with instant start off (a viewer waits for the next packet
// boundary, or the next fragment that opens with a key frame) and once starting viewers at the
// latest key frame. JOINS viewers join at moments spread over the second
// key-frame interval; each is ffmpeg decoding one picture with its probing cut short as a player
// would, timed from its start to its end (so ffmpeg's own start-up of some 50 ms is included); one
// that ends with an error decoded no picture before the stream ended.
// Also prints what instant start holds besides the shared ring.
//
//   vx_bench_instant_start [JOINS=4] [SIZE=640x360]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "transcoder/http_fanout.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kFirstJoin = 11.0;  // in the second key-frame interval
constexpr double kSeconds = 22.0;

// Starts `argv` from PATH with standard output into `output_fd` (or /dev/null) and no messages.
pid_t spawn(const std::vector<std::string>& argv, int output_fd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, output_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

struct Viewer {
  pid_t pid = -1;
  Clock::time_point started;
  double seconds = -1;  // until it ended; -1 while running
  bool failed = false;  // ended with an error (no picture decoded)
};

// Reaps a viewer that has ended; true once it has.
bool reap(Viewer& viewer) {
  if (viewer.pid <= 0) return true;
  int status = 0;
  if (::waitpid(viewer.pid, &status, WNOHANG) != viewer.pid) return false;
  viewer.pid = -1;
  viewer.failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  viewer.seconds = std::chrono::duration<double>(Clock::now() - viewer.started).count();
  return true;
}

struct Result {
  std::vector<Viewer> viewers;
  std::size_t instant_start_bytes = 0;
  std::uint64_t started_at_key_frame = 0;
};

Result run(vx::StreamKind kind, bool instant, int joins, const std::string& size) {
  Result result;
  std::string error;
  vx::FanoutConfig config{.host = "127.0.0.1", .kind = kind};
  if (!instant) config.instant_start_limit = 0;
  auto fanout = vx::HttpFanout::start(config, error);
  if (!fanout) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return result;
  }
  std::vector<std::string> encoder = {
      "ffmpeg",   "-re",     "-f",
      "lavfi",    "-i",      "testsrc=size=" + size + ":rate=25",
      "-f",       "lavfi",   "-i",
      "sine",     "-t",      std::to_string(static_cast<int>(kSeconds)),
      "-c:v",     "libx264", "-preset",
      "veryfast", "-g",      "250",
      "-pix_fmt", "yuv420p", "-c:a",
      "aac"};
  if (kind == vx::StreamKind::mpegts) {
    encoder.insert(encoder.end(), {"-f", "mpegts", "pipe:1"});
  } else {
    encoder.insert(encoder.end(), {"-movflags", "dash+frag_keyframe", "-frag_duration", "500000",
                                   "-f", "mp4", "pipe:1"});
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return result;
  const vx::UniqueFd output(ends[0]);  // owns the read end; the write end goes to ffmpeg
  const pid_t producer = spawn(encoder, ends[1]);
  ::close(ends[1]);

  const std::string address = "http://127.0.0.1:" + std::to_string(fanout->port()) + "/live";
  std::vector<Viewer> viewers;
  const double spacing = 9.0 / joins;  // spread over the second key-frame interval
  const auto start = Clock::now();
  std::vector<char> buffer(64 * 1024);
  while (true) {
    pollfd ready{output.get(), POLLIN, 0};
    if (::poll(&ready, 1, 5) > 0) {
      const ssize_t count = ::read(output.get(), buffer.data(), buffer.size());
      if (count <= 0) break;
      fanout->feed(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
    }
    const double now = std::chrono::duration<double>(Clock::now() - start).count();
    if (static_cast<int>(viewers.size()) < joins &&
        now >= kFirstJoin + spacing * static_cast<double>(viewers.size())) {
      Viewer viewer;
      viewer.started = Clock::now();
      viewer.pid = spawn({"ffmpeg", "-probesize", "32", "-analyzeduration", "0", "-i", address,
                          "-an", "-frames:v", "1", "-f", "null", "-"});
      viewers.push_back(viewer);
    }
    for (Viewer& viewer : viewers)
      reap(viewer);
  }
  fanout->finish();
  const auto deadline = Clock::now() + 10s;
  for (Viewer& viewer : viewers) {
    while (!reap(viewer) && Clock::now() < deadline)
      std::this_thread::sleep_for(5ms);
    if (viewer.pid > 0) {
      ::kill(viewer.pid, SIGKILL);
      ::waitpid(viewer.pid, nullptr, 0);
    }
    result.viewers.push_back(viewer);
  }
  ::waitpid(producer, nullptr, 0);
  const vx::FanoutStatistics statistics = fanout->statistics();
  result.instant_start_bytes = statistics.instant_start_bytes;
  result.started_at_key_frame = statistics.viewers_started_at_key_frame;
  return result;
}

void print(const char* name, const char* mode, const Result& result) {
  std::printf("%-8s %-7s first picture after", name, mode);
  double worst = 0;
  for (const Viewer& viewer : result.viewers) {
    std::printf(" %6.3f%s", viewer.seconds, viewer.failed ? " (no picture, error)" : "");
    worst = std::max(worst, viewer.seconds);
  }
  std::printf(" s (worst %.3f s); started at a key frame: %llu; held besides the ring: %zu bytes\n",
              worst, static_cast<unsigned long long>(result.started_at_key_frame),
              result.instant_start_bytes);
}

}  // namespace

int main(int argc, char** argv) {
  const int joins = argc > 1 ? std::atoi(argv[1]) : 4;
  const std::string size = argc > 2 ? argv[2] : "640x360";
  if (joins <= 0 || joins > 20) {
    std::fprintf(stderr, "usage: %s [JOINS=4] [SIZE=640x360]\n", argv[0]);
    return 2;
  }
  std::printf("%s at 25 fps, a key frame every 10 s; %d viewers join between 11 and 20 s\n",
              size.c_str(), joins);
  for (const auto& [kind, name] : {std::pair{vx::StreamKind::mpegts, "MPEG-TS"},
                                   std::pair{vx::StreamKind::fragmented_mp4, "HTML5"}}) {
    print(name, "before", run(kind, false, joins, size));
    print(name, "after", run(kind, true, joins, size));
  }
  return 0;
}
