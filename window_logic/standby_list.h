// The standby list and the switch-on boxes of the window's editor without any toolkit: the rows
// of the shown channel, what the Add, Remove, up and down buttons and a row's type choice do to
// them, and which of their controls are usable. What they show, check and store is
// settings/standby_sources.h, which the administration server answers the browser page with.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <vector>

#include "settings/standby_sources.h"
#include "window_logic/editor_parts.h"

namespace vx {

// Which controls of the list are usable: while the shown channel is the edited one, a row's up
// button but on the first, its down button but on the last, Add below kMaxStandbySources rows.
struct StandbyRowControls {
  bool up = false;
  bool down = false;
};
struct StandbyListControls {
  bool editable = false;  // the types, addresses, Remove buttons and seconds boxes
  bool add = false;
  std::vector<StandbyRowControls> rows;
};

class StandbyList final : public StandbyPart {
 public:
  void load(const cJSON* channel) override;
  std::optional<EditRefusal> validate() const override;
  void save(cJSON* channel) const override;

  // What the list shows. The window writes the typed addresses and seconds here before it calls
  // anything else; the rows change only through the calls below.
  StandbyFields fields;

  // A row added at the end, as a file source without an address; none beyond kMaxStandbySources.
  void add_row();
  void remove_row(int row);
  // The row moves `by` places (-1 up, 1 down) when there is a place there.
  void move_row(int row, int by);
  // A row's type is picked: its address starts afresh; picking the shown type changes nothing.
  void choose_type(int row, SourceType type);

  StandbyListControls controls(bool editing) const;

 private:
  bool holds(int row) const { return row >= 0 && row < static_cast<int>(fields.sources.size()); }
};

}  // namespace vx
