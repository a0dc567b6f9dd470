// The desktop's password prompt without its window: whether it is needed and whether a typed
// text opens the window, against "loginPass" of the "global" object.
#pragma once

#include <cjson/cJSON.h>

#include <string>
#include <string_view>

namespace vx {

inline constexpr const char* kLoginPromptTitle = "Password Required";
inline constexpr const char* kLoginRefusedCaption = "Oops";
inline constexpr const char* kLoginRefusedText = "Password incorrect";

// Only a non-empty "loginPass" asks for a password; a missing key counts as empty.
bool login_prompt_needed(const cJSON* global);

struct LoginPrompt {
  std::string typed;  // UTF-8; kept after a refusal so the operator can correct it
};

// OK: true when the typed text equals the stored password exactly (case-sensitive, whole
// text). On false the caller shows the refusal and keeps the prompt open; attempts are not
// limited.
bool login_prompt_ok(const LoginPrompt& prompt, const cJSON* global);

}  // namespace vx
