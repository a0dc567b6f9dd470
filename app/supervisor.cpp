#include "app/supervisor.h"

#include <algorithm>

#include "config/core_lock.h"
#include "config/document_check.h"
#include "config/json.h"
#include "config/store.h"
#include "engine/channel_compiler.h"
#include "engine/channel_history.h"
#include "engine/channel_status.h"
#include "engine/engine.h"
#include "engine/load_monitor.h"
#include "engine/playlist.h"

namespace vx {
namespace {

cJSON* channel_at(int row) {
  return cJSON_GetArrayItem(config_array(config_document(), "channels"), row);
}

// What the channel status reads of the row's channel in the document in force.
ChannelStatusSettings status_settings(int row) {
  return channel_status_settings(channel_at(row));
}

const cJSON* global_settings() {
  return config_object(config_document(), "global");
}

// "autoRestart" in seconds; a negative value restarts nothing rather than at once.
int auto_restart_seconds() {
  return std::max(0, config_int(global_settings(), "autoRestart"));
}

bool auto_restart_present() {
  return cJSON_GetObjectItemCaseSensitive(global_settings(), "autoRestart") != nullptr;
}

}  // namespace

Supervisor::Supervisor(SupervisorView& view, SupervisorHooks hooks)
    : view_(view), hooks_(std::move(hooks)) {}

std::vector<Supervisor::StartFailure> Supervisor::rebuild_rows(bool automatic_start) {
  const CoreLock lock = core_lock();
  const int channels = cJSON_GetArraySize(config_array(config_document(), "channels"));
  row_count_ = std::min(channels, kMaxChannels);
  for (int row = 0; row < kMaxChannels; ++row) {
    // Pending restarts belong to channel positions, not to rows, and survive a rebuild.
    rows_[row].state = ChannelState::idle;
    rows_[row].text = channel_state_word(ChannelState::idle);
  }
  view_.rows_rebuilt(row_count_);
  std::vector<StartFailure> failures;
  if (!automatic_start) return failures;
  for (int row = 0; row < row_count_; ++row) {
    if (!config_bool(channel_at(row), "enable")) continue;
    const int result = compile_and_start_channel(config_document(), row);
    if (result == 0) {
      show_running(row);
    } else {
      failures.push_back({row, result});
    }
  }
  return failures;
}

int Supervisor::add_row() {
  const CoreLock lock = core_lock();
  const int channels = cJSON_GetArraySize(config_array(config_document(), "channels"));
  if (row_count_ >= kMaxChannels || channels <= row_count_) return -1;
  const int row = row_count_++;
  rows_[row] = Row{};
  return row;
}

bool Supervisor::remove_row(int row) {
  const CoreLock lock = core_lock();
  if (!valid_row(row)) return false;
  std::move(rows_.begin() + row + 1, rows_.begin() + row_count_, rows_.begin() + row);
  --row_count_;
  rows_[row_count_] = Row{};
  channel_history_remove(row);
  return true;
}

int Supervisor::remove_channel(int row) {
  {
    const CoreLock lock = core_lock();
    if (!valid_row(row) || channel_at(row) == nullptr) return kErrorNoSuchChannel;
    // The row's state, and the engine's own for a preview the tick has not shown yet.
    std::vector<bool> busy;
    for (int other = 0; other < row_count_; ++other) {
      busy.push_back(rows_[other].state != ChannelState::idle ||
                     channel_state(status_settings(other), other) != ChannelState::idle);
    }
    const JsonPtr proposed(cJSON_Duplicate(config_document(), true));
    if (!vx::remove_channel(config_array(proposed.get(), "channels"), row)) {
      return kErrorNoSuchChannel;
    }
    if (running_channel_refusal(proposed.get(), config_document(), busy)) {
      return kErrorRemovalWhileRunning;
    }
    vx::remove_channel(config_array(config_document(), "channels"), row);
    remove_row(row);
    view_.rows_rebuilt(row_count_);
    view_.refresh_panel();
  }
  commit();
  return 0;
}

void Supervisor::tick(SupervisorClock::time_point now) {
  const CoreLock lock = core_lock();
  for (int row = 0; row < kMaxChannels; ++row) {
    if (rows_[row].restart_at && *rows_[row].restart_at <= now) {
      rows_[row].restart_at.reset();
      fire_restart(row);
    }
  }
  engine_poll_slots();
  for (int row = 0; row < row_count_; ++row)
    supervise_row(row, now);
  view_.refresh_panel();
}

void Supervisor::supervise_row(int row, SupervisorClock::time_point now) {
  const cJSON* channel = channel_at(row);
  if (channel == nullptr) return;  // the document shrank; the rebuild is on its way
  const ChannelStatusSettings settings = status_settings(row);
  const ChannelState state = channel_state(settings, row);
  if (state == ChannelState::idle && rows_[row].state != ChannelState::idle) {
    channel_ended(row, now);
  } else if (state == ChannelState::running) {
    show_running(row);
  } else if (state == ChannelState::no_signal) {
    show(row, state, no_signal_status_text(settings, row));
  } else {
    show(row, state,
         state == ChannelState::idle ? idle_status_text(row) : channel_state_word(state));
  }
}

void Supervisor::channel_ended(int row, SupervisorClock::time_point now) {
  if (!config_bool(channel_at(row), "enable")) {
    show(row, ChannelState::idle, "IDLE");
    return;
  }
  const int seconds = auto_restart_seconds();
  if (channel_plays_a_folder(channel_at(row))) {
    // A folder moves on to its next file at once.
    if (!start_next_folder_file(row, seconds)) show(row, ChannelState::idle, "IDLE");
    return;
  }
  if (auto_restart_present() && seconds != 0) {
    if (hooks_.reload_configuration) hooks_.reload_configuration();
    view_.row_texts_changed(row);
    rows_[row].restart_at = now + std::chrono::seconds(seconds);
  }
  show(row, ChannelState::idle, "IDLE");
}

bool Supervisor::start_next_folder_file(int row, int auto_restart) {
  FolderPlaylist& playlist = channel_playlist(row);
  const int tries = playlist.count();
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (!playlist.next(auto_restart != 0)) {
      if (auto_restart != 0) continue;
      break;  // the end of the list, and no wrapping
    }
    if (compile_and_start_channel(config_document(), row) == 0) {
      show_running(row);
      return true;
    }
  }
  return false;
}

