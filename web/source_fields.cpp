// The source cells of the browser page's edited row, answered with the window's rules
// (settings/source_address.h): what a stored first source shows, and what the typed type and
// address store. Nothing is stored here.
#include <optional>
#include <string>
#include <variant>

#include "config/document.h"
#include "config/json.h"
#include "settings/source_address.h"
#include "vocabulary/ascii.h"
#include "web/api.h"

namespace vx {
namespace {

enum class FieldsStep { show, store };

std::optional<FieldsStep> fields_step_named(std::string_view word) {
  if (iequals(word, "show")) return FieldsStep::show;
  if (iequals(word, "store")) return FieldsStep::store;
  return std::nullopt;
}

std::optional<SourceType> source_type_from_word(std::string_view word) {
  for (const SourceTypeEntry& entry : source_type_entries()) {
    if (word == source_type_word(entry.type)) return entry.type;
  }
  return std::nullopt;
}

// The body's "source" as a channel whose first source it is, or why it cannot be read.
std::variant<JsonPtr, std::string> posted_channel(cJSON* body) {
  cJSON* source = cJSON_DetachItemFromObjectCaseSensitive(body, "source");
  if (!cJSON_IsObject(source)) {
    cJSON_Delete(source);
    return std::string("\"source\" must be the channel's first source (an object)");
  }
  JsonPtr channel(cJSON_CreateObject());
  cJSON* sources =
      cJSON_AddArrayToObject(cJSON_AddObjectToObject(channel.get(), "input"), "sources");
  cJSON_AddItemToArray(sources, source);  // the array owns it
  return channel;
}

WebAnswer shown_answer(const cJSON* channel) {
  const SourceCellTexts texts = source_cell_texts(channel);
  const JsonPtr answer(cJSON_CreateObject());
  cJSON_AddStringToObject(answer.get(), "type", std::string(source_type_word(texts.type)).c_str());
  cJSON_AddStringToObject(answer.get(), "address", texts.address.c_str());
  return json_answer(answer.get());
}

WebAnswer stored_answer(const cJSON* body, cJSON* channel) {
  const cJSON* type = cJSON_GetObjectItemCaseSensitive(body, "type");
  const std::optional<SourceType> chosen =
      cJSON_IsString(type) ? source_type_from_word(type->valuestring) : std::nullopt;
  if (!chosen) {
    return text_answer(400,
                       "\"type\" must be the \"value\" of one of the \"sourceFormats\" of "
                       "/rules");
  }
  const cJSON* address = cJSON_GetObjectItemCaseSensitive(body, "address");
  if (!cJSON_IsString(address)) return text_answer(400, "\"address\" must be the typed address");
  cJSON* source =
      cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(
                             cJSON_GetObjectItemCaseSensitive(channel, "input"), "sources"),
                         0);
  const StoredSource stored = stored_source_for(source, *chosen, address->valuestring);
  if (!stored.kept) {
    config_set_string(source, "format", stored.format);
    config_set_string(source, "url", stored.url);
  }
  const JsonPtr answer(cJSON_CreateObject());
  cJSON_AddStringToObject(answer.get(), "type", std::string(source_type_word(stored.type)).c_str());
  cJSON_AddItemReferenceToObject(answer.get(), "source", source);
  return json_answer(answer.get());
}

}  // namespace

std::string_view source_type_word(SourceType type) {
  const SourceTypeEntry& entry = source_type_entry(type);
  const std::string_view text = entry.text;
  const std::size_t scheme_end = text.find("://");
  if (*entry.scheme == '\0' || scheme_end == std::string_view::npos) return entry.format;
  return text.substr(0, scheme_end);
}

WebAnswer answer_source_fields(std::string_view argument_text,
                               const std::optional<std::string>& body) {
  if (!body) {
    WebAnswer refused = text_answer(405, "post the first source to show or store");
    refused.headers.emplace_back("Allow", "POST");
    return refused;
  }
  const std::optional<FieldsStep> step = fields_step_named(argument_text);
  if (!step) return text_answer(400, "ask for \"?show\" or \"?store\"");
  const JsonPtr posted = json_parse(*body);
  if (!cJSON_IsObject(posted.get())) return text_answer(400, "the body is not a JSON object");
  auto read = posted_channel(posted.get());
  if (auto* reason = std::get_if<std::string>(&read)) return text_answer(400, std::move(*reason));
  const JsonPtr channel = std::move(std::get<JsonPtr>(read));
  if (*step == FieldsStep::show) return shown_answer(channel.get());
  return stored_answer(posted.get(), channel.get());
}

}  // namespace vx
