#include "window_logic/channel_editor.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "app/supervisor.h"
#include "config/core_lock.h"
#include "config/document.h"
#include "config/document_check.h"
#include "config/store.h"
#include "settings/choice_tables.h"
#include "settings/edited_channel.h"
#include "settings/json_fields.h"
#include "settings/target_address.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

constexpr const char* kLoneTabLabel = "stream";
constexpr const char* kChangedElsewhereCaption = "Configuration Changed";

DialogMessage running_channel_notice() {
  return {"Settings Update",
          "Settings updated on live transcoding channel.\nRestarting channel is required to make "
          "effect!",
          MessageIcon::information};
}

DialogMessage too_many_targets() {
  return {"Settings", "Sorry, 5 streams MAX are allowed in multi bitrate streaming.",
          MessageIcon::error};
}

DialogMessage confirm_removing() {
  return {"Confirm Removing", "Remove this channel?", MessageIcon::information};
}

DialogMessage changed_elsewhere(std::string text) {
  return {kChangedElsewhereCaption, std::move(text), MessageIcon::warning};
}

std::string number(int value) {
  return std::to_string(value);
}

cJSON* channel_list() {
  cJSON* document = config_document();
  if (!cJSON_IsObject(document)) return nullptr;
  if (cJSON* channels = config_array(document, "channels")) return channels;
  return cJSON_AddArrayToObject(document, "channels");
}

int channel_count() {
  return cJSON_GetArraySize(config_array(config_document(), "channels"));
}

cJSON* stored_channel(int index) {
  if (index < 0) return nullptr;
  cJSON* channel = cJSON_GetArrayItem(config_array(config_document(), "channels"), index);
  return cJSON_IsObject(channel) ? channel : nullptr;
}

cJSON* targets_of(const cJSON* channel) {
  return const_cast<cJSON*>(config_array(config_object(channel, "output"), "targets"));
}

int target_count(const cJSON* channel) {
  return cJSON_GetArraySize(targets_of(channel));
}

int positive_bind(const cJSON* channel) {
  return std::max(0, config_int(channel, "bind"));
}

JsonPtr copy_of(const cJSON* channel) {
  return JsonPtr(cJSON_Duplicate(channel, true));
}

// Whether two channels hold the same settings. "enable" is the run mark that starting and
// stopping write; it belongs to the channel commands, not to an edit.
bool same_settings(const cJSON* a, const cJSON* b) {
  const JsonPtr left = copy_of(a);
  const JsonPtr right = copy_of(b);
  if (!left || !right) return false;
  cJSON_DeleteItemFromObjectCaseSensitive(left.get(), "enable");
  cJSON_DeleteItemFromObjectCaseSensitive(right.get(), "enable");
  return cJSON_Compare(left.get(), right.get(), true);
}

}  // namespace

ChannelEditor::ChannelEditor(EditorParts parts, EditorHooks hooks)
    : parts_(parts), hooks_(std::move(hooks)) {}

ChannelEditor::~ChannelEditor() {
  release_advanced_panels();
}

// ----- the frame of every operation ------------------------------------------------------------

EditorOutcome ChannelEditor::run(const std::function<bool(EditorOutcome&)>& body) {
  EditorOutcome outcome;
  bool changed = false;
  {
    const CoreLock lock = core_lock();
    changed = body(outcome);
    outcome.tabs = tabs_locked();
    outcome.advanced = advanced_;
  }
  // Saved after the lock is let go, so no disk write holds the other thread.
  if (changed && hooks_.commit_configuration) hooks_.commit_configuration();
  return outcome;
}

// ----- what the panel shows --------------------------------------------------------------------

const cJSON* ChannelEditor::shown_channel() const {
  if (!selected_row_) return nullptr;
  if (editing() && *selected_row_ == row_) return working_.get();
  return stored_channel(*selected_row_);
}

