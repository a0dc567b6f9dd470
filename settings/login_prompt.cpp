#include "settings/login_prompt.h"

#include "config/login_password.h"

namespace vx {

bool login_prompt_needed(const cJSON* global) {
  return login_password_is_set(global);
}

bool login_prompt_ok(const LoginPrompt& prompt, std::string_view stored_hash) {
  // Both texts are UTF-8, so the hash of the typed bytes is the hash of the typed characters.
  return login_password_matches(stored_hash, prompt.typed);
}

}  // namespace vx