void Supervisor::fire_restart(int row) {
  if (!valid_row(row) || !config_bool(channel_at(row), "enable")) return;
  if (compile_and_start_channel(config_document(), row) != 0) return;
  view_.refresh_panel();
  show_running(row);
}

int Supervisor::run_channel_command(ChannelCommand command, int row) {
  switch (command) {
    case ChannelCommand::start:
      return start_channel(row);
    case ChannelCommand::stop:
      return stop_channel(row);
    case ChannelCommand::preview:
      return preview_channel(row);
    case ChannelCommand::remove:
      return remove_channel(row);
  }
  return 0;
}

int Supervisor::start_channel(int row) {
  {
    const CoreLock lock = core_lock();
    cJSON* channel = channel_at(row);
    if (!valid_row(row) || channel == nullptr) return kErrorNoSuchChannel;
    // A channel that runs, or is on its way out, only needs its flag: the tick restarts an
    // enabled channel that ends.
    if (channel_state(status_settings(row), row) == ChannelState::idle) {
      const int result = compile_and_start_channel(config_document(), row);
      if (result != 0) return result;  // not marked to run: nothing runs, and the caller says why
      show_running(row);
    }
    config_set_bool(channel, "enable", true);
    view_.refresh_panel();
  }
  commit();
  return 0;
}

int Supervisor::stop_channel(int row) {
  {
    const CoreLock lock = core_lock();
    cJSON* channel = channel_at(row);
    if (!valid_row(row) || channel == nullptr) return kErrorNoSuchChannel;
    config_set_bool(channel, "enable", false);
    stop_if_running(row);
    view_.refresh_panel();
  }
  commit();
  return 0;
}