int ChannelEditor::shown_target() const {
  return selected_tab_ < target_count(shown_channel()) ? selected_tab_ : 0;
}

void ChannelEditor::load_panel() {
  parts_.standby.load(shown_channel());
  load_target_panel();
}

void ChannelEditor::load_target_panel() {
  const cJSON* shown = shown_channel();
  if (shown == nullptr) return;
  selected_tab_ = shown_target();
  parts_.panel.load(shown, selected_tab_);
}

TargetTabs ChannelEditor::tabs() const {
  const CoreLock lock = core_lock();
  return tabs_locked();
}

TargetTabs ChannelEditor::tabs_locked() const {
  TargetTabs tabs;
  const cJSON* shown = shown_channel();
  if (shown == nullptr) return tabs;
  const cJSON* target = nullptr;
  cJSON_ArrayForEach(target, targets_of(shown)) {
    tabs.labels.push_back(target_stream_name(config_string(target, "url")));
  }
  if (tabs.labels.empty()) tabs.labels.emplace_back(kLoneTabLabel);
  tabs.add_remove = edited_row_shown();
  tabs.selected = shown_target();
  return tabs;
}

EditorOutcome ChannelEditor::select_row(std::optional<int> row) {
  return run([&](EditorOutcome&) {
    // What was typed on the edited row stays in the working copy while another row is shown.
    if (edited_row_shown() && row != row_) {
      parts_.panel.save(working_.get(), shown_target());
      parts_.standby.save(working_.get());
    }
    const bool exists = row && (stored_channel(*row) != nullptr || (editing() && *row == row_));
    selected_row_ = exists ? row : std::nullopt;
    load_panel();
    return false;
  });
}

EditorOutcome ChannelEditor::reload_panel() {
  return run([&](EditorOutcome&) {
    if (edited_row_shown()) {
      parts_.panel.save(working_.get(), shown_target());
      parts_.standby.save(working_.get());
    }
    load_panel();
    return false;
  });
}

// ----- the advanced panels ---------------------------------------------------------------------

// The panels keep a pointer to the channel they were loaded from; they only ever get the working
// copy, and let go of it before it is handed to the document or freed.
void ChannelEditor::load_advanced_panels() {
  parts_.advanced_format.load_channel(working_.get(), shown_target());
  parts_.advanced_video.load_channel(working_.get(), shown_target());
}

void ChannelEditor::release_advanced_panels() {
  parts_.advanced_format.load_channel(nullptr, 0);
  parts_.advanced_video.load_channel(nullptr, 0);
  advanced_ = {};
}

EditorOutcome ChannelEditor::show_advanced_format() {
  return run([&](EditorOutcome&) {
    if (!edited_row_shown() || advanced_.format) return false;
    parts_.cells.commit(working_.get());
    parts_.panel.save(working_.get(), shown_target());
    parts_.advanced_format.load_channel(working_.get(), shown_target());
    advanced_.format = true;
    return false;
  });
}

EditorOutcome ChannelEditor::show_advanced_video() {
  return run([&](EditorOutcome&) {
    if (!edited_row_shown() || advanced_.video) return false;
    parts_.advanced_video.load_channel(working_.get(), shown_target());
    advanced_.video = true;
    return false;
  });
}

void ChannelEditor::save_advanced_video(EditorOutcome& outcome) {
  if (!advanced_.video) return;
  parts_.advanced_video.save_channel();
  if (const auto& warning = parts_.advanced_video.last_warning()) {
    outcome.messages.push_back(
        {std::string(warning->title), std::string(warning->text), MessageIcon::warning});
  }
  advanced_.video = false;
}

EditorOutcome ChannelEditor::advanced_video_ok() {
  return run([&](EditorOutcome& outcome) {
    if (editing()) save_advanced_video(outcome);
    return false;
  });
}

EditorOutcome ChannelEditor::advanced_format_cancelled() {
  return run([&](EditorOutcome&) {
    advanced_.format = false;
    return false;
  });
}

