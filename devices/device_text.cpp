#include "devices/device_text.h"

#include "config/json.h"
#include "vocabulary/utf8.h"

namespace vx {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

std::string device_text(std::string_view raw, std::size_t max_characters) {
  std::string text;
  text.reserve(raw.size());
  for (std::size_t characters = 0; !raw.empty() && characters < max_characters; ++characters) {
    // NUL would cut the name wherever it is handed on as a C string.
    const std::size_t length = raw.front() == '\0' ? 0 : utf8_sequence_length(raw);
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
