// The pieces the editing workflow drives while a channel is edited: the editor panel (its
// controls for one target), the source cells of the list row being edited and the standby list
// under them. The workflow
// (ChannelEditor) owns the working copy; each piece loads from it, checks what the operator
// typed and saves into it, and says what the window must show instead of showing it.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>

#include "settings/editor_checks.h"

namespace vx {

// The editor panel as the workflow uses it.
class EditorPanelPart {
 public:
  virtual ~EditorPanelPart() = default;
  // Shows target `target` of the channel (and the channel-wide values).
  virtual void load(const cJSON* channel, int target) = 0;
  // The first rule the shown values break, or nullopt when they may be saved.
  virtual std::optional<EditRefusal> validate() const = 0;
  // Writes the shown values into target `target` of the channel; no checks.
  virtual void save(cJSON* channel, int target) const = 0;
};

// The source, bind and memo cells of one list row as the workflow uses them.
class SourceCellsPart {
 public:
  virtual ~SourceCellsPart() = default;
  // Opens the cells of `row`, filled from the channel.
  virtual void open(int row, const cJSON* channel) = 0;
  // The row whose cells are open; nullopt when none is.
  virtual std::optional<int> open_row() const = 0;
  // Checks the cells and, when they pass, writes them into the channel and closes them. A
  // refusal leaves the cells open and the channel untouched.
  virtual std::optional<EditRefusal> close_checked(cJSON* channel) = 0;
  // Writes the cells into the channel without checks; they stay open.
  virtual void commit(cJSON* channel) = 0;
  // Closes the cells without checks or writing.
  virtual void close() = 0;
};

// The standby sources and switch-on seconds of the shown channel as the workflow uses them. They
// belong to the channel, not to a target: a change of tab leaves them as they are.
class StandbyPart {
 public:
  virtual ~StandbyPart() = default;
  // Shows the channel's standby sources and seconds.
  virtual void load(const cJSON* channel) = 0;
  // The first rule the shown values break, or nullopt when they may be saved.
  virtual std::optional<EditRefusal> validate() const = 0;
  // Writes the shown values into the channel; no checks.
  virtual void save(cJSON* channel) const = 0;
};

}  // namespace vx
