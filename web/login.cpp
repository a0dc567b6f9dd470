#include "web/login.h"

#include <algorithm>
#include <cstdint>

#include "vocabulary/ascii.h"

namespace vx {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> url_decode(std::string_view text, std::size_t max_bytes) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      c = ' ';
    } else if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
               hex_value(text[i + 2]) >= 0) {
      c = static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    }
    if (decoded.size() == max_bytes) return std::nullopt;
    decoded.push_back(c);
  }
  return decoded;
}

bool constant_time_equal(std::string_view a, std::string_view b) {
  const std::size_t length = std::max(a.size(), b.size());
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  for (std::size_t i = 0; i < length; ++i) {
    const auto x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
    const auto y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
    difference |= x ^ y;
  }
  return difference == 0;
}

std::optional<std::string> base64_decode(std::string_view text) {
  while (!text.empty() && text.back() == '=')
    text.remove_suffix(1);
  if (text.size() % 4 == 1 || text.size() / 4 * 3 > kMaxDecodedValue) return std::nullopt;
  std::string decoded;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int value = -1;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    if (c >= '0' && c <= '9') value = c - '0' + 52;
    if (c == '+') value = 62;
    if (c == '/') value = 63;
    if (value < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      decoded += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return decoded;
}

std::optional<std::string> authorization_password(std::string_view authorization) {
  const std::size_t blank = authorization.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const std::string_view scheme = authorization.substr(0, blank);
  std::string_view credentials = authorization.substr(blank + 1);
  while (!credentials.empty() && credentials.front() == ' ')
    credentials.remove_prefix(1);
  if (iequals(scheme, "Bearer")) {
    if (credentials.size() > kMaxDecodedValue) return std::nullopt;
    return std::string(credentials);
  }
  if (!iequals(scheme, "Basic")) return std::nullopt;
  const std::optional<std::string> pair = base64_decode(credentials);
  if (!pair) return std::nullopt;
  const std::size_t colon = pair->find(':');
  if (colon == std::string::npos) return std::nullopt;
  return pair->substr(colon + 1);
}

std::optional<std::string_view> login_form_value(std::string_view body) {
  constexpr std::string_view kPrefix = "auth=";
  const std::string_view field = body.substr(0, body.find('&'));
  if (!field.starts_with(kPrefix)) return std::nullopt;
  return field.substr(kPrefix.size());
}

std::optional<std::string_view> form_field(std::string_view body, std::string_view name,
                                           std::string_view separators) {
  std::size_t pos = 0;
  while (pos <= body.size()) {
    const std::size_t end = std::min(body.find_first_of(separators, pos), body.size());
    const std::string_view field = body.substr(pos, end - pos);
    if (field.size() > name.size() && field.starts_with(name) && field[name.size()] == '=') {
      return field.substr(name.size() + 1);
    }
    pos = end + 1;
  }
  return std::nullopt;
}

}  // namespace vx
