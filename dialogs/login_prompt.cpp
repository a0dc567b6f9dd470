#include "dialogs/login_prompt.h"

#include "config/document.h"

namespace vx {

bool login_prompt_needed(const cJSON* global) {
  return *config_string(global, "loginPass") != '\0';
}

bool login_prompt_ok(const LoginPrompt& prompt, const cJSON* global) {
  // Both texts are UTF-8, so comparing the bytes is comparing the characters.
  return prompt.typed == std::string_view(config_string(global, "loginPass"));
}

}  // namespace vx
