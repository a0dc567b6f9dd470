// The editing workflow of the desktop window without a toolkit: the working copy of the channel
// being edited and the edit state (which row, new or not, the selected target tab, whether the
// advanced panels are shown), with New, Edit, Apply (the source cells, the standby list, the
// panel, then the document's checks), Cancel, Remove, the target tabs, the
// "Enable Video" and "Enable Audio" boxes and the DeckLink output pick. Every operation says
// what the window must show instead of showing it, and none returns with the core lock held.
#pragma once

#include <cjson/cJSON.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/json.h"
#include "devices/decklink.h"
#include "settings/advanced_format.h"
#include "settings/advanced_video.h"
#include "window_logic/editor_parts.h"
#include "settings/editor_values.h"
#include "vocabulary/channel_state.h"

namespace vx {

// The target tabs as the window draws them. Positions 0 .. labels.size() - 1 are the targets;
// while the edited row is shown, "+" and "-" follow at labels.size() and labels.size() + 1.
// The window shows the strip only for the formats that carry several targets.
struct TargetTabs {
  std::vector<std::string> labels;  // "stream" alone for a channel without targets
  bool add_remove = false;
  int selected = 0;

  int plus_position() const { return static_cast<int>(labels.size()); }
  int minus_position() const { return static_cast<int>(labels.size()) + 1; }
};

// Which advanced panels are open: shown over the editor area, or closed with OK while their
// values wait for Apply (the format panel). Apply and a change of tab write the open ones.
struct AdvancedPanels {
  bool format = false;
  bool video = false;
};

// What the channel list must change. Rows mirror the document's channels, plus the row of a
// channel being created.
struct RowChanges {
  std::optional<int> added;     // a row appended at this position (New)
  std::optional<int> removed;   // this row deleted, later rows renumbered (Remove, Cancel of New)
  std::vector<int> redrawn;     // rows whose text cells are read again from the document
  std::optional<int> selected;  // select this row and scroll it into view
  bool none_selected = false;   // no row is left to select
  // The document was replaced elsewhere: rebuild the list from the document, then add the row
  // of the channel being created (edited_row() when editing_new_channel()).
  bool rebuild = false;
};

// What an operation leaves for the window to show, after the call has returned.
struct EditorOutcome {
  std::vector<DialogMessage> messages;  // shown in order
  std::string focus;                    // the control that gets the focus afterwards; "" none
  // A question to ask (OK and Cancel); on OK the window calls the matching confirm_ operation.
  std::optional<DialogMessage> question;
  RowChanges rows;
  TargetTabs tabs;          // the strip as it is now
  AdvancedPanels advanced;  // the panels as they are now
};

// What the window's Target URL, frame size and frame rate controls become after a DeckLink card
// was picked for output.
struct DeckLinkOutputPick {
  std::string target_url;
  std::optional<int> width;
  std::optional<int> height;
  std::optional<int> frame_size_choice;  // index into kFrameSizeChoices
  std::optional<std::string> frame_rate;

  // Puts the pick into the panel's values: the card as the Target URL and, when the format gave
  // them, the size and the frame rate.
  void apply_to(EditorValues& values) const;
};

// The pieces the workflow drives; the window owns them, draws them, and keeps them alive as
// long as the editor.
struct EditorParts {
  EditorPanelPart& panel;
  SourceCellsPart& cells;
  AdvancedFormatSettings& advanced_format;
  AdvancedVideoSettings& advanced_video;
  StandbyPart& standby;
};

// What the workflow asks of the program around it.
struct EditorHooks {
  // The state a row shows (the supervisor's row_state).
  std::function<ChannelState(int row)> row_state;
  // Saves the document; called without the core lock.
  std::function<void()> commit_configuration;
  // A channel was appended at `row` / removed from `row`; called under the core lock right after
  // the document changed, so the supervisor's rows never disagree with it (Supervisor::add_row
  // and Supervisor::remove_row). Either may be empty.
  std::function<void(int row)> channel_appended;
  std::function<void(int row)> channel_removed;
};

enum class MediaKind { video, audio };

// The focus of a refusal that came from the advanced format panel: the window shows the panel.
inline constexpr const char* kAdvancedFormatPanel = "advanced_format_panel";

class ChannelEditor {
 public:
  ChannelEditor(EditorParts parts, EditorHooks hooks);
  ~ChannelEditor();
  ChannelEditor(const ChannelEditor&) = delete;
  ChannelEditor& operator=(const ChannelEditor&) = delete;

