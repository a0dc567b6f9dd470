// The administration server under the browser client's most frequent request: wrk against
// "/status" with 16 configured channels, CONNECTIONS keep-alive connections for SECONDS seconds,
// as the logged-in page sends it (a session cookie from the login form) or as a script does (the
// password as a bearer token, checked against the hash once and then found in the cache).
// Prints wrk's report (requests per second and the latency distribution with its 99th
// percentile). wrk must be on PATH (Debian package wrk).
//
//   vx_bench_web_status [CONNECTIONS=50] [SECONDS=20] [session|bearer]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/store.h"
#include "engine/load_monitor.h"
#include "tests/support/http_client.h"
#include "web/server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string sixteen_channels(int port) {
  vx::JsonPtr root(cJSON_CreateObject());
  cJSON* global = cJSON_AddObjectToObject(root.get(), "global");
  vx::config_set_int(global, "httpPort", port);
  vx::config_set_int(global, "log", 1);
  vx::config_set_string(global, "loginPass", "bench");
  cJSON* channels = cJSON_AddArrayToObject(root.get(), "channels");
  for (int i = 0; i < vx::kMaxChannels; ++i) {
    vx::JsonPtr channel = vx::channel_template();
    cJSON* source = cJSON_GetArrayItem(
        vx::config_array(vx::config_object(channel.get(), "input"), "sources"), 0);
    vx::config_set_string(source, "url", "udp://239.0.0." + std::to_string(i + 1) + ":1234");
    cJSON_AddItemToArray(channels, channel.release());  // the array owns it from here on
  }
  return *vx::json_print(root.get());
}

// The session cookie the login form's answer sets, "" when there is none.
std::string log_in(int port) {
  const vx::testing_support::Reply reply =
      vx::testing_support::http_post(static_cast<std::uint16_t>(port), "/login", "auth=bench",
                                     "Content-Type: application/x-www-form-urlencoded\r\n");
  const std::string set = reply.header("Set-Cookie");
  return set.substr(0, set.find(';'));
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
  const fs::path folder = fs::temp_directory_path() / ("vx-bench-web-" + std::to_string(getpid()));
  fs::create_directories(folder);
  vx::config_set_path((folder / "morvi.json").string());
  const int port = 20000 + getpid() % 20000;
  {
    const vx::CoreLock lock = vx::core_lock();
    vx::config_normalise(sixteen_channels(port));
  }
  vx::load_monitor_open();
  if (!vx::web_server_start()) {
    std::fprintf(stderr, "the server cannot listen on port %d\n", port);
    return 1;
  }
  std::string credentials = "Authorization: Bearer bench";
  if (!bearer) {
    const std::string session = log_in(port);
    if (session.empty()) {
      std::fprintf(stderr, "the login form gave no session\n");
      return 1;
    }
    credentials = "Cookie: " + session;
  }
  std::printf("/status with %d channels, %s connections, %s s, %s\n", vx::kMaxChannels,
              connections.c_str(), seconds.c_str(), bearer ? "bearer token" : "session cookie");
  std::fflush(stdout);
  const int result = run_wrk(port, connections, seconds, credentials);
  vx::web_server_stop();
  vx::config_free();
  fs::remove_all(folder);
  return result;
}
