#include "settings/json_fields.h"

#include <algorithm>

#include "config/document.h"
#include "config/json.h"

namespace vx {

std::vector<std::string> string_array(const cJSON* array) {
  std::vector<std::string> texts;
  if (!cJSON_IsArray(array)) return texts;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, array) {
    if (cJSON_IsString(item) && item->valuestring != nullptr) texts.emplace_back(item->valuestring);
  }
  return texts;
}

std::vector<std::string> string_array(const cJSON* object, const char* key) {
  return string_array(cJSON_GetObjectItemCaseSensitive(object, key));
}

bool set_string_array(cJSON* object, const char* key, const std::vector<std::string>& texts) {
  if (!cJSON_IsObject(object)) return false;
  JsonPtr array(cJSON_CreateArray());
  for (const std::string& text : texts)
    cJSON_AddItemToArray(array.get(), cJSON_CreateString(text.c_str()));
  return config_set_item(object, key, std::move(array));
}

cJSON* object_member(cJSON* object, const char* key) {
  if (!cJSON_IsObject(object)) return nullptr;
  cJSON* member = cJSON_GetObjectItemCaseSensitive(object, key);
  if (cJSON_IsObject(member)) return member;
  JsonPtr fresh(cJSON_CreateObject());
  cJSON* kept = fresh.get();
  config_set_item(object, key, std::move(fresh));
  return kept;
}

std::string cut_to_bytes(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t end = max_bytes;
  // Step back over continuation bytes to the start of the character that would be split.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return std::string(text.substr(0, end));
}

std::string word_after(std::string_view entry, std::string_view key) {
  const auto is_blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  const std::size_t at = entry.find(key);
  if (at == std::string_view::npos) return {};
  std::size_t begin = at + key.size();
  while (begin < entry.size() && is_blank(entry[begin]))
    ++begin;
  std::size_t end = begin;
  while (end < entry.size() && !is_blank(entry[end]))
    ++end;
  return std::string(entry.substr(begin, end - begin));
}

void remove_options(std::vector<std::string>& options, const std::vector<std::string_view>& parts) {
  std::erase_if(options, [&](const std::string& option) {
    return option.empty() || std::any_of(parts.begin(), parts.end(), [&](std::string_view part) {
             return option.find(part) != std::string::npos;
           });
  });
}

}  // namespace vx