// Checks the panel and writes it, and the advanced panels that are shown, into the working copy
// for the shown tab. A hidden advanced panel holds nothing the operator changed since it was
// last written, so it is not written again: its options would come back over those a change of
// encoder has just emptied.
bool ChannelEditor::commit_panels(EditorOutcome& outcome) {
  if (std::optional<EditRefusal> refusal = parts_.panel.validate()) {
    outcome.messages.push_back(refusal->message);
    outcome.focus = refusal->focus;
    return false;
  }
  parts_.panel.save(working_.get(), shown_target());
  save_advanced_video(outcome);
  if (advanced_.format) {
    if (!parts_.advanced_format.save_channel()) {
      if (parts_.advanced_format.rejection) {
        outcome.messages.push_back(*parts_.advanced_format.rejection);
      }
      outcome.focus = kAdvancedFormatPanel;  // it may have been closed with OK: show it again
      return false;
    }
    advanced_.format = false;
  }
  // The document with this channel in place passes the checks a post of the document passes
  // (a pasted line feed, a second target of a single-target format, a bind to no channel, a mix
  // of targets this system cannot run), and is refused with the same words.
  JsonPtr proposed = proposed_document([this](cJSON* channels) {
    JsonPtr copy = copy_of(working_.get());
    if (!is_new_ && row_ < cJSON_GetArraySize(channels)) {
      if (cJSON_ReplaceItemInArray(channels, row_, copy.get())) copy.release();
    } else if (cJSON_AddItemToArray(channels, copy.get())) {
      copy.release();
    }
  });
  if (std::optional<DocumentRefusal> refusal =
          document_refusal(proposed.get(), config_document(), rows_not_idle())) {
    outcome.messages.push_back({kProductName, refusal->reason + "; nothing was applied"});
    return false;
  }
  return true;
}

// A copy of the stored document with `change` made to its channel list.
JsonPtr ChannelEditor::proposed_document(const std::function<void(cJSON*)>& change) const {
  JsonPtr copy(cJSON_Duplicate(config_document(), true));
  cJSON* channels = config_array(copy.get(), "channels");
  if (channels == nullptr && copy) channels = cJSON_AddArrayToObject(copy.get(), "channels");
  if (channels != nullptr) change(channels);
  return copy;
}

std::vector<bool> ChannelEditor::rows_not_idle() const {
  std::vector<bool> busy;
  for (int row = 0; row < channel_count() && hooks_.row_state; ++row) {
    busy.push_back(hooks_.row_state(row) != ChannelState::idle);
  }
  return busy;
}

// ----- New, Edit, Apply, Cancel ----------------------------------------------------------------

EditorOutcome ChannelEditor::new_channel() {
  return run([&](EditorOutcome& outcome) {
    const int count = channel_count();
    if (editing() || count >= kMaxChannels) return false;
    working_ = channel_template();
    base_.reset();
    is_new_ = true;
    row_ = count;
    parts_.cells.open(row_, working_.get());
    selected_row_ = row_;
    selected_tab_ = 0;
    load_advanced_panels();
    load_panel();
    outcome.rows.added = row_;
    outcome.rows.selected = row_;
    return false;
  });
}

EditorOutcome ChannelEditor::edit(int row) {
  return run([&](EditorOutcome& outcome) {
    const cJSON* stored = stored_channel(row);
    if (editing() || stored == nullptr) return false;
    working_ = copy_of(stored);
    base_ = copy_of(stored);
    is_new_ = false;
    row_ = row;
    parts_.cells.open(row_, working_.get());
    selected_row_ = row_;
    load_advanced_panels();
    load_panel();
    outcome.rows.selected = row_;
    return false;
  });
}

void ChannelEditor::reopen_cells() {
  parts_.cells.open(row_, working_.get());
}

