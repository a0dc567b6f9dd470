// The global settings record: what it shows for a "global" object, the check box interplay, and
// what OK stores, refuses and triggers.
#include "settings/global_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/document.h"
#include "config/json.h"
#include "config/login_password.h"
#include "config/store.h"

namespace vx {
namespace {

struct RecordedActions : GlobalSettingsActions {
  std::vector<std::string> errors;
  std::vector<std::string> checked;  // "rules|tls|cert|key" of every web settings check
  std::string problem;               // what the web server says of them
  int commits = 0;
  int engine_calls = 0;
  std::int32_t log_level = -1;
  std::string plugin_core;
  std::string cookies;

  void error(std::string_view caption, std::string_view text) override {
    errors.push_back(std::string(caption) + ": " + std::string(text));
  }
  void commit_configuration() override { ++commits; }
  std::string web_settings_problem(std::string_view rules, bool check_tls, const std::string& cert,
                                   const std::string& key) override {
    checked.push_back(std::string(rules) + "|" + (check_tls ? "tls" : "-") + "|" + cert + "|" +
                      key);
    return problem;
  }
  void engine_set_options(const cJSON* global) override {
    ++engine_calls;
    log_level = config_int(global, "log");
    plugin_core = config_string(global, "omxPath");
    cookies = config_string(global, "ytdlpPath");
  }
};

JsonPtr parse(const char* text) {
  JsonPtr root = json_parse(text);
  EXPECT_NE(root, nullptr) << text;
  return root;
}

const cJSON* global_of(const JsonPtr& document) {
  return config_object(document.get(), "global");
}

TEST(GlobalSettingsLoad, ShowsEachKey) {
  JsonPtr document = parse(R"({"global": {
      "httpPort": "8080x", "sslEnable": true, "sslCert": "/c.pem", "sslKey": "/k.pem",
      "loginPass": "pw", "ipACL": "allow 10.0.0.0/8\r\ndeny all", "log": 1, "autoRun": 1,
      "autoRestart": 5, "altInput": "/alt.mp4", "folderRecur": true, "folderShuffle": false,
      "omxPath": "/omx.so", "ytdlpPath": "/cookies.txt", "viewersPerAddress": 40}})");
  const GlobalSettings settings = load_global_settings(global_of(document));
  EXPECT_EQ(settings.http_port, 8080) << "a text is read by its leading digits";
  EXPECT_TRUE(settings.tls_enabled);
  EXPECT_EQ(settings.tls_cert, "/c.pem");
  EXPECT_EQ(settings.tls_key, "/k.pem");
  EXPECT_EQ(settings.login_password, kStoredPasswordPlaceholder) << "the password is never shown";
  EXPECT_EQ(settings.ip_acl, "allow 10.0.0.0/8\ndeny all");
  EXPECT_TRUE(settings.debug_log) << "any positive level shows the box ticked";
  EXPECT_FALSE(settings.auto_run) << "only a JSON true ticks a bool";
  EXPECT_EQ(settings.auto_restart_seconds, 5);
  EXPECT_TRUE(auto_restart_ticked(settings));
  EXPECT_TRUE(settings.continuous_streaming);
  EXPECT_EQ(settings.alternate_input, "/alt.mp4");
  EXPECT_TRUE(settings.folder_recursive);
  EXPECT_FALSE(settings.folder_shuffle);
  EXPECT_EQ(settings.plugin_core_path, "/omx.so");
  EXPECT_EQ(settings.cookies_path, "/cookies.txt");
  EXPECT_EQ(settings.viewers_per_address, 40);
}

TEST(GlobalSettingsLoad, EdgeValues) {
  struct Case {
    const char* global;
    bool tls;
    const char* acl;
    bool continuous;
    const char* alternate;
    std::int32_t restart;
    std::int32_t viewers = 300;
  };
  const Case cases[] = {
      {R"({})", false, "allow all", false, "", 0},
      {R"({"ipACL": "", "autoRestart": 0, "viewersPerAddress": 0})", false, "allow all", false, "",
       0},
      {R"({"sslEnable": true, "sslCert": "/c.pem", "viewersPerAddress": 100001})", false,
       "allow all", false, "", 0},
      {R"({"altInput": "DeFault", "viewersPerAddress": "12"})", false, "allow all", true, "", 0,
       12},
      {R"({"altInput": "default.mp4", "autoRestart": 99999, "viewersPerAddress": 100000})", false,
       "allow all", true, "default.mp4", 32767, 100000},
      {R"({"autoRestart": -4, "ipACL": 7, "viewersPerAddress": -1})", false, "allow all", false, "",
       0},
  };
  for (const Case& c : cases) {
    JsonPtr global = parse(c.global);
    const GlobalSettings settings = load_global_settings(global.get());
    EXPECT_EQ(settings.tls_enabled, c.tls) << c.global;
    EXPECT_EQ(settings.ip_acl, c.acl) << c.global;
    EXPECT_EQ(settings.continuous_streaming, c.continuous) << c.global;
    EXPECT_EQ(alternate_input_enabled(settings), c.continuous) << c.global;
    EXPECT_EQ(settings.alternate_input, c.alternate) << c.global;
    EXPECT_EQ(settings.auto_restart_seconds, c.restart) << c.global;
    EXPECT_EQ(settings.viewers_per_address, c.viewers) << c.global;
  }
  EXPECT_EQ(load_global_settings(nullptr).ip_acl, "allow all");
}

