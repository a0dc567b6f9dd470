// What the metrics endpoint tells about each channel slot and about the program beyond what the
// status page shows: starts and ends since launch, the last start and exit, which of the
// failover's inputs is on air and how often it switched, the viewers of each output the
// transcoder serves over HTTP, and the program's own memory and age. The engine keeps them up as
// it polls, so reading them costs no file and no process.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "vocabulary/channel_state.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/product.h"

namespace vx {

struct ChannelFigures {
  ChannelState state = ChannelState::idle;  // the slot's own state
  // As the transcoder last reported them; -1 until it has.
  std::int32_t fps = -1;
  std::int32_t bitrate_kbps = -1;
  std::int32_t position_seconds = -1;
  std::uint64_t starts = 0;  // transcoders launched in this slot since the program started
  std::uint64_t ends = 0;    // of those, the ones that have ended
  std::optional<std::uint32_t> last_exit_code;       // none before the first end
  std::optional<std::int64_t> seconds_since_start;   // since the latest launch; none before it
  bool on_alternate_input = false;                   // the failover has its slate on air
  // The failover line the transcoder runs: none for another line; else how many standby sources
  // it names, whether it has a slate, and the input on air (kPrimaryInput, standby K,
  // kSlateInput).
  struct Failover {
    int standby_inputs = 0;
    bool slate = false;
    int input_on_air = kPrimaryInput;
  };
  std::optional<Failover> failover;
  // Switches between the failover's inputs, by reason (SwitchReason's order), since the program
  // started; a restart of the channel keeps counting.
  std::array<std::uint64_t, kSwitchReasonCount> input_switches{};
  // Viewers connected to each output the transcoder serves over HTTP, by target number - 1;
  // none for a target it does not serve (or has not reported yet).
  std::array<std::optional<std::int32_t>, kMaxChannelTargets> served_viewers{};
};

// The figures of a slot (0..31); all empty for one outside. Call with the core lock held.
ChannelFigures engine_channel_figures(int slot);

struct ProgramFigures {
  std::uint64_t resident_bytes = 0;  // sampled with the load, at most once a second
  std::int64_t uptime_seconds = 0;   // since the engine was first initialised
};
ProgramFigures engine_program_figures();

}  // namespace vx
