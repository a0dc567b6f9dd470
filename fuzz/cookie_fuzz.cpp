// Fuzzes the login texts: the input is read as a login form body, a cookie text and a script's
// Authorization header. What a bearer header carries comes back as its password whatever bytes
// it holds, decoded values stay within their bound, and a field found by its name is a field of
// the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/login.h"
#include "web/sessions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)vx::authorization_password(text);
  const auto raw = vx::base64_decode(text);
  if (raw && raw->size() > vx::kMaxDecodedValue) std::abort();
  if (!text.empty() && text.front() != ' ' && text.size() <= vx::kMaxDecodedValue &&
      vx::authorization_password("Bearer " + std::string(text)) != std::string(text)) {
    std::abort();
  }

  const auto decoded = vx::url_decode(text);
  if (decoded && decoded->size() > vx::kMaxDecodedValue) std::abort();

  const std::string_view session = vx::cookie_value(text, vx::kSessionCookieName);
  if (!session.empty() && text.find(session) == std::string_view::npos) std::abort();
  if (session.find_first_of("&; ") != std::string_view::npos) std::abort();

  for (const std::string_view name : {"auth", "token", "confirm"}) {
    const auto field = vx::form_field(text, name);
    if (field && field->find('&') != std::string_view::npos) std::abort();
  }
  const auto value = vx::login_form_value(text);
  if (value && (!text.starts_with("auth=") || value->find('&') != std::string_view::npos)) {
    std::abort();
  }
  return 0;
}
