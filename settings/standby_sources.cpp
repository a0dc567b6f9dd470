#include "settings/standby_sources.h"

#include <utility>

#include "config/document.h"
#include "config/json.h"
#include "settings/json_fields.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/records.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

constexpr const char* kStandbyKey = "standby";
constexpr const char* kSwitchOnKey = "switchOn";

EditRefusal config_refusal(std::string text, std::string focus) {
  return {{"Config Error", std::move(text), MessageIcon::information}, std::move(focus)};
}

const char* condition_caption(SwitchCondition condition) {
  switch (condition) {
    case SwitchCondition::black:
      return "Switch on black";
    case SwitchCondition::silence:
      return "Switch on silence";
    case SwitchCondition::frozen:
      return "Switch on frozen";
  }
  return "";
}

// The source a row stores: its origin untouched while the row reads what the origin shows, else
// the origin with the "format" and "url" the typed address stores. A source of another type than
// its origin's starts without input options.
JsonPtr stored_standby_source(const StandbyRow& row) {
  const cJSON* origin = row.origin.get();
  StoredSource stored = stored_source_for(origin, row.type, row.address);
  if (cJSON_IsObject(origin) && stored.kept) return JsonPtr(cJSON_Duplicate(origin, true));
  if (origin == nullptr && stored.kept) stored.format = source_type_entry(stored.type).format;
  const bool fresh = !cJSON_IsObject(origin);
  JsonPtr source(fresh ? cJSON_CreateObject() : cJSON_Duplicate(origin, true));
  config_set_string(source.get(), "format", stored.format);
  config_set_string(source.get(), "url", stored.url);
  if (fresh || stored.type != source_field_texts(origin).type) {
    set_string_array(object_member(source.get(), "video"), "options", {});
  }
  return source;
}

void store_standby_list(const std::vector<StandbyRow>& rows, cJSON* input) {
  JsonPtr list(cJSON_CreateArray());
  for (const StandbyRow& row : rows)
    cJSON_AddItemToArray(list.get(), stored_standby_source(row).release());  // the list owns it
  const cJSON* now = cJSON_GetObjectItemCaseSensitive(input, kStandbyKey);
  const bool empty = rows.empty();
  if (now == nullptr ? empty : cJSON_Compare(now, list.get(), true)) return;
  if (empty) {
    cJSON_DeleteItemFromObjectCaseSensitive(input, kStandbyKey);
  } else {
    config_set_item(input, kStandbyKey, std::move(list));
  }
}

// A box reads what the channel shows while its text is the shown one or the same number.
bool box_untouched(std::string_view typed, const std::string& shown) {
  const std::optional<int> now = switch_on_seconds(typed);
  return without_blanks(typed) == shown || (now && now == switch_on_seconds(shown));
}

void store_switch_on(const StandbyFields& typed, const StandbyFields& shown, cJSON* input) {
  std::array<int, kSwitchConditionCount> seconds{};
  bool untouched = true;
  bool any_on = false;
  for (std::size_t i = 0; i < kSwitchConditionCount; ++i) {
    untouched = untouched && box_untouched(typed.seconds[i], shown.seconds[i]);
    // Without checks an unreadable box keeps what the channel holds.
    seconds[i] = switch_on_seconds(typed.seconds[i])
                     .value_or(switch_on_seconds(shown.seconds[i]).value_or(0));
    any_on = any_on || seconds[i] > 0;
  }
  if (untouched) return;
  if (!any_on) {
    cJSON_DeleteItemFromObjectCaseSensitive(input, kSwitchOnKey);
    return;
  }
  JsonPtr object(cJSON_CreateObject());
  for (const SwitchCondition condition : kSwitchConditions) {
    config_set_int(object.get(), switch_condition_key(condition),
                   seconds[static_cast<std::size_t>(condition)]);
  }
  config_set_item(input, kSwitchOnKey, std::move(object));
}

}  // namespace

const char* switch_condition_key(SwitchCondition condition) {
  return kSwitchOnKeys[static_cast<std::size_t>(condition)];
}

StandbyRow standby_row(const cJSON* source) {
  SourceFieldTexts shown = source_field_texts(source);
  StandbyRow row;
  row.type = shown.type;
  row.address = std::move(shown.address);
  row.origin.reset(cJSON_Duplicate(source, true), cJSON_Delete);
  return row;
}

StandbyRow new_standby_row() {
  return {};
}

StandbyFields standby_fields(const cJSON* channel) {
  StandbyFields fields;
  const cJSON* input = config_object(channel, "input");
  const cJSON* source = nullptr;
  cJSON_ArrayForEach(source, config_array(input, kStandbyKey)) {
    fields.sources.push_back(standby_row(source));
  }
  const cJSON* switch_on = config_object(input, kSwitchOnKey);
  for (const SwitchCondition condition : kSwitchConditions) {
    fields.seconds_for(condition) =
        std::to_string(config_int(switch_on, switch_condition_key(condition)));
  }
  return fields;
}

std::optional<int> switch_on_seconds(std::string_view text) {
  const std::string_view digits = without_blanks(text);
  int value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > kMaxSwitchOnSeconds) return std::nullopt;
  }
  return value;
}

std::string standby_address_control(int row) {
  return "standby_address_" + std::to_string(row);
}

std::string switch_on_control(SwitchCondition condition) {
  return std::string("switch_on_") + switch_condition_key(condition);
}

std::optional<EditRefusal> standby_fields_refusal(const StandbyFields& fields) {
  if (fields.sources.size() > static_cast<std::size_t>(kMaxStandbySources)) {
    return config_refusal(
        "Error: At most " + std::to_string(kMaxStandbySources) + " standby sources are allowed!",
        "");
  }
  int number = 0;
  for (const StandbyRow& row : fields.sources) {
    ++number;
    if (source_cells_refusal(row.type, row.address, "", std::nullopt, std::nullopt, 0)) {
      return config_refusal("Error: Standby source " + std::to_string(number) + " address invalid!",
                            standby_address_control(number));
    }
  }
  for (const SwitchCondition condition : kSwitchConditions) {
    if (switch_on_seconds(fields.seconds_for(condition))) continue;
    return config_refusal(std::string("Error: ") + condition_caption(condition) +
                              " takes whole seconds from 0 (off) to " +
                              std::to_string(kMaxSwitchOnSeconds) + "!",
                          switch_on_control(condition));
  }
  return std::nullopt;
}

void store_standby_fields(const StandbyFields& fields, cJSON* channel) {
  cJSON* input = object_member(channel, "input");
  if (input == nullptr) return;
  const StandbyFields shown = standby_fields(channel);
  store_standby_list(fields.sources, input);
  store_switch_on(fields, shown, input);
}

}  // namespace vx
