#include "settings/global_settings.h"

#include <algorithm>
#include <cstring>

#include "config/document.h"
#include "settings/json_fields.h"
#include "vocabulary/ascii.h"

namespace vx {
namespace {

std::int32_t clamp_seconds(std::int32_t seconds) {
  return std::clamp<std::int32_t>(seconds, 0, kAutoRestartMaxSeconds);
}

std::string without_carriage_returns(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (char c : text) {
    if (c != '\r') kept.push_back(c);
  }
  return kept;
}

// The four web server keys as OK would store them; the comparison with "global" uses the same
// cut texts, so an over-long path does not restart the server on every OK.
struct WebPart {
  std::int64_t port = 0;
  bool tls = false;
  std::string cert;
  std::string key;
};

WebPart web_part_of(const GlobalSettings& settings) {
  WebPart web;
  web.port = settings.http_port;
  web.cert = cut_to_bytes(settings.tls_cert, kTlsPathMaxBytes);
  web.key = cut_to_bytes(settings.tls_key, kTlsPathMaxBytes);
  web.tls = settings.tls_enabled && !web.cert.empty() && !web.key.empty();
  return web;
}

bool web_part_equals(const WebPart& web, const cJSON* global) {
  return web.port == config_int(global, "httpPort") &&
         web.tls == config_bool(global, "sslEnable") &&
         web.cert == config_string(global, "sslCert") && web.key == config_string(global, "sslKey");
}

}  // namespace

PathDialog global_file_dialog(GlobalFileBox box) {
  switch (box) {
    case GlobalFileBox::tls_cert:
      return {"Select SSL Certificate", {}};
    case GlobalFileBox::tls_key:
      return {"Select SSL Key", {}};
    case GlobalFileBox::alternate_input:
      return {"Select Alternate Input Video File",
              {"Video/Image Files (*.gif *.png *.jpg *.bmp *.mp4 *.mkv *.avi *.wmv *.ts *.mov "
               "*.mpg)",
               "All Files (*)"}};
    case GlobalFileBox::plugin_core:
      return {"Select MainConcept FFmpeg Plugin Core File", {}};
    case GlobalFileBox::cookies:
      return {"Select Browser Cookies File for yt-dlp", {"Cookies (*.txt)", "All Files (*)"}};
  }
  return {"", {}};
}

namespace {
const std::vector<std::string>& configuration_filters() {
  static const std::vector<std::string> filters = {"MORVI Configuration (*.json)", "All Files (*)"};
  return filters;
}
}  // namespace

SaveDialog config_export_dialog() {
  return {"Export all channel settings to config file...", configuration_filters(), "json", true,
          "morvi.json"};
}

PathDialog config_import_dialog() {
  return {"Import all channel settings from config file...", configuration_filters()};
}

std::string config_import_question(const std::string& path) {
  return "Import all channels from <" + path +
         ">?\nAll current channel settings will be OVERWRITTEN!";
}

GlobalSettings load_global_settings(const cJSON* global) {
  GlobalSettings settings;
  settings.http_port = config_int(global, "httpPort");
  settings.tls_cert = config_string(global, "sslCert");
  settings.tls_key = config_string(global, "sslKey");
  settings.tls_enabled =
      config_bool(global, "sslEnable") && !settings.tls_cert.empty() && !settings.tls_key.empty();
  settings.login_password = login_password_shown(global);
  settings.ip_acl = without_carriage_returns(config_string(global, "ipACL"));
  if (settings.ip_acl.empty()) settings.ip_acl = kAllowAllRule;
  settings.debug_log = config_int(global, "log") > 0;
  settings.auto_run = config_bool(global, "autoRun");
  settings.auto_restart_seconds = clamp_seconds(config_int(global, "autoRestart"));
  const std::string alternate = config_string(global, "altInput");
  settings.continuous_streaming = !alternate.empty();
  if (!iequals(alternate, kDefaultAlternateInput)) settings.alternate_input = alternate;
  settings.folder_recursive = config_bool(global, "folderRecur");
  settings.folder_shuffle = config_bool(global, "folderShuffle");
  settings.plugin_core_path = config_string(global, "omxPath");
  settings.cookies_path = config_string(global, "ytdlpPath");
  settings.viewers_per_address = viewers_per_address_or_default(
      config_int(global, kViewersPerAddressKey, kDefaultViewersPerAddress));
  return settings;
}

bool auto_restart_ticked(const GlobalSettings& settings) {
  return settings.auto_restart_seconds > 0;
}

void set_auto_restart_ticked(GlobalSettings& settings, bool ticked) {
  if (ticked && settings.auto_restart_seconds <= 0) settings.auto_restart_seconds = 1;
  if (!ticked) settings.auto_restart_seconds = 0;
}

void set_auto_restart_seconds(GlobalSettings& settings, std::int32_t seconds) {
  settings.auto_restart_seconds = clamp_seconds(seconds);
}

void set_continuous_streaming(GlobalSettings& settings, bool ticked) {
  settings.continuous_streaming = ticked;
  if (!ticked) settings.alternate_input.clear();
}

bool alternate_input_enabled(const GlobalSettings& settings) {
  return settings.continuous_streaming;
}

bool store_global_settings(const GlobalSettings& settings, cJSON* global, LoginSettle* password) {
  if (!cJSON_IsObject(global)) return false;
  const LoginSettle settled =
      login_password_store(global, cut_to_bytes(settings.login_password, kGlobalTextMaxBytes));
  if (password != nullptr) *password = settled;
  const WebPart web = web_part_of(settings);
  const bool web_changed = !web_part_equals(web, global);
  if (web_changed) {
    // The port passed the range check in OK; the cast cannot lose anything there.
    config_set_int(global, "httpPort",
                   static_cast<std::int32_t>(std::clamp<std::int64_t>(web.port, 0, 65535)));
    config_set_bool(global, "sslEnable", web.tls);
    config_set_string(global, "sslCert", web.cert);
    config_set_string(global, "sslKey", web.key);
  }
  config_set_string(global, "ipACL",
                    cut_to_bytes(without_carriage_returns(settings.ip_acl), kGlobalTextMaxBytes));
  config_set_int(global, "log", settings.debug_log ? kDebugLogLevel : 0);
  config_set_bool(global, "autoRun", settings.auto_run);
  config_set_int(global, "autoRestart", clamp_seconds(settings.auto_restart_seconds));
  config_set_bool(global, "folderRecur", settings.folder_recursive);
  config_set_bool(global, "folderShuffle", settings.folder_shuffle);
  std::string alternate;
  if (settings.continuous_streaming) {
    alternate = settings.alternate_input.empty()
                    ? std::string(kDefaultAlternateInput)
                    : cut_to_bytes(settings.alternate_input, kGlobalTextMaxBytes);
  }
  config_set_string(global, "altInput", alternate);
  config_set_string(global, "omxPath",
                    cut_to_bytes(settings.plugin_core_path, kGlobalTextMaxBytes));
  config_set_string(global, "ytdlpPath", cut_to_bytes(settings.cookies_path, kGlobalTextMaxBytes));
  config_set_int(global, kViewersPerAddressKey,
                 viewers_per_address_or_default(settings.viewers_per_address));
  return web_changed;
}

GlobalSettingsResult global_settings_ok(const GlobalSettings& settings, cJSON* document,
                                        GlobalSettingsActions& actions) {
  GlobalSettingsResult result;
  if (settings.http_port < 0 || settings.http_port > 65535) {
    actions.error(kPortErrorCaption, kPortErrorText);
    return result;
  }
  cJSON* global = object_member(document, "global");
  if (global == nullptr) return result;
  const WebPart web = web_part_of(settings);
  const std::string problem = actions.web_settings_problem(
      cut_to_bytes(without_carriage_returns(settings.ip_acl), kGlobalTextMaxBytes),
      web.tls && !web_part_equals(web, global), web.cert, web.key);
  if (!problem.empty()) {
    actions.error(kSettingsErrorCaption, problem);
    return result;
  }
  LoginSettle password = LoginSettle::kept;
  result.restart_web_server = store_global_settings(settings, global, &password);
  result.accepted = true;
  if (password == LoginSettle::failed) actions.error(kSettingsErrorCaption, kPasswordNotStoredText);
  actions.commit_configuration();
  actions.engine_set_options(global);
  return result;
}

}  // namespace vx
