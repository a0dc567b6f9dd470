// The global settings dialog without its window: the record of every control, loaded from the
// document's "global" object, the interplay of its check boxes, and what OK stores and triggers.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "config/login_password.h"
#include "settings/path_dialogs.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {

inline constexpr const char* kGlobalSettingsTitle = "Global Settings";
inline constexpr const char* kPortErrorCaption = "Port Error";
inline constexpr const char* kPortErrorText = "Please enter port number between 0 and 65535";
inline constexpr const char* kSettingsErrorCaption = "Settings Error";
inline constexpr const char* kPasswordNotStoredText =
    "The login password could not be stored; the password set before stays in force.";
// What an empty rule text shows, so the operator sees that nobody is shut out.
inline constexpr const char* kAllowAllRule = "allow all";
// The alternate input value meaning "the program's own picture" rather than a file.
inline constexpr const char* kDefaultAlternateInput = "default";

inline constexpr std::size_t kTlsPathMaxBytes = 259;
inline constexpr std::size_t kGlobalTextMaxBytes = 999;
inline constexpr std::int32_t kAutoRestartMaxSeconds = 32767;  // the spin control's range
inline constexpr std::int32_t kDebugLogLevel = 32;

// One field per control; texts are UTF-8. The automatic-restart check box has no field of its
// own: it is ticked exactly when auto_restart_seconds is above 0.
struct GlobalSettings {
  std::int64_t http_port = 0;  // wide enough for any digits typed before the range check
  bool tls_enabled = false;
  std::string tls_cert;
  std::string tls_key;
  // The placeholder while a password is set (its hash is all that is stored); OK with the
  // placeholder keeps the password, "" removes it, any other text replaces it.
  std::string login_password;
  std::string ip_acl;  // lines separated by line feeds (a carriage return before one is dropped)
  bool debug_log = false;
  bool auto_run = false;
  std::int32_t auto_restart_seconds = 0;
  bool continuous_streaming = false;
  std::string alternate_input;  // the file box; empty while continuous streaming is off
  bool folder_recursive = false;
  bool folder_shuffle = false;
  std::string plugin_core_path;
  std::string cookies_path;
  // Connections one address may hold on an output the transcoder serves; out of its range the
  // default.
  std::int32_t viewers_per_address = kDefaultViewersPerAddress;
};

// The record as the dialog shows it when created; a null or non-object "global" gives the
// defaults (with "allow all" as the rules).
GlobalSettings load_global_settings(const cJSON* global);

// The automatic-restart check box and its seconds.
bool auto_restart_ticked(const GlobalSettings& settings);
// Ticking with no positive delay starts at one second; clearing sets the delay to 0.
void set_auto_restart_ticked(GlobalSettings& settings, bool ticked);
// A typed number (clamped to the spin range); the check box follows it.
void set_auto_restart_seconds(GlobalSettings& settings, std::int32_t seconds);

// Clearing continuous streaming also empties (and disables) the alternate input file box.
void set_continuous_streaming(GlobalSettings& settings, bool ticked);
bool alternate_input_enabled(const GlobalSettings& settings);

// The boxes with a "..." chooser; each chooser starts at its box's text.
enum class GlobalFileBox { tls_cert, tls_key, alternate_input, plugin_core, cookies };
PathDialog global_file_dialog(GlobalFileBox box);

// "&Export..." and "&Import...": the choosers and the question asked before an import.
SaveDialog config_export_dialog();
PathDialog config_import_dialog();
std::string config_import_question(const std::string& path);

// What OK triggers beyond the document itself. The desktop implements it with its own
// commit_configuration and engine_set_options; tests record the calls.
class GlobalSettingsActions {
 public:
  virtual ~GlobalSettingsActions() = default;
  virtual void error(std::string_view caption, std::string_view text) = 0;
  // Writes the configuration file and applies "autoRun".
  virtual void commit_configuration() = 0;
  // The engine takes the settings of the "global" object it names (the engine's own reading).
  virtual void engine_set_options(const cJSON* global) = 0;
  // Why the web administration could not serve with these settings, "" when it can: address
  // rules it cannot read, or (when `check_tls`) certificate and key files it cannot use. The
  // rule belongs to the web server; the desktop asks it.
  virtual std::string web_settings_problem(std::string_view address_rules, bool check_tls,
                                           const std::string& cert, const std::string& key) = 0;
};

struct GlobalSettingsResult {
  bool accepted = false;  // false: the dialog stays open and nothing was stored
  // The port or the TLS settings changed: the caller restarts the web server once the dialog
  // has closed.
  bool restart_web_server = false;
};

// Writes the record into "global" (keys replaced in place or appended) without the checks or the
// follow-up calls; the password goes in as its hash (config/login_password.h), which takes
// about 60 ms when it changed. Returns whether the web server's part changed. False also when
// global is not an object (then nothing is written). `password`, when given, tells how the
// password fared: when its hash could not be made, the password in force stays.
bool store_global_settings(const GlobalSettings& settings, cJSON* global,
                           LoginSettle* password = nullptr);

// OK: the port check (an error through actions, nothing stored), the web server's own checks
// of the address rules and, when the web part changed with TLS on, of the certificate and key
// (its reason under "Settings Error", nothing stored), the store into the "global" object of
// document (made when missing), commit_configuration and engine_set_options. The document is
// the one current at OK, so an import made while the dialog was open receives the dialog's
// fields (the password only when one was typed). A document that is not an object is refused
// without any call.
GlobalSettingsResult global_settings_ok(const GlobalSettings& settings, cJSON* document,
                                        GlobalSettingsActions& actions);

}  // namespace vx