TEST(GlobalSettingsControls, AutoRestartAndContinuousStreaming) {
  GlobalSettings settings;
  EXPECT_FALSE(auto_restart_ticked(settings));
  set_auto_restart_ticked(settings, true);
  EXPECT_EQ(settings.auto_restart_seconds, 1) << "ticking at 0 seconds starts at 1";
  set_auto_restart_seconds(settings, 30);
  set_auto_restart_ticked(settings, true);
  EXPECT_EQ(settings.auto_restart_seconds, 30) << "ticking again keeps a positive delay";
  set_auto_restart_ticked(settings, false);
  EXPECT_EQ(settings.auto_restart_seconds, 0);
  set_auto_restart_seconds(settings, 40000);
  EXPECT_EQ(settings.auto_restart_seconds, 32767);
  set_auto_restart_seconds(settings, -3);
  EXPECT_FALSE(auto_restart_ticked(settings));

  settings.continuous_streaming = true;
  settings.alternate_input = "/alt.png";
  set_continuous_streaming(settings, false);
  EXPECT_FALSE(alternate_input_enabled(settings));
  EXPECT_EQ(settings.alternate_input, "") << "clearing the box empties the file";
}

TEST(GlobalSettingsOk, StoresEveryKeyAndCallsBothActions) {
  JsonPtr document = parse(R"({"global": {"httpPort": 80, "ipACL": "", "log": 0}, "x": 1})");
  GlobalSettings settings = load_global_settings(global_of(document));
  settings.debug_log = true;
  settings.auto_run = true;
  set_auto_restart_ticked(settings, true);
  settings.folder_shuffle = true;
  settings.plugin_core_path = "/opt/omx.so";
  settings.cookies_path = "/home/c.txt";
  settings.viewers_per_address = 25;
  set_continuous_streaming(settings, true);
  RecordedActions actions;
  const GlobalSettingsResult result = global_settings_ok(settings, document.get(), actions);
  EXPECT_TRUE(result.accepted);
  const cJSON* global = global_of(document);
  EXPECT_STREQ(config_string(global, "ipACL"), "allow all");
  EXPECT_EQ(config_int(global, "log"), 32) << "the debug box stores 32, not 1";
  EXPECT_TRUE(config_bool(global, "autoRun"));
  EXPECT_EQ(config_int(global, "autoRestart"), 1);
  EXPECT_STREQ(config_string(global, "altInput"), "default") << "an empty file box stores default";
  EXPECT_TRUE(config_bool(global, "folderShuffle"));
  EXPECT_FALSE(config_bool(global, "folderRecur"));
  EXPECT_EQ(config_int(global, "viewersPerAddress"), 25);
  EXPECT_EQ(actions.commits, 1);
  EXPECT_EQ(actions.engine_calls, 1);
  EXPECT_EQ(actions.log_level, 32);
  EXPECT_EQ(actions.plugin_core, "/opt/omx.so");
  EXPECT_EQ(actions.cookies, "/home/c.txt");
  EXPECT_TRUE(actions.errors.empty());

  settings.debug_log = false;
  set_continuous_streaming(settings, false);
  global_settings_ok(settings, document.get(), actions);
  EXPECT_EQ(config_int(global, "log"), 0);
  EXPECT_EQ(actions.log_level, 0);
  EXPECT_STREQ(config_string(global, "altInput"), "");
}

TEST(GlobalSettingsOk, DefaultAlternateInputAndAclLinesSurviveARoundTrip) {
  JsonPtr document = parse(R"({"global": {"altInput": "default"}})");
  GlobalSettings settings = load_global_settings(global_of(document));
  EXPECT_TRUE(settings.continuous_streaming);
  EXPECT_EQ(settings.alternate_input, "");
  settings.ip_acl = "allow 192.168.0.0/16\r\nallow 10.1.2.3\r\ndeny all";  // typed on three lines
  RecordedActions actions;
  ASSERT_TRUE(global_settings_ok(settings, document.get(), actions).accepted);
  const cJSON* global = global_of(document);
  EXPECT_STREQ(config_string(global, "altInput"), "default");
  EXPECT_STREQ(config_string(global, "ipACL"), "allow 192.168.0.0/16\nallow 10.1.2.3\ndeny all");
  EXPECT_EQ(load_global_settings(global).ip_acl, "allow 192.168.0.0/16\nallow 10.1.2.3\ndeny all");
}

