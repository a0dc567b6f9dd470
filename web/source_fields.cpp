// The source cells of the browser page's edited row and the standby list and switch-on boxes
// under them, answered with the window's rules (settings/source_address.h,
// settings/standby_sources.h): what a stored first source shows and what the typed type and
// address store; what a channel's "standby" and "switchOn" show and what the typed rows and
// seconds store. Nothing is stored here.
#include <initializer_list>
#include <optional>
#include <string>
#include <variant>

#include "config/document.h"
#include "config/json.h"
#include "settings/source_address.h"
#include "settings/standby_sources.h"
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

// ----- the standby list ---------------------------------------------------------------------

// The body's "input" as the input of a channel, or why it cannot be read.
std::variant<JsonPtr, std::string> posted_input(cJSON* body) {
  cJSON* input = cJSON_DetachItemFromObjectCaseSensitive(body, "input");
  if (!cJSON_IsObject(input)) {
    cJSON_Delete(input);
    return std::string("\"input\" must be the edited channel's \"input\" (an object)");
  }
  JsonPtr channel(cJSON_CreateObject());
  cJSON_AddItemToObject(channel.get(), "input", input);  // the channel owns it
  return channel;
}

WebAnswer standby_shown_answer(const cJSON* channel) {
  const StandbyFields fields = standby_fields(channel);
  const JsonPtr answer(cJSON_CreateObject());
  cJSON* sources = cJSON_AddArrayToObject(answer.get(), "sources");
  for (const StandbyRow& row : fields.sources) {
    cJSON* entry = cJSON_CreateObject();
    cJSON_AddItemToArray(sources, entry);  // the array owns it
    cJSON_AddStringToObject(entry, "type", std::string(source_type_word(row.type)).c_str());
    cJSON_AddStringToObject(entry, "address", row.address.c_str());
  }
  cJSON* seconds = cJSON_AddObjectToObject(answer.get(), "switchOn");
  for (const SwitchCondition condition : kSwitchConditions) {
    cJSON_AddStringToObject(seconds, switch_condition_key(condition),
                            fields.seconds_for(condition).c_str());
  }
  return json_answer(answer.get());
}

// One typed row: its type word, its address and the position in the posted "standby" it was
// shown from (missing or null for a row added in the editor).
std::variant<StandbyRow, std::string> typed_row(const cJSON* entry, const cJSON* standby,
                                                int number) {
  const std::string which = "\"sources\" entry " + std::to_string(number);
  if (!cJSON_IsObject(entry)) return which + " must be an object";
  const cJSON* type = cJSON_GetObjectItemCaseSensitive(entry, "type");
  const std::optional<SourceType> chosen =
      cJSON_IsString(type) ? source_type_from_word(type->valuestring) : std::nullopt;
  if (!chosen) {
    return which + ": \"type\" must be the \"value\" of one of the \"sourceFormats\" of /rules";
  }
  const cJSON* address = cJSON_GetObjectItemCaseSensitive(entry, "address");
  if (!cJSON_IsString(address)) return which + ": \"address\" must be the typed address";
  StandbyRow row = new_standby_row();
  const cJSON* from = cJSON_GetObjectItemCaseSensitive(entry, "from");
  if (from != nullptr && !cJSON_IsNull(from)) {
    const int size = cJSON_GetArraySize(standby);
    const double position = cJSON_IsNumber(from) ? from->valuedouble : -1;
    if (!(position >= 0 && position < size) || position != static_cast<int>(position)) {
      return which + ": \"from\" must be a position in the posted \"input\" \"standby\"";
    }
    row = standby_row(cJSON_GetArrayItem(standby, static_cast<int>(position)));
  }
  row.type = *chosen;
  row.address = address->valuestring;
  return row;
}

