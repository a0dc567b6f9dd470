// The desktop's password prompt without its window: whether it is needed and whether a typed
// text opens the window, against the stored hash of the login password (config/login_password.h),
// the same one the web administration checks.
#pragma once

#include <cjson/cJSON.h>

#include <string>
#include <string_view>

namespace vx {

inline constexpr const char* kLoginPromptTitle = "Password Required";
inline constexpr const char* kLoginRefusedCaption = "Oops";
inline constexpr const char* kLoginRefusedText = "Password incorrect";

// Only a set login password asks for one.
bool login_prompt_needed(const cJSON* global);

struct LoginPrompt {
  std::string typed;  // UTF-8; kept after a refusal so the operator can correct it
};

// OK: true when the typed text is the password the stored hash was made from (case-sensitive,
// whole text). The check takes about 60 ms: copy the hash under the core lock and call this
// after letting it go. On false the caller shows the refusal and keeps the prompt open; attempts
// are not limited (whoever types here sits at the machine already).
bool login_prompt_ok(const LoginPrompt& prompt, std::string_view stored_hash);

}  // namespace vx
