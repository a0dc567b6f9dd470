// What running ffmpeg through morvi-transcoder costs: the same 720p libx264 transcode run directly
// and through the transcoder (token line on its standard input), alternating, and the medians of
// the processor time of the whole process tree and of the wall time compared. The target is a
// ratio of at most 1.02. Usage: vx_bench_transcoder_overhead [runs=5] [seconds=20]
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/process.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTarget = 1.02;

struct RunCost {
  double cpu_seconds = 0;   // user + system of the child and every descendant it reaped
  double wall_seconds = 0;  // from the start to the reaped end
  int status = -1;
};

double seconds_of(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Starts argv, sends `input` (may be empty) on its standard input, reads its output away until
// it closes, and reaps it with wait4 for the tree's processor time.
RunCost run_measured(const std::vector<std::string>& argv, const std::string& input) {
  RunCost cost;
  const auto start = Clock::now();
  ChildProcess child;
  if (spawn_child(argv, child) != SpawnResult::started) return cost;
  std::size_t sent = 0;
  while (sent < input.size()) {
    const ssize_t count = ::write(child.input.get(), input.data() + sent, input.size() - sent);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
    } else {
      pollfd writable{child.input.get(), POLLOUT, 0};
      ::poll(&writable, 1, 10);
    }
  }
  child.input.reset();
  char buffer[16 * 1024];
  for (;;) {
    pollfd readable{child.output.get(), POLLIN, 0};
    ::poll(&readable, 1, 1000);
    const long count = read_available(child.output.get(), buffer, sizeof buffer);
    if (count == 0) break;
  }
  int status = 0;
  rusage usage{};
  if (::wait4(child.pid, &status, 0, &usage) != child.pid) return cost;
  cost.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  cost.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
  cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : 0x80 + WTERMSIG(status);
  return cost;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int run_benchmark(int runs, int seconds) {
  const char* configured = std::getenv("MORVI_FFMPEG");
  const std::string ffmpeg = configured != nullptr && *configured != '\0' ? configured : "ffmpeg";
  const std::string transcoder = module_folder() + "/" + std::string(kTranscoderFileName);
  const std::string duration = std::to_string(seconds);
  // The arguments after "-hide_banner -nostdin", which the transcoder adds itself.
  const std::vector<std::string> arguments = {
      "-f",        "lavfi",    "-i",   "testsrc=size=1280x720:rate=25",
      "-f",        "lavfi",    "-i",   "sine=frequency=440",
      "-t",        duration,   "-c:v", "libx264",
      "-preset:v", "veryfast", "-c:a", "aac",
      "-f",        "null",     "-"};
  std::vector<std::string> direct = {ffmpeg, "-hide_banner", "-nostdin"};
  direct.insert(direct.end(), arguments.begin(), arguments.end());
  std::string line(kTranscoderToken);
  for (const std::string& argument : arguments)
    line += " " + argument;
  line += "\n";

  std::printf(
      "%d s of 1280x720 at 25 fps, libx264 veryfast + aac to the null muxer; %d runs each\n",
      seconds, runs);
  std::printf("%-6s %-12s %10s %10s\n", "run", "how", "cpu s", "wall s");
  std::vector<double> cpu[2], wall[2];
  for (int run = 0; run < runs; ++run) {
    for (int through = 0; through < 2; ++through) {
      const RunCost cost =
          through == 0 ? run_measured(direct, "") : run_measured({transcoder}, line);
      if (cost.status != 0) {
        std::fprintf(stderr, "%s run %d ended with status %d\n",
                     through == 0 ? "direct" : "transcoder", run + 1, cost.status);
        return 1;
      }
      cpu[through].push_back(cost.cpu_seconds);
      wall[through].push_back(cost.wall_seconds);
      std::printf("%-6d %-12s %10.3f %10.3f\n", run + 1, through == 0 ? "direct" : "transcoder",
                  cost.cpu_seconds, cost.wall_seconds);
      std::fflush(stdout);
    }
  }
  const double cpu_ratio = median(cpu[1]) / median(cpu[0]);
  const double wall_ratio = median(wall[1]) / median(wall[0]);
  std::printf("median cpu  s: direct %.3f, through the transcoder %.3f, ratio %.4f\n",
              median(cpu[0]), median(cpu[1]), cpu_ratio);
  std::printf("median wall s: direct %.3f, through the transcoder %.3f, ratio %.4f\n",
              median(wall[0]), median(wall[1]), wall_ratio);
  std::printf("target <= %.2f: cpu %s, wall %s\n", kTarget, cpu_ratio <= kTarget ? "met" : "MISSED",
              wall_ratio <= kTarget ? "met" : "MISSED");
  return 0;
}

}  // namespace
}  // namespace vx

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
  if (runs < 1 || seconds < 1) {
    std::fprintf(stderr, "usage: %s [runs=5] [seconds=20]\n", argv[0]);
    return 2;
  }
  return vx::run_benchmark(runs, seconds);
}