// The typed rows and seconds, or why they cannot be read.
std::variant<StandbyFields, std::string> typed_fields(const cJSON* body, const cJSON* channel) {
  StandbyFields fields;
  const cJSON* sources = cJSON_GetObjectItemCaseSensitive(body, "sources");
  if (!cJSON_IsArray(sources)) return std::string("\"sources\" must be the typed rows (an array)");
  const cJSON* standby = config_array(config_object(channel, "input"), "standby");
  int number = 0;
  const cJSON* entry = nullptr;
  cJSON_ArrayForEach(entry, sources) {
    auto row = typed_row(entry, standby, ++number);
    if (auto* reason = std::get_if<std::string>(&row)) return std::move(*reason);
    fields.sources.push_back(std::move(std::get<StandbyRow>(row)));
  }
  const cJSON* seconds = cJSON_GetObjectItemCaseSensitive(body, "switchOn");
  for (const SwitchCondition condition : kSwitchConditions) {
    const cJSON* text = cJSON_GetObjectItemCaseSensitive(seconds, switch_condition_key(condition));
    if (!cJSON_IsString(text)) {
      return std::string(
          "\"switchOn\" must hold the typed \"black\", \"silence\" and \"frozen\" "
          "seconds (texts)");
    }
    fields.seconds_for(condition) = text->valuestring;
  }
  return fields;
}

WebAnswer standby_stored_answer(const cJSON* body, cJSON* channel) {
  auto read = typed_fields(body, channel);
  if (auto* reason = std::get_if<std::string>(&read)) return text_answer(400, std::move(*reason));
  const StandbyFields& fields = std::get<StandbyFields>(read);
  if (std::optional<EditRefusal> refusal = standby_fields_refusal(fields)) {
    return edit_refusal_answer(refusal->message, refusal->focus);
  }
  store_standby_fields(fields, channel);
  const cJSON* input = config_object(channel, "input");
  const JsonPtr answer(cJSON_CreateObject());
  cJSON* stored = cJSON_AddObjectToObject(answer.get(), "input");
  for (const char* key : {"standby", "switchOn"}) {
    if (const cJSON* item = cJSON_GetObjectItemCaseSensitive(input, key)) {
      cJSON_AddItemToObject(stored, key, cJSON_Duplicate(item, true));
    }
  }
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

std::optional<SourceType> source_type_from_word(std::string_view word) {
  for (const SourceTypeEntry& entry : source_type_entries()) {
    if (word == source_type_word(entry.type)) return entry.type;
  }
  return std::nullopt;
}

namespace {

// What one of the editor's fields paths does with the posted body.
struct FieldsRoad {
  std::string_view without_body;  // the 405's text
  std::variant<JsonPtr, std::string> (*read)(cJSON* body);
  WebAnswer (*show)(const cJSON* channel);
  WebAnswer (*store)(const cJSON* body, cJSON* channel);
};

// Both fields paths: POST only, "?show" or "?store", a JSON object read into the channel's part.
WebAnswer answer_fields(const FieldsRoad& road, std::string_view argument_text,
                        const std::optional<std::string>& body) {
  if (!body) {
    WebAnswer refused = text_answer(405, std::string(road.without_body));
    refused.headers.emplace_back("Allow", "POST");
    return refused;
  }
  const std::optional<FieldsStep> step = fields_step_named(argument_text);
  if (!step) return text_answer(400, "ask for \"?show\" or \"?store\"");
  const JsonPtr posted = json_parse(*body);
  if (!cJSON_IsObject(posted.get())) return text_answer(400, "the body is not a JSON object");
  auto read = road.read(posted.get());
  if (auto* reason = std::get_if<std::string>(&read)) return text_answer(400, std::move(*reason));
  const JsonPtr channel = std::move(std::get<JsonPtr>(read));
  if (*step == FieldsStep::show) return road.show(channel.get());
  return road.store(posted.get(), channel.get());
}

}  // namespace

WebAnswer answer_source_fields(std::string_view argument_text,
                               const std::optional<std::string>& body) {
  static constexpr FieldsRoad kRoad{"post the first source to show or store", posted_channel,
                                    shown_answer, stored_answer};
  return answer_fields(kRoad, argument_text, body);
}

WebAnswer answer_standby_fields(std::string_view argument_text,
                                const std::optional<std::string>& body) {
  static constexpr FieldsRoad kRoad{"post the edited channel's input to show or store",
                                    posted_input, standby_shown_answer, standby_stored_answer};
  return answer_fields(kRoad, argument_text, body);
}

}  // namespace vx
