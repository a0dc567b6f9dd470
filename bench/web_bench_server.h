// The administration server as the web benches run it: in this process, with 16 configured
// channels, the request log on and the password "bench", in a folder of its own that is removed
// again.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/store.h"
#include "engine/load_monitor.h"
#include "tests/support/http_client.h"
#include "web/server.h"

namespace vx::bench {

inline std::string sixteen_channels(int port) {
  JsonPtr root(cJSON_CreateObject());
  cJSON* global = cJSON_AddObjectToObject(root.get(), "global");
  config_set_int(global, "httpPort", port);
  config_set_int(global, "log", 1);
  config_set_string(global, "loginPass", "bench");
  cJSON* channels = cJSON_AddArrayToObject(root.get(), "channels");
  for (int i = 0; i < kMaxChannels; ++i) {
    JsonPtr channel = channel_template();
    cJSON* source =
        cJSON_GetArrayItem(config_array(config_object(channel.get(), "input"), "sources"), 0);
    config_set_string(source, "url", "udp://239.0.0." + std::to_string(i + 1) + ":1234");
    cJSON_AddItemToArray(channels, channel.release());  // the array owns it from here on
  }
  return *json_print(root.get());
}

class BenchServer {
 public:
  explicit BenchServer(const char* name)
      : folder_(std::filesystem::temp_directory_path() /
                (std::string(name) + "-" + std::to_string(getpid()))),
        port_(20000 + getpid() % 20000) {
    std::filesystem::create_directories(folder_);
    config_set_path((folder_ / "morvi.json").string());
    {
      const CoreLock lock = core_lock();
      config_normalise(sixteen_channels(port_));
    }
    load_monitor_open();
    started_ = web_server_start();
    if (!started_) std::fprintf(stderr, "the server cannot listen on port %d\n", port_);
  }
  ~BenchServer() {
    web_server_stop();
    config_free();
    std::filesystem::remove_all(folder_);
  }
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  bool started() const { return started_; }
  int port() const { return port_; }
  const std::filesystem::path& folder() const { return folder_; }

  // The session cookie ("vx_session=...") the login form's answer sets, "" when there is none.
  std::string log_in() const {
    const testing_support::Reply reply =
        testing_support::http_post(static_cast<std::uint16_t>(port_), "/login", "auth=bench",
                                   "Content-Type: application/x-www-form-urlencoded\r\n");
    const std::string set = reply.header("Set-Cookie");
    return set.substr(0, set.find(';'));
  }

 private:
  std::filesystem::path folder_;
  int port_;
  bool started_ = false;
};

}  // namespace vx::bench
