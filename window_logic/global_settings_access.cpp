#include "window_logic/global_settings_access.h"

#include "app/application.h"
#include "config/core_lock.h"
#include "config/document.h"
#include "config/login_password.h"
#include "settings/login_prompt.h"
#include "engine/channel_compiler.h"
#include "engine/engine.h"
#include "web/settings_check.h"

namespace vx {
namespace {

const cJSON* stored_global() {
  return config_object(config_document(), "global");
}

// What OK triggers, collected under the core lock and carried out once it is let go: the
// error box and the file write must not hold up the web server's thread.
class DeferredActions final : public GlobalSettingsActions {
 public:
  void error(std::string_view caption, std::string_view text) override {
    refusal = DialogMessage{std::string(caption), std::string(text), MessageIcon::error};
  }
  void commit_configuration() override { commit = true; }
  void engine_set_options(const cJSON* global) override {
    // the engine is guarded by the core lock held here
    vx::engine_set_options(engine_settings_of(global));
  }

  std::string web_settings_problem(std::string_view address_rules, bool check_tls,
                                   const std::string& cert, const std::string& key) override {
    return vx::web_settings_problem(address_rules, check_tls, cert, key);
  }

  std::optional<DialogMessage> refusal;
  bool commit = false;
};

}  // namespace

LoginPasswordState login_password_state() {
  const CoreLock lock = core_lock();
  return {login_prompt_needed(stored_global()), config_login_hash(stored_global())};
}

GlobalSettings stored_global_settings() {
  const CoreLock lock = core_lock();
  return load_global_settings(stored_global());
}

GlobalSettingsOutcome apply_global_settings(const GlobalSettings& settings) {
  DeferredActions actions;
  GlobalSettingsOutcome outcome;
  {
    const CoreLock lock = core_lock();
    outcome.result = global_settings_ok(settings, config_document(), actions);
  }
  outcome.refusal = std::move(actions.refusal);
  if (!outcome.refusal && outcome.result.accepted && actions.commit) commit_configuration();
  return outcome;
}

ConfigTransfer export_configuration_file(const std::string& path) {
  return config_export(path);
}

ConfigTransfer import_configuration_file(const std::string& path) {
  const CoreLock lock = core_lock();
  return config_import(path);
}

}  // namespace vx