TEST(GlobalSettingsOk, NonAsciiTextsAndByteLimits) {
  JsonPtr document = parse(R"({"global": {"ipACL": "allow 1.2.3.4 # Zürich"}})");
  GlobalSettings settings = load_global_settings(global_of(document));
  settings.login_password = "Pässwörd€";
  RecordedActions actions;
  ASSERT_TRUE(global_settings_ok(settings, document.get(), actions).accepted);
  const cJSON* global = global_of(document);
  EXPECT_TRUE(login_password_matches(config_login_hash(global), "Pässwörd€"));
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(global, "loginPass"), nullptr) << "never in clear";
  EXPECT_STREQ(config_string(global, "ipACL"), "allow 1.2.3.4 # Zürich");

  // 998 ASCII bytes and a two-byte letter: 1000 bytes, cut before the letter, never inside it.
  settings.login_password = std::string(998, 'a') + "\xc3\xa4";
  settings.tls_cert = std::string(258, 'c') + "\xe2\x82\xac";
  settings.tls_key = "/k.pem";
  settings.tls_enabled = true;
  ASSERT_TRUE(global_settings_ok(settings, document.get(), actions).accepted);
  EXPECT_TRUE(login_password_matches(config_login_hash(global), std::string(998, 'a')));
  EXPECT_EQ(std::string(config_string(global, "sslCert")), std::string(258, 'c'));
  EXPECT_TRUE(config_bool(global, "sslEnable"));
}

TEST(GlobalSettingsOk, PortOutsideItsRangeStoresNothing) {
  for (const std::int64_t port :
       {std::int64_t{65536}, std::int64_t{-1}, std::int64_t{99999999999}}) {
    JsonPtr document = parse(R"({"global": {"httpPort": 80, "loginPass": "old"}})");
    GlobalSettings settings = load_global_settings(global_of(document));
    settings.http_port = port;
    settings.login_password = "new";
    RecordedActions actions;
    const GlobalSettingsResult result = global_settings_ok(settings, document.get(), actions);
    EXPECT_FALSE(result.accepted) << port;
    EXPECT_FALSE(result.restart_web_server) << port;
    EXPECT_EQ(actions.errors,
              std::vector<std::string>{"Port Error: Please enter port number between 0 and 65535"});
    EXPECT_EQ(actions.commits, 0);
    EXPECT_EQ(actions.engine_calls, 0);
    EXPECT_STREQ(config_string(global_of(document), "loginPass"), "old");
  }
  for (const std::int64_t port : {std::int64_t{0}, std::int64_t{65535}}) {
    JsonPtr document = parse(R"({"global": {}})");
    GlobalSettings settings;
    settings.http_port = port;
    RecordedActions actions;
    EXPECT_TRUE(global_settings_ok(settings, document.get(), actions).accepted) << port;
    EXPECT_EQ(config_int(global_of(document), "httpPort"), port);
  }
}

