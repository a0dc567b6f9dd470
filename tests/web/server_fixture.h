// The administration server over real HTTP on 127.0.0.1 for the server tests: a document of
// test channels (their stand-in transcoder ignores SIGINT and hangs), the server started on a free
// port with recorded notifications and channel commands handed to a supervisor, and the request
// texts the tests share.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/supervisor.h"
#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/login_password.h"
#include "config/store.h"
#include "engine/engine.h"
#include "tests/support/http_client.h"
#include "tests/support/peers.h"
#include "vocabulary/transcoder_protocol.h"
#include "web/server.h"
#include "web/sessions.h"

namespace vx::testing_support {

class RecordingEvents : public WebServerEvents {
 public:
  void configuration_saved() override { ++commits; }
  void reload_channels() override { ++reloads; }
  // Restarts for real when asked to, on a thread of its own as the program's loop does, and
  // before the server's thread goes on: the loop may well be quicker than it.
  // The thread is in place before the count says so: a test that saw the count may join it.
  void restart_web_server() override {
    if (restart_for_real) restarter = std::thread([] { web_server_restart(); });
    ++restarts;
    if (restart_for_real) std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  std::atomic<int> commits{0}, reloads{0}, restarts{0};
  bool restart_for_real = false;
  std::thread restarter;
};

// A channel that passes the validity rules; its stand-in transcoder ignores SIGINT and runs
// until it is killed. The script rides in the input format options, which the preview keeps too.
inline JsonPtr test_channel(const std::string& target_format = "udp",
                            const std::string& target_url = "udp://127.0.0.1:1234") {
  JsonPtr channel = channel_template();
  cJSON* source =
      cJSON_GetArrayItem(config_array(config_object(channel.get(), "input"), "sources"), 0);
  config_set_string(source, "url", "/media/clip.mp4");
  cJSON* format_options = config_array(config_object(channel.get(), "input"), "formatOptions");
  cJSON_AddItemToArray(format_options, cJSON_CreateString("\"--script=ignore-int|hang\""));
  cJSON* target =
      cJSON_GetArrayItem(config_array(config_object(channel.get(), "output"), "targets"), 0);
  config_set_string(target, "format", target_format);
  config_set_string(target, "url", target_url);
  return channel;
}

inline std::string document_text(std::uint16_t port, int channel_count,
                                 const std::string& password = {}) {
  JsonPtr root(cJSON_CreateObject());
  cJSON* global = cJSON_AddObjectToObject(root.get(), "global");
  config_set_int(global, "httpPort", port);
  config_set_int(global, "log", 1);
  if (!password.empty()) config_set_string(global, "loginPass", password);
  cJSON* channels = cJSON_AddArrayToObject(root.get(), "channels");
  for (int i = 0; i < channel_count; ++i)
    cJSON_AddItemToArray(channels, test_channel().release());
  return *json_print(root.get());
}

// Channel actions reach the supervisor as the program's loop would hand them over, here on the
// server's thread.
class SupervisorCommands : public ChannelCommands {
 public:
  int run_channel_command(ChannelCommand command, int index) override {
    supervisor.rebuild_rows(false);  // the rows follow the document the test installed
    return supervisor.run_channel_command(command, index);
  }
  SupervisorView view;
  Supervisor supervisor{view, {[] { config_save(); }, {}}};
};

class WebServer : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fresh_test_folder("vx-web");
    config_set_path((folder_ / "morvi.json").string());
    port_ = free_tcp_port();
    install(document_text(port_, 3));
    web_server_configure({&events_, &commands_, folder_.string(), VX_FAKE_NDI, nullptr});
    ASSERT_TRUE(web_server_start()) << web_server_problem().text;
  }

  void TearDown() override {
    if (events_.restarter.joinable()) events_.restarter.join();
    web_server_stop();
    engine_shutdown();
    config_free();
    fs::remove_all(folder_);
  }

  void install(const std::string& text) {
    const CoreLock lock = core_lock();
    ASSERT_NE(config_normalise(text), nullptr) << text;
    ASSERT_EQ(config_save(), 0);
  }

  template <typename Change>
  void change_global(Change change) {
    const CoreLock lock = core_lock();
    change(config_object(config_document(), "global"));
  }

  // The engine, with the stand-in transcoder in place of morvi-transcoder; false when it would
  // not start.
  bool start_engine_with_stand_in() {
    const fs::path bin = folder_ / "bin";
    fs::create_directories(bin);
    fs::create_symlink(fs::path(module_folder()) / "vx_fake_transcoder",
                       bin / std::string(kTranscoderFileName));
    EngineSettings settings;
    settings.transcoder_folder = bin.string();
    return engine_init(settings) == 0;
  }

  cJSON* channel(int index) {
    return cJSON_GetArrayItem(config_array(config_document(), "channels"), index);
  }

  std::string log_text() const { return read_text(folder_ / "morvi_cgi.log"); }
  std::string file_text() const { return read_text(folder_ / "morvi.json"); }
  // The file as the web hands it out: the password's hash replaced by its placeholder.
  std::string public_text() const {
    JsonPtr stored = json_parse(file_text());
    return json_print(config_public_copy(stored.get()).get()).value_or("");
  }

  // A self-signed certificate and its key in cert.pem and key.pem, and a certificate file that
  // is none in garbage.pem; false when openssl failed.
  bool make_tls_files() {
    Peer openssl({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                  "/CN=127.0.0.1", "-days", "1", "-keyout", (folder_ / "key.pem").string(), "-out",
                  (folder_ / "cert.pem").string()},
                 folder_ / "openssl.out", folder_ / "openssl.err");
    std::ofstream(folder_ / "garbage.pem") << "-----BEGIN CERTIFICATE-----\nnot one\n";
    return openssl.wait(60s) == 0;
  }

  fs::path folder_;
  std::uint16_t port_ = 0;
  RecordingEvents events_;
  SupervisorCommands commands_;
};

inline std::string cookie(const std::string& value) {
  return "Cookie: " + value + "\r\n";
}

inline const std::string kForm = "Content-Type: application/x-www-form-urlencoded\r\n";

// The "name=value" of the session cookie a login answer sets; "" when it sets none.
inline std::string session_of(const Reply& reply) {
  const std::string set = reply.header("Set-Cookie");
  if (!set.starts_with(std::string(kSessionCookieName) + "=")) return "";
  return set.substr(0, set.find(';'));
}

}  // namespace vx::testing_support