// Whether the channel the edit began from is still the stored one. When the document was
// replaced meanwhile (the web administration posts whole documents), the operator is told once
// and the edit moves onto the document as it is now: Apply again puts the settings in place of
// the channel now stored at that row, or appends them when that row is gone; Cancel keeps what
// is stored. Nothing is written into a channel the operator has not been told about.
bool ChannelEditor::base_still_stored(EditorOutcome& outcome) {
  const int count = channel_count();
  const cJSON* stored = is_new_ ? nullptr : stored_channel(row_);
  if (is_new_ ? row_ == count : same_settings(stored, base_.get())) return true;
  if (stored != nullptr) {
    outcome.messages.push_back(changed_elsewhere(
        "Channel " + number(row_ + 1) +
        " was changed in the web administration while you edited it.\nApply again to put your "
        "settings in its place, or Cancel to keep the stored ones."));
    base_ = copy_of(stored);
    outcome.rows.redrawn.push_back(row_);
    return false;
  }
  outcome.rows.rebuild = true;
  if (count >= kMaxChannels) {
    outcome.messages.push_back(changed_elsewhere(
        "The channel list was changed in the web administration and holds " + number(count) +
        " channels now.\nThis channel cannot be added; Cancel to drop it."));
    return false;
  }
  outcome.messages.push_back(changed_elsewhere(
      is_new_ ? "The channel list was changed in the web administration while you created this "
                "channel.\nApply again to add it as channel " +
                    number(count + 1) + ", or Cancel to drop it."
              : "Channel " + number(row_ + 1) +
                    " was removed in the web administration while you edited it.\nApply again "
                    "to add your settings as channel " +
                    number(count + 1) + ", or Cancel to drop them."));
  is_new_ = true;
  base_.reset();
  row_ = count;
  selected_row_ = row_;
  return false;
}

void ChannelEditor::move_bind_item(int master_before, int master_now) {
  vx::move_bind_item(channel_list(), row_ + 1, master_before, master_now);
}

void ChannelEditor::put_working_copy_in_place() {
  cJSON* channels = channel_list();
  if (is_new_) {
    keep_run_mark(working_.get(), nullptr);
    if (!cJSON_AddItemToArray(channels, working_.get())) return;
    working_.release();  // the document owns it now
    if (hooks_.channel_appended) hooks_.channel_appended(row_);
    return;
  }
  // The run mark may have changed while the channel was edited (started or stopped).
  keep_run_mark(working_.get(), stored_channel(row_));
  if (cJSON_ReplaceItemInArray(channels, row_, working_.get())) {
    working_.release();  // the document owns it now
  }
}

void ChannelEditor::end_edit() {
  release_advanced_panels();
  working_.reset();
  base_.reset();
  is_new_ = false;
  row_ = -1;
}

EditorOutcome ChannelEditor::apply() {
  int applied_row = -1;
  EditorOutcome outcome = run([&](EditorOutcome& result) {
    if (!edited_row_shown()) return false;
    if (std::optional<EditRefusal> refusal = parts_.cells.close_checked(working_.get())) {
      result.messages.push_back(refusal->message);
      result.focus = refusal->focus;
      return false;
    }
    if (std::optional<EditRefusal> refusal = parts_.standby.validate()) {
      reopen_cells();
      result.messages.push_back(refusal->message);
      result.focus = refusal->focus;
      return false;
    }
    parts_.standby.save(working_.get());
    // Every check comes before the bind bookkeeping, so a refused Apply changes no channel.
    if (!commit_panels(result) || !base_still_stored(result)) {
      reopen_cells();
      result.rows.selected = row_;
      return false;
    }
    if (channel_list() == nullptr) {
      reopen_cells();
      return false;
    }
    move_bind_item(is_new_ ? 0 : positive_bind(stored_channel(row_)),
                   positive_bind(working_.get()));
    put_working_copy_in_place();
    applied_row = row_;
    end_edit();
    selected_row_ = applied_row;
    load_panel();
    result.rows.redrawn.push_back(applied_row);
    result.rows.selected = applied_row;
    return true;
  });
  if (applied_row >= 0 && hooks_.row_state && hooks_.row_state(applied_row) != ChannelState::idle) {
    outcome.messages.push_back(running_channel_notice());
  }
  return outcome;
}

