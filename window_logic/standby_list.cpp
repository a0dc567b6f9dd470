#include "window_logic/standby_list.h"

#include <utility>

#include "vocabulary/input_switch_report.h"

namespace vx {

void StandbyList::load(const cJSON* channel) {
  fields = standby_fields(channel);
}

std::optional<EditRefusal> StandbyList::validate() const {
  return standby_fields_refusal(fields);
}

void StandbyList::save(cJSON* channel) const {
  store_standby_fields(fields, channel);
}

void StandbyList::add_row() {
  if (fields.sources.size() >= static_cast<std::size_t>(kMaxStandbySources)) return;
  fields.sources.push_back(new_standby_row());
}

void StandbyList::remove_row(int row) {
  if (holds(row)) fields.sources.erase(fields.sources.begin() + row);
}

void StandbyList::move_row(int row, int by) {
  if (holds(row) && holds(row + by)) std::swap(fields.sources[row], fields.sources[row + by]);
}

void StandbyList::choose_type(int row, SourceType type) {
  if (!holds(row) || fields.sources[row].type == type) return;
  fields.sources[row].type = type;
  fields.sources[row].address = default_source_address(type);
}

StandbyListControls StandbyList::controls(bool editing) const {
  StandbyListControls controls;
  controls.editable = editing;
  controls.add = editing && fields.sources.size() < static_cast<std::size_t>(kMaxStandbySources);
  const int count = static_cast<int>(fields.sources.size());
  for (int row = 0; row < count; ++row) {
    controls.rows.push_back({editing && row > 0, editing && row + 1 < count});
  }
  return controls;
}

}  // namespace vx
