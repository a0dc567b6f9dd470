// A channel's standby sources and its switch-on seconds as the channel editor shows and stores
// them, without any toolkit: what the list and the three seconds boxes show for a channel, their
// checks, and what they store once edited (a standby source and the seconds left untouched are
// stored as they were). Each standby source follows the source cells' rules
// (settings/source_address.h). The window's editor and the administration server (for the
// browser page) both use these.
#pragma once

#include <cjson/cJSON.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/editor_checks.h"
#include "settings/source_address.h"

namespace vx {

// What makes the next input go on air, in the order of the boxes; each is the key of the
// channel's "input" "switchOn" object named by switch_condition_key.
enum class SwitchCondition { black, silence, frozen };
inline constexpr std::size_t kSwitchConditionCount = 3;
inline constexpr std::array<SwitchCondition, kSwitchConditionCount> kSwitchConditions = {
    SwitchCondition::black, SwitchCondition::silence, SwitchCondition::frozen};
const char* switch_condition_key(SwitchCondition condition);

// One row of the list: the type and address as the operator reads them, and the stored source
// it was shown from (none for a row added in the editor), which it stays while they still read
// what it shows.
struct StandbyRow {
  SourceType type = SourceType::file;
  std::string address;
  std::shared_ptr<const cJSON> origin;
};

// The list and the seconds boxes. The seconds are texts as typed; "0" (or nothing) is off.
struct StandbyFields {
  std::vector<StandbyRow> sources;
  std::array<std::string, kSwitchConditionCount> seconds{"0", "0", "0"};

  std::string& seconds_for(SwitchCondition condition) {
    return seconds[static_cast<std::size_t>(condition)];
  }
  const std::string& seconds_for(SwitchCondition condition) const {
    return seconds[static_cast<std::size_t>(condition)];
  }
};

// The row a standby source shows as.
StandbyRow standby_row(const cJSON* source);
// A row added in the editor: no address yet, stored as a file source once typed.
StandbyRow new_standby_row();

// What the editor shows for a channel: its "input" "standby" sources in order, and its
// "input" "switchOn" seconds (a missing one as "0").
StandbyFields standby_fields(const cJSON* channel);

// The seconds a box's text stands for: a whole number from 0 to kMaxSwitchOnSeconds, blanks
// around it allowed, nothing as 0; nullopt for anything else.
std::optional<int> switch_on_seconds(std::string_view text);

// Focus names of the list's controls in a refusal: "standby_address_K" (K from 1) for a row's
// address, "switch_on_black", "switch_on_silence", "switch_on_frozen" for the boxes.
std::string standby_address_control(int row);
std::string switch_on_control(SwitchCondition condition);

// The first rule the fields break, or nullopt: more than kMaxStandbySources rows, a row whose
// address the source cells would refuse (blank, a control character, a stray double quote), a
// box that holds no switch_on_seconds. Whether the stored sources suit a standby (its format, a
// channel that copies streams) is the document's check, made when it is applied.
std::optional<EditRefusal> standby_fields_refusal(const StandbyFields& fields);

// Writes the fields into the channel's "input" (made when missing); no checks. Each row stores
// its source as the source cells store one (stored_source_for over its origin), a row whose type
// changed starting without input options. A list that stores what the channel holds leaves it as
// it is (byte for byte, a missing list missing); an empty one removes "standby". Boxes that read
// what the channel's seconds show leave them as they are; otherwise all three are written, and
// "switchOn" is removed when all are off.
void store_standby_fields(const StandbyFields& fields, cJSON* channel);

}  // namespace vx