EditorOutcome ChannelEditor::cancel() {
  return run([&](EditorOutcome& outcome) {
    if (!editing()) return false;
    const int row = row_;
    const bool was_new = is_new_;
    parts_.cells.close();
    end_edit();
    const int count = channel_count();
    if (was_new) {
      // The document never held the channel: only its row goes.
      outcome.rows.removed = row;
      const int below = row < count ? row : count - 1;
      selected_row_ = below >= 0 ? std::optional<int>(below) : std::nullopt;
    } else {
      selected_row_ = row < count ? std::optional<int>(row) : std::nullopt;
      if (selected_row_) outcome.rows.redrawn.push_back(row);
      outcome.rows.rebuild = !selected_row_;  // the document lost the channel meanwhile
    }
    outcome.rows.selected = selected_row_;
    outcome.rows.none_selected = !selected_row_;
    load_panel();
    return false;
  });
}

// ----- Remove ----------------------------------------------------------------------------------

// Removing moves every later channel to the row before it, and with it its engine slot: the
// rule that keeps running channels where they are is the one a post of the document passes.
bool ChannelEditor::later_rows_idle(int row, EditorOutcome& outcome) const {
  const JsonPtr proposed = proposed_document([row](cJSON* channels) { remove_channel(channels, row); });
  if (std::optional<DocumentRefusal> refusal =
          running_channel_refusal(proposed.get(), config_document(), rows_not_idle())) {
    outcome.messages.push_back({"Remove", refusal->reason, MessageIcon::information});
    return false;
  }
  return true;
}

EditorOutcome ChannelEditor::remove(int row) {
  return run([&](EditorOutcome& outcome) {
    const cJSON* stored = stored_channel(row);
    pending_removal_ = {};
    if (editing() || stored == nullptr || !later_rows_idle(row, outcome)) return false;
    pending_removal_ = {row, copy_of(stored)};
    outcome.question = confirm_removing();
    return false;
  });
}

EditorOutcome ChannelEditor::confirm_remove(int row) {
  return run([&](EditorOutcome& outcome) {
    PendingRemoval asked = std::exchange(pending_removal_, {});
    if (editing() || asked.row != row || !asked.channel) return false;
    // The question was open without the lock: the channel may have started or been replaced.
    const cJSON* stored = stored_channel(row);
    if (stored == nullptr || !same_settings(stored, asked.channel.get())) {
      outcome.messages.push_back(
          changed_elsewhere("Channel " + number(row + 1) +
                            " was changed in the web administration before it could be "
                            "removed.\nNothing was removed."));
      outcome.rows.rebuild = true;
      return false;
    }
    if (!later_rows_idle(row, outcome)) return false;
    // The binds of the later channels follow their new numbers; those to this channel go.
    if (!remove_channel(channel_list(), row)) return false;
    if (hooks_.channel_removed) hooks_.channel_removed(row);
    parts_.cells.close();
    const int count = channel_count();
    outcome.rows.removed = row;
    for (int kept = 0; kept < count; ++kept)
      outcome.rows.redrawn.push_back(kept);
    selected_row_ = count > 0 ? std::optional<int>(std::min(row, count - 1)) : std::nullopt;
    outcome.rows.selected = selected_row_;
    outcome.rows.none_selected = !selected_row_;
    load_panel();
    return true;
  });
}

// ----- target tabs -----------------------------------------------------------------------------

