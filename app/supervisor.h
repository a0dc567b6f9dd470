// Keeping channels running: the start and stop commands of the channel list, the automatic start
// of enabled channels, and the 100 ms supervision tick that polls the engine, notices ended
// transcoders, moves folder playlists on at once and restarts other channels after
// "autoRestart" seconds. Written once without any toolkit; the window and the headless loop
// both drive it and watch it through SupervisorView.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/document.h"
#include "vocabulary/channel_state.h"
#include "web/web_services.h"

namespace vx {

using SupervisorClock = std::chrono::steady_clock;

inline constexpr auto kSupervisionPeriod = std::chrono::milliseconds(100);
inline constexpr auto kLoadFiguresPeriod = std::chrono::milliseconds(1000);

struct LoadFigures {
  std::vector<int> cpu;    // percent per logical processor
  std::optional<int> gpu;  // percent over every GPU, when one is measured
};

// What a front end shows. Every call comes from the thread that drives the supervisor, with the
// core lock held; a view never calls back into the supervisor from these, and never waits.
class SupervisorView {
 public:
  virtual ~SupervisorView() = default;
  // The rows were rebuilt from the configuration: `count` rows, all idle.
  virtual void rows_rebuilt(int count) { (void)count; }
  // Row `row` now shows `state` with `text` (the status text, or the state's own word). Only
  // called when one of them differs from what the row showed.
  virtual void row_changed(int row, ChannelState state, const std::string& text) {
    (void)row, (void)state, (void)text;
  }
  // The row's source, bind and memo may have changed (the configuration was reread).
  virtual void row_texts_changed(int row) { (void)row; }
  // After every tick and command: the editor panel recomputes which controls it offers.
  virtual void refresh_panel() {}
};

// What the supervisor asks of the program around it.
struct SupervisorHooks {
  std::function<void()> commit_configuration;  // save the document (and apply autostart)
  std::function<void()> reload_configuration;  // read the document again from its file
};

class Supervisor final : public ChannelCommands {
 public:
  Supervisor(SupervisorView& view, SupervisorHooks hooks);

  struct StartFailure {
    int row;
    int code;  // vocabulary/errors.h
  };
  // Rebuilds the rows from the document (at most 16). With automatic start every channel whose
  // "enable" is true is started; a failed start is not retried, leaves the flag true and is
  // returned for the front end to tell.
  std::vector<StartFailure> rebuild_rows(bool automatic_start);

  // A channel was appended to the document (Apply of a new channel): its row is watched from
  // the next tick on and takes commands. Returns the new row; -1 when every row is in use or the
  // document holds no channel for it. The front end draws the row itself.
  int add_row();
  // Channel `row` was removed from the document (config/document.h remove_channel): the rows
  // after it move up one with their state, text and pending restart, so a restart fires for its
  // own channel and never for the one that took its place; the removed channel's own pending
  // restart goes with it. Callers remove only channels whose row and later rows are idle (their
  // engine slots do not move). False when there is no such row.
  bool remove_row(int row);

  // One supervision tick at `now`: fires the restart timers that are due, polls the engine,
  // and brings every row up to date (end detection, folder stepping, scheduling restarts).
  void tick(SupervisorClock::time_point now);

  // The channel commands, the one road by which every front end starts and stops channels
  // (web requests arrive through CommandQueue). Each takes the core lock itself; call them
  // without holding it, so the save that follows a change of "enable" is written outside it.
  // Each returns 0 or an error code (vocabulary/errors.h) for the front end to report.
  int run_channel_command(ChannelCommand command, int row) override;
  // Starts the channel and marks it to run ("enable"). A channel that is not idle counts as
  // started and is marked; a start that fails leaves the mark as it was.
  int start_channel(int row);
  // Marks the channel not to run and stops it; a channel already stopping is killed.
  int stop_channel(int row);
  // The browser preview of an idle channel; the mark is left alone.
  int preview_channel(int row);
  // Removes the channel from the document (config/document.h remove_channel renumbers the binds),
  // moves the later rows up (remove_row), tells the view the rows were rebuilt and saves.
  // kErrorRemovalWhileRunning, changing nothing, when a channel that is not idle would move or
  // go (config/document_check.h running_channel_refusal, the rule every change of the list
  // passes).
  int remove_channel(int row);
  // Starts every idle channel and marks every one to run, also those whose start failed, so
  // the next start of the program tries them again.
  void start_all();
  void stop_all();
  void next_file(int row);
  void previous_file(int row);

  LoadFigures load_figures() const;

  int row_count() const { return row_count_; }
  ChannelState row_state(int row) const;
  const std::string& row_text(int row) const;
  bool restart_pending(int row) const;
  // The row of the channel whose transcoder this bound row shows while its own is idle (see
  // channel_carrier); nullopt when the row's own transcoder works or nothing carries it. Takes
  // the core lock.
  std::optional<int> row_carrier(int row) const;
  // The channel's first source names an existing folder (it plays a playlist). Takes the core
  // lock.
  bool row_plays_a_folder(int row) const;

 private:
  struct Row {
    ChannelState state = ChannelState::idle;
    std::string text = "IDLE";
    std::optional<SupervisorClock::time_point> restart_at;
  };

  void show(int row, ChannelState state, const std::string& text);
  void show_running(int row);
  void commit();
  void supervise_row(int row, SupervisorClock::time_point now);
  void channel_ended(int row, SupervisorClock::time_point now);
  bool start_next_folder_file(int row, int auto_restart);
  void fire_restart(int row);
  void stop_if_running(int row);
  bool valid_row(int row) const { return row >= 0 && row < row_count_; }

  SupervisorView& view_;
  SupervisorHooks hooks_;
  std::array<Row, kMaxChannels> rows_{};
  int row_count_ = 0;
};

}  // namespace vx
