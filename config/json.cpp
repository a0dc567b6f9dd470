#include "config/json.h"

namespace vx {
namespace {

std::optional<std::string> take_printed(char* printed) {
  if (printed == nullptr) return std::nullopt;
  std::string text(printed);
  cJSON_free(printed);
  return text;
}

}  // namespace

JsonPtr json_parse(std::string_view text) {
  JsonReading reading = json_read_first_value(text);
  if (reading.text_after) reading.tree.reset();
  return std::move(reading.tree);
}

JsonReading json_read_first_value(std::string_view text) {
  JsonReading reading;
  // The library reports where it stopped through this pointer, on success and on failure.
  const char* stop = text.data();
  reading.tree.reset(cJSON_ParseWithLengthOpts(text.data(), text.size(), &stop, false));
  std::size_t offset = stop != nullptr ? static_cast<std::size_t>(stop - text.data()) : 0;
  if (offset > text.size()) offset = text.size();
  reading.stop = offset;
  if (!reading.tree) return reading;
  const std::size_t rest = text.find_first_not_of(std::string_view(" \t\r\n\0", 5), offset);
  reading.text_after = rest != std::string_view::npos;
  if (reading.text_after) reading.stop = rest;
  return reading;
}

std::string text_position(std::string_view text, std::size_t offset) {
  if (offset > text.size()) offset = text.size();
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(offset - line_start + 1);
}

std::optional<std::string> json_print(const cJSON* item) {
  if (item == nullptr) return std::nullopt;
  return take_printed(cJSON_Print(item));
}

std::optional<std::string> json_print_unformatted(const cJSON* item) {
  if (item == nullptr) return std::nullopt;
  return take_printed(cJSON_PrintUnformatted(item));
}

}  // namespace vx