EditorOutcome ChannelEditor::select_tab(int position) {
  return run([&](EditorOutcome& outcome) {
    if (!edited_row_shown()) {
      // Another row is shown: the tabs only show its targets.
      if (position >= 0 && position < target_count(shown_channel())) selected_tab_ = position;
      load_target_panel();
      return false;
    }
    const int targets = target_count(working_.get());
    if (position == shown_target() || position < 0 || position > targets + 1) return false;
    // "-" on the last tab takes it back with what was typed into it, so the panel has no say:
    // a tab just added repeats the name of the one before and would never pass the check of
    // duplicate names. The advanced panels shown for it go with it.
    const bool drops_shown_tab =
        position == targets + 1 && targets >= 2 && shown_target() == targets - 1;
    if (drops_shown_tab) {
      advanced_ = {};
    } else if (!commit_panels(outcome)) {
      return false;  // the tab does not change
    }
    cJSON* list = targets_of(working_.get());
    if (position == targets) {
      if (targets >= kMaxChannelTargets) {
        outcome.messages.push_back(too_many_targets());
      } else if (targets > 0) {
        cJSON_AddItemToArray(list, cJSON_Duplicate(cJSON_GetArrayItem(list, targets - 1), true));
        selected_tab_ = targets;
      }
    } else if (position == targets + 1) {
      // The last target goes, whichever tab was shown.
      if (targets >= 2) {
        cJSON_DeleteItemFromArray(list, targets - 1);
        selected_tab_ = targets - 2;
      }
    } else {
      selected_tab_ = position;
    }
    load_advanced_panels();
    load_target_panel();
    return false;
  });
}

EditorOutcome ChannelEditor::target_format_changed() {
  return run([&](EditorOutcome&) {
    if (!edited_row_shown()) return false;
    cJSON* list = targets_of(working_.get());
    while (cJSON_GetArraySize(list) > 1)
      cJSON_DeleteItemFromArray(list, cJSON_GetArraySize(list) - 1);
    selected_tab_ = 0;
    load_advanced_panels();
    return false;
  });
}

// ----- direct switches and pickers -------------------------------------------------------------

EditorOutcome ChannelEditor::set_media_enabled(MediaKind media, bool enabled) {
  return run([&](EditorOutcome&) {
    // The box belongs to the channel the panel shows: the working copy on the edited row (the
    // document gets it with Apply, and Cancel drops it), the stored channel anywhere else.
    const bool on_working_copy = edited_row_shown();
    cJSON* channel = on_working_copy ? working_.get() : const_cast<cJSON*>(shown_channel());
    cJSON* target = cJSON_GetArrayItem(targets_of(channel), shown_target());
    cJSON* object = object_member(target, media == MediaKind::video ? "video" : "audio");
    if (object == nullptr) return false;
    config_set_bool(object, "enable", enabled);
    return !on_working_copy;
  });
}

void DeckLinkOutputPick::apply_to(EditorValues& values) const {
  values.target_url = target_url;
  if (width) values.width = std::to_string(*width);
  if (height) values.height = std::to_string(*height);
  if (frame_size_choice) values.frame_size = *frame_size_choice;
  if (frame_rate) values.frame_rate = *frame_rate;
}

std::optional<DeckLinkOutputPick> ChannelEditor::pick_decklink_output(
    const std::string& card, const std::optional<DeckLinkDisplayMode>& mode) {
  if (!edited_row_shown()) return std::nullopt;
  DeckLinkOutputPick pick;
  pick.target_url = card;
  if (!mode) return pick;
  const DeckLinkPlaybackVideo played = decklink_playback_video(*mode);
  if (played.width) {
    pick.width = played.width;
    pick.height = played.height;
    pick.frame_size_choice = frame_size_choice_for(*played.width, *played.height);
  }
  pick.frame_rate = played.frame_rate;
  // The card plays fields when the mode is interlaced; the scan type tells the encoder.
  cJSON* video = object_member(cJSON_GetArrayItem(targets_of(working_.get()), 0), "video");
  if (video != nullptr) config_set_int(video, "scanType", played.scan_type);
  return pick;
}

}  // namespace vx
