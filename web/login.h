// Password login of the administration server: the auth cookie check, the login form field and
// the cookie the login submission sets. The password is compared as plain text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

// Bound of a decoded cookie value, and of the "auth=" cookie the login submission sets.
inline constexpr std::size_t kMaxDecodedValue = 999;
inline constexpr std::size_t kMaxLoginCookieValue = 94;

// Form decoding: "%" and two hex digits (either case) give that byte, "+" gives a space, and
// everything else, including a "%" without two hex digits, is copied. nullopt when the decoded
// text would be longer than `max_bytes`: a cut value could equal a password it does not hold.
std::optional<std::string> url_decode(std::string_view text,
                                      std::size_t max_bytes = kMaxDecodedValue);

// The value of the first token of the cookie text (tokens split at "&", ";" and spaces) that
// begins with "auth=", still encoded; empty when there is none.
std::string_view auth_cookie_value(std::string_view cookie_text);

// Compares every byte of the longer text, so the time taken does not tell where they differ.
bool constant_time_equal(std::string_view a, std::string_view b);

// True when the request may use the protected paths: no password is set, or the decoded auth
// cookie equals it byte for byte.
bool auth_check(std::string_view cookie_text, std::string_view login_pass);

// Standard base64 (with or without its "=" padding); nullopt for any other character, a broken
// length, or a result longer than kMaxDecodedValue.
std::optional<std::string> base64_decode(std::string_view text);

// A scraper's credentials in the "Authorization" header, for what a monitoring system cannot
// reach through the login page: "Bearer PASSWORD", or "Basic" with the base64 of "USER:PASSWORD"
// (any user name). True when no password is set or the password given equals it.
bool authorization_check(std::string_view authorization, std::string_view login_pass);

// The still-encoded login value of a login form body: only its first field (up to the first "&")
// counts, and it must begin with "auth=". nullopt when it does not.
std::optional<std::string_view> login_form_value(std::string_view body);

// The "Set-Cookie" value for a login value: "auth=" and the value. nullopt (send no cookie) when
// the value is longer than kMaxLoginCookieValue or holds a byte a cookie value may not carry
// (controls, space, '"', ',', ';', '\\', non-ASCII), which would otherwise end the header or add
// cookie attributes.
std::optional<std::string> login_set_cookie(std::string_view login_value);

// The "Set-Cookie" value that keeps a browser logged in after the password was changed: the
// password percent-encoded (every byte but letters, digits and "-._~"), so that auth_check,
// which decodes the cookie, finds the password again whatever characters it holds.
std::string password_set_cookie(std::string_view password);

// Added to every auth cookie the server sets: scripts cannot read it and other sites' pages
// cannot make the browser send it.
inline constexpr std::string_view kAuthCookieAttributes = "; HttpOnly; SameSite=Strict";

}  // namespace vx
