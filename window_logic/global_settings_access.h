// The window's road to the program's global settings: the login password for the prompt, the
// global settings dialog's record and its OK, and the dialog's export and import. Each takes the
// core lock for itself and hands back plain records, so the window never holds the lock and
// never shows a box while it is held.
#pragma once

#include <optional>
#include <string>

#include "config/store.h"
#include "settings/advanced_format.h"
#include "settings/global_settings.h"

namespace vx {

// What the password prompt needs: whether a login password is set (login_prompt_needed) and
// the stored hash a typed text is checked against (login_prompt_ok, after the lock is let go).
struct LoginPasswordState {
  bool set = false;
  std::string hash;
};
LoginPasswordState login_password_state();

// The global settings dialog's record as the document in force holds it.
GlobalSettings stored_global_settings();

// What OK of the global settings dialog left for the window.
struct GlobalSettingsOutcome {
  GlobalSettingsResult result;
  // A box to show; the dialog then stays open and nothing is saved.
  std::optional<DialogMessage> refusal;
};
// global_settings_ok on the document in force under the core lock, the engine taking the new
// settings there; the configuration is saved after the lock is let go, when OK stored it and
// nothing was refused.
GlobalSettingsOutcome apply_global_settings(const GlobalSettings& settings);

// "&Export...": the document in force written to the path.
ConfigTransfer export_configuration_file(const std::string& path);
// "&Import...": the file in place of the configuration (config_import), under the core lock.
ConfigTransfer import_configuration_file(const std::string& path);

}  // namespace vx
