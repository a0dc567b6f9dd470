// The administration server under the browser client's most frequent request: wrk against
// "/status" with 16 configured channels, CONNECTIONS keep-alive connections for SECONDS seconds,
// as the logged-in page sends it (a session cookie from the login form) or as a script does (the
// password as a bearer token, checked against the hash once and then found in the cache).
// Prints wrk's report (requests per second and the latency distribution with its 99th
// percentile) and the server's processor time meanwhile. wrk must be on PATH (Debian package wrk).
//
//   vx_bench_web_status [CONNECTIONS=50] [SECONDS=20] [session|bearer]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/web_bench_server.h"

extern char** environ;

namespace {

// This process's processor time (every thread, wrk not included).
double processor_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int run_wrk(int port, const std::string& connections, const std::string& seconds,
            const std::string& credentials) {
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/status";
  std::vector<std::string> argv = {"wrk",       "-t2", "-c" + connections, "-d" + seconds + "s",
                                   "--latency", "-H",  credentials,        url};
  std::vector<char*> args;
  for (std::string& arg : argv)
    args.push_back(arg.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "wrk", nullptr, nullptr, args.data(), environ) != 0) {
    std::fprintf(stderr, "wrk cannot be started; install the Debian package wrk\n");
    return 1;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string connections = argc > 1 ? argv[1] : "50";
  const std::string seconds = argc > 2 ? argv[2] : "20";
  const bool bearer = argc > 3 && std::string(argv[3]) == "bearer";
  const vx::bench::BenchServer server("vx-bench-web");
  if (!server.started()) return 1;
  std::string credentials = "Authorization: Bearer bench";
  if (!bearer) {
    const std::string session = server.log_in();
    if (session.empty()) {
      std::fprintf(stderr, "the login form gave no session\n");
      return 1;
    }
    credentials = "Cookie: " + session;
  }
  std::printf("/status with %d channels, %s connections, %s s, %s\n", vx::kMaxChannels,
              connections.c_str(), seconds.c_str(), bearer ? "bearer token" : "session cookie");
  std::fflush(stdout);
  const double before = processor_seconds();
  const int result = run_wrk(server.port(), connections, seconds, credentials);
  // wrk shares the machine: its requests per second depend on how the cores are shared out, the
  // server's own processor time does not.
  std::printf("server processor time: %.2f s\n", processor_seconds() - before);
  return result;
}