int Supervisor::preview_channel(int row) {
  const CoreLock lock = core_lock();
  const cJSON* channel = channel_at(row);
  if (!valid_row(row) || channel == nullptr) return kErrorNoSuchChannel;
  if (channel_state(status_settings(row), row) != ChannelState::idle) return 0;
  const int result = start_channel_preview(config_document(), row);
  view_.refresh_panel();
  return result;
}

void Supervisor::start_all() {
  {
    const CoreLock lock = core_lock();
    for (int row = 0; row < row_count_; ++row) {
      cJSON* channel = channel_at(row);
      if (channel == nullptr || channel_state(status_settings(row), row) != ChannelState::idle)
        continue;
      if (compile_and_start_channel(config_document(), row) == 0) show_running(row);
      config_set_bool(channel, "enable", true);
    }
    view_.refresh_panel();
  }
  commit();
}

void Supervisor::stop_all() {
  {
    const CoreLock lock = core_lock();
    for (int row = 0; row < row_count_; ++row) {
      cJSON* channel = channel_at(row);
      if (channel == nullptr) continue;
      config_set_bool(channel, "enable", false);
      stop_if_running(row);
    }
    view_.refresh_panel();
  }
  commit();
}

std::optional<int> Supervisor::row_carrier(int row) const {
  const CoreLock lock = core_lock();
  if (!valid_row(row)) return std::nullopt;
  const std::optional<int> carrier = channel_carrier(status_settings(row), row);
  return carrier && valid_row(*carrier) ? carrier : std::nullopt;
}

void Supervisor::stop_if_running(int row) {
  const ChannelState state = channel_state(status_settings(row), row);
  if (state == ChannelState::idle) return;
  // A second stop of a channel that is already stopping kills it.
  stop_compiled_channel(config_document(), row,
                        state == ChannelState::stopping ? StopMode::kill : StopMode::orderly);
}

void Supervisor::next_file(int row) {
  const CoreLock lock = core_lock();
  if (!valid_row(row) || channel_state(status_settings(row), row) != ChannelState::running) return;
  // The channel stays enabled, so the tick starts it again on the next file.
  stop_compiled_channel(config_document(), row, StopMode::orderly);
}

void Supervisor::previous_file(int row) {
  const CoreLock lock = core_lock();
  if (!valid_row(row) || channel_state(status_settings(row), row) != ChannelState::running) return;
  // Two steps back, so that the tick's step forward lands on the file before this one.
  const bool wrap = auto_restart_seconds() != 0;
  channel_playlist(row).previous(wrap);
  channel_playlist(row).previous(wrap);
  stop_compiled_channel(config_document(), row, StopMode::orderly);
}

LoadFigures Supervisor::load_figures() const {
  LoadFigures figures;
  for (int cpu = 0; cpu < engine_cpu_count(); ++cpu)
    figures.cpu.push_back(engine_cpu_load(cpu));
  if (engine_gpu_available()) figures.gpu = engine_gpu_load();
  return figures;
}

bool Supervisor::row_plays_a_folder(int row) const {
  const CoreLock lock = core_lock();
  return channel_plays_a_folder(channel_at(row));
}

ChannelState Supervisor::row_state(int row) const {
  return valid_row(row) ? rows_[row].state : ChannelState::idle;
}

const std::string& Supervisor::row_text(int row) const {
  static const std::string none;
  return valid_row(row) ? rows_[row].text : none;
}

bool Supervisor::restart_pending(int row) const {
  return row >= 0 && row < kMaxChannels && rows_[row].restart_at.has_value();
}

void Supervisor::show(int row, ChannelState state, const std::string& text) {
  Row& shown = rows_[row];
  if (shown.state == state && shown.text == text) return;
  shown.state = state;
  shown.text = text;
  view_.row_changed(row, state, text);
}

void Supervisor::show_running(int row) {
  std::string text = channel_status_text(status_settings(row), row);
  if (text.empty()) text = channel_state_word(ChannelState::running);
  show(row, ChannelState::running, text);
}

// Outside the core lock: the save writes a copy of the document taken under it.
void Supervisor::commit() {
  if (hooks_.commit_configuration) hooks_.commit_configuration();
}

}  // namespace vx
