// Fuzzes the login texts: the input is read as a login form body, as a cookie text and as a
// scraper's Authorization header. Whatever cookie a login sets must let the next request in under
// the password it carries, and so must the cookie a password change sets and a bearer token,
// whatever bytes the password holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/login.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)vx::auth_check(text, "secret");
  (void)vx::authorization_check(text, "secret");
  const auto raw = vx::base64_decode(text);
  if (raw && raw->size() > vx::kMaxDecodedValue) std::abort();
  if (!text.empty() && text.front() != ' ' &&
      !vx::authorization_check("Bearer " + std::string(text), text)) {
    std::abort();
  }

  if (!text.empty() && text.size() <= vx::kMaxDecodedValue &&
      !vx::auth_check(vx::password_set_cookie(text), text)) {
    std::abort();
  }

  const auto decoded = vx::url_decode(text);
  if (decoded && decoded->size() > vx::kMaxDecodedValue) std::abort();

  const auto value = vx::login_form_value(text);
  if (!value) return 0;
  const auto cookie = vx::login_set_cookie(*value);
  if (!cookie) return 0;
  if (cookie->size() > 5 + vx::kMaxLoginCookieValue) std::abort();
  const auto password = vx::url_decode(*value);
  if (!password) std::abort();
  if (!password->empty() && !vx::auth_check("theme=dark; " + *cookie, *password)) std::abort();
  return 0;
}
