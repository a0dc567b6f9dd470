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
  const char* end = nullptr;
  JsonPtr tree(cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, false));
  if (!tree) return tree;
  // Only white space may follow the value.
  const char* const stop = text.data() + text.size();
  while (end < stop && (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n')) {
    ++end;
  }
  if (end != stop) tree.reset();
  return tree;
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