  bool editing() const { return working_ != nullptr; }
  bool editing_new_channel() const { return editing() && is_new_; }
  // The row of the channel being edited; -1 when none is.
  int edited_row() const { return editing() ? row_ : -1; }
  std::optional<int> selected_row() const { return selected_row_; }
  // The working copy, for the audio settings dialog and the panel's change handlers; valid
  // until the next Apply or Cancel, null when not editing. Never put it into the document.
  cJSON* editing_channel() { return working_.get(); }
  // Apply is offered: a channel is edited and its row is the selected one.
  bool edited_row_shown() const { return editing() && selected_row_ == row_; }

  // The list's selection changed: the panel shows the working copy on the edited row and the
  // stored channel on any other (what was typed on the edited row is kept first).
  EditorOutcome select_row(std::optional<int> row);

  EditorOutcome new_channel();
  EditorOutcome edit(int row);
  EditorOutcome apply();
  EditorOutcome cancel();

  // Asks before removing (outcome.question) unless a channel from `row` on is not idle; on OK
  // the window calls confirm_remove(row), which checks again since the answer took a while.
  EditorOutcome remove(int row);
  EditorOutcome confirm_remove(int row);

  // The tab at `position` was chosen (the "+" and "-" positions of TargetTabs included). "-"
  // always takes the last tab; when that tab is the one shown, what was typed into it goes with
  // it unchecked, so a "+" can always be taken back.
  EditorOutcome select_tab(int position);
  // The panel picked another target format: the channel keeps its first target only.
  EditorOutcome target_format_changed();

  EditorOutcome show_advanced_format();
  EditorOutcome show_advanced_video();
  // The video panel's OK: its tabs are written into the working copy at once (a warning comes
  // back as a message) and the panel is closed. Its Cancel only hides it: what the operator set
  // stays in the tabs and Apply writes it.
  EditorOutcome advanced_video_ok();
  // The format panel's Cancel: the panel has gone back to the working copy's values, so nothing
  // of it is left for Apply to write. Its OK only hides it: Apply writes its values.
  EditorOutcome advanced_format_cancelled();

  // "Enable Video" or "Enable Audio" changed on the shown channel's current target (the window
  // has put the box into the panel's values): the one place the box reaches a channel.
  EditorOutcome set_media_enabled(MediaKind media, bool enabled);

  // The global settings changed: the panel is loaded again from what the selected row shows.
  EditorOutcome reload_panel();

  // A DeckLink card (and maybe one of its modes) was picked for output; nullopt when not editing.
  std::optional<DeckLinkOutputPick> pick_decklink_output(
      const std::string& card, const std::optional<DeckLinkDisplayMode>& mode);

  TargetTabs tabs() const;
  AdvancedPanels advanced_panels() const { return advanced_; }

 private:
  struct PendingRemoval {
    int row = -1;
    JsonPtr channel;  // the channel the operator was asked about
  };

  // Runs `body` under the core lock and fills in the tabs and panels; when it reports a change
  // of the document, saves it once the lock is let go.
  EditorOutcome run(const std::function<bool(EditorOutcome&)>& body);
  bool commit_panels(EditorOutcome& outcome);
  void save_advanced_video(EditorOutcome& outcome);
  TargetTabs tabs_locked() const;
  const cJSON* shown_channel() const;
  int shown_target() const;
  // The panel and the standby list show the shown channel; the panel alone its shown target.
  void load_panel();
  void load_target_panel();
  void load_advanced_panels();
  void release_advanced_panels();
  void reopen_cells();
  bool base_still_stored(EditorOutcome& outcome);
  void move_bind_item(int master_before, int master_now);
  void put_working_copy_in_place();
  bool later_rows_idle(int row, EditorOutcome& outcome) const;
  JsonPtr proposed_document(const std::function<void(cJSON*)>& change) const;
  std::vector<bool> rows_not_idle() const;
  void end_edit();

  EditorParts parts_;
  EditorHooks hooks_;
  JsonPtr working_;  // the channel being edited; null when none is
  // The stored channel as it was when the edit began (a new channel has none), to notice a
  // document replaced while the channel was edited.
  JsonPtr base_;
  bool is_new_ = false;
  int row_ = -1;
  std::optional<int> selected_row_;
  int selected_tab_ = 0;
  AdvancedPanels advanced_;
  PendingRemoval pending_removal_;
};

}  // namespace vx
