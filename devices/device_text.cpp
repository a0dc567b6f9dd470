#include "devices/device_text.h"

#include "config/json.h"

namespace vx {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Length of the well-formed sequence at the start of text, 0 when there is none. The second
// byte's range excludes overlong forms, surrogates and code points above U+10FFFF.
std::size_t sequence_length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead >= 0x01 && lead <= 0x7F) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!continuation(static_cast<unsigned char>(text[i]))) return 0;
  }
  return length;
}

}  // namespace

std::string device_text(std::string_view raw, std::size_t max_characters) {
  std::string text;
  text.reserve(raw.size());
  for (std::size_t characters = 0; !raw.empty() && characters < max_characters; ++characters) {
    const std::size_t length = sequence_length(raw);
    if (length == 0) {
      text += kReplacement;
      raw.remove_prefix(1);
    } else {
      text += raw.substr(0, length);
      raw.remove_prefix(length);
    }
  }
  return text;
}

std::string device_text_json(std::string_view raw, std::size_t max_characters) {
  const JsonPtr item(cJSON_CreateString(device_text(raw, max_characters).c_str()));
  auto literal = item ? json_print_unformatted(item.get()) : std::nullopt;
  // Only an allocation failure gets here; an empty name keeps the document well formed.
  return literal ? *literal : std::string("\"\"");
}

}  // namespace vx
