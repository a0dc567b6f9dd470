// The texts of logging in: the login form's fields, form decoding, and the password a script
// sends in an "Authorization" header. Nothing here knows the password or a session; the door
// (web/gate.h) checks what these give against the stored hash.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

// Bound of a decoded form value or credential: the longest password that can be set.
inline constexpr std::size_t kMaxDecodedValue = 999;

// Form decoding: "%" and two hex digits (either case) give that byte, "+" gives a space, and
// everything else, including a "%" without two hex digits, is copied. nullopt when the decoded
// text would be longer than `max_bytes`: a cut value could equal a password it does not hold.
std::optional<std::string> url_decode(std::string_view text,
                                      std::size_t max_bytes = kMaxDecodedValue);

// Compares every byte of the longer text, so the time taken does not tell where they differ.
bool constant_time_equal(std::string_view a, std::string_view b);

// Standard base64 (with or without its "=" padding); nullopt for any other character, a broken
// length, or a result longer than kMaxDecodedValue.
std::optional<std::string> base64_decode(std::string_view text);

// The password of an "Authorization" header, for what cannot log in through the page (scripts,
// a monitoring system): "Bearer PASSWORD", or "Basic" with the base64 of "USER:PASSWORD" (any
// user name; a colon after the first belongs to the password). nullopt for any other form.
std::optional<std::string> authorization_password(std::string_view authorization);

// The still-encoded login value of the login page's form body: only its first field (up to the
// first "&") counts, and it must begin with "auth=". nullopt when it does not.
std::optional<std::string_view> login_form_value(std::string_view body);

// The still-encoded value of the first field named exactly `name` in a text of "name=value"
// fields split at any of `separators`: a form body ("a=1&b=2"), or a joined cookie text with
// "&; " as separators. nullopt when there is none.
std::optional<std::string_view> form_field(std::string_view body, std::string_view name,
                                           std::string_view separators = "&");

}  // namespace vx