TEST(GlobalSettingsOk, WebServerRestartsOnlyWhenItsPartChanges) {
  const char* stored =
      R"({"global": {"httpPort": 8080, "sslEnable": true, "sslCert": "/c", "sslKey": "/k",
          "loginPass": "a"}})";
  struct Case {
    const char* what;
    void (*change)(GlobalSettings&);
    bool restart;
  };
  const Case cases[] = {
      {"nothing", [](GlobalSettings&) {}, false},
      {"password", [](GlobalSettings& s) { s.login_password = "b"; }, false},
      {"rules", [](GlobalSettings& s) { s.ip_acl = "deny all"; }, false},
      {"port", [](GlobalSettings& s) { s.http_port = 8081; }, true},
      {"tls off", [](GlobalSettings& s) { s.tls_enabled = false; }, true},
      {"key emptied", [](GlobalSettings& s) { s.tls_key.clear(); }, true},
      {"certificate", [](GlobalSettings& s) { s.tls_cert = "/c2"; }, true},
  };
  for (const Case& c : cases) {
    JsonPtr document = parse(stored);
    GlobalSettings settings = load_global_settings(global_of(document));
    c.change(settings);
    RecordedActions actions;
    const GlobalSettingsResult result = global_settings_ok(settings, document.get(), actions);
    EXPECT_TRUE(result.accepted) << c.what;
    EXPECT_EQ(result.restart_web_server, c.restart) << c.what;
    EXPECT_EQ(actions.commits, 1) << c.what << ": the file is written either way";
    const GlobalSettings again = load_global_settings(global_of(document));
    EXPECT_EQ(again.http_port, settings.http_port) << c.what;
    EXPECT_EQ(again.login_password, kStoredPasswordPlaceholder) << c.what;
    EXPECT_EQ(login_password_matches(config_login_hash(global_of(document)), "b"),
              settings.login_password == "b")
        << c.what;
    // The server checks the rules every time, the TLS files only when TLS is on and its part
    // changed.
    ASSERT_EQ(actions.checked.size(), 1u) << c.what;
    EXPECT_EQ(actions.checked[0].find("|tls|") != std::string::npos,
              c.restart && settings.tls_enabled && !settings.tls_key.empty())
        << c.what << ": " << actions.checked[0];
  }

  JsonPtr document = parse(stored);
  GlobalSettings settings = load_global_settings(global_of(document));
  settings.tls_key.clear();
  RecordedActions actions;
  global_settings_ok(settings, document.get(), actions);
  EXPECT_FALSE(config_bool(global_of(document), "sslEnable")) << "TLS without a key is off";
}

TEST(GlobalSettingsOk, MissingOrBrokenDocument) {
  JsonPtr document = parse(R"({"global": 3, "channels": []})");
  RecordedActions actions;
  GlobalSettings settings = load_global_settings(global_of(document));
  EXPECT_TRUE(global_settings_ok(settings, document.get(), actions).accepted);
  EXPECT_STREQ(config_string(global_of(document), "ipACL"), "allow all");

  JsonPtr not_an_object = parse("[1]");
  RecordedActions none;
  EXPECT_FALSE(global_settings_ok(settings, not_an_object.get(), none).accepted);
  EXPECT_FALSE(global_settings_ok(settings, nullptr, none).accepted);
  EXPECT_EQ(none.commits, 0);
  EXPECT_EQ(none.engine_calls, 0);
  EXPECT_FALSE(store_global_settings(settings, nullptr));
}

TEST(GlobalSettingsOk, AnImportWhileOpenReceivesTheDialogFields) {
  ASSERT_NE(config_normalise(R"({"global": {"loginPass": "before"}, "channels": []})"), nullptr);
  GlobalSettings settings = load_global_settings(config_object(config_document(), "global"));
  // The operator imports another configuration from inside the dialog, then presses OK.
  ASSERT_NE(config_normalise(R"({"global": {"loginPass": "imported", "httpPort": 9000},
                                 "channels": []})"),
            nullptr);
  RecordedActions actions;
  ASSERT_TRUE(global_settings_ok(settings, config_document(), actions).accepted);
  EXPECT_EQ(config_int(config_object(config_document(), "global"), "httpPort"), 9527)
      << "the dialog's fields went into the imported document";
  // The dialog never held the password itself: the imported one stays unless one was typed.
  EXPECT_TRUE(login_password_matches(config_login_hash(config_object(config_document(), "global")),
                                     "imported"));
  config_free();
}

// What the web server cannot serve with is refused before anything is stored: the rules it
// cannot read, TLS files it cannot use. The dialog stays open with the reason.
TEST(GlobalSettingsOk, TheWebServersRefusalStoresNothing) {
  JsonPtr document = parse(R"({"global": {"httpPort": 80, "ipACL": "allow all"}})");
  GlobalSettings settings = load_global_settings(global_of(document));
  settings.ip_acl = "deny all\r\nallow 10.0.0.0/33";
  settings.tls_enabled = true;
  settings.tls_cert = "/c.pem";
  settings.tls_key = "/k.pem";
  settings.login_password = "new";
  RecordedActions actions;
  actions.problem = "the address rules cannot be read: address rule 2 ...";
  const GlobalSettingsResult result = global_settings_ok(settings, document.get(), actions);
  EXPECT_FALSE(result.accepted);
  EXPECT_FALSE(result.restart_web_server);
  EXPECT_EQ(actions.checked,
            std::vector<std::string>{"deny all\nallow 10.0.0.0/33|tls|/c.pem|/k.pem"});
  EXPECT_EQ(actions.errors, std::vector<std::string>{"Settings Error: " + actions.problem});
  EXPECT_EQ(actions.commits, 0);
  EXPECT_STREQ(config_string(global_of(document), "ipACL"), "allow all");
  EXPECT_FALSE(login_password_is_set(global_of(document)));
}

}  // namespace
}  // namespace vx
