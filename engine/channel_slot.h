// The engine's 32 channel slots: slot c runs channel c (0..15), slot c + 16 is channel c's
// time-shift companion. Each slot records its transcoder process, its pipes and the progress
// and target states the transcoder last reported. The getters are safe for any slot number.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/unique_fd.h"
#include "vocabulary/channel_state.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/product.h"
#include "vocabulary/records.h"

namespace vx {

// A slot for every channel and one for its time-shift companion.
inline constexpr int kSlotCount = 2 * kMaxChannels;

struct ChannelSlot {
  pid_t pid = 0;                // the running process, also its process group; 0 when none
  UniqueFd input;               // our end of the process's standard input
  UniqueFd output;              // our end of its standard output and error, polled
  std::string pending_input;    // the part of the argument line the process has not taken yet
  std::string extract_output;   // what yt-dlp has printed so far
  std::uint32_t exit_code = 0;  // of the last process that ended
  std::unique_ptr<StartRequest> saved_request;  // only while yt-dlp runs
  ChannelState state = ChannelState::idle;
  // Reported by the transcoder; -1 from a start until it reports them.
  std::int32_t position_seconds = 0;
  std::int32_t fps = 0;
  std::int32_t bitrate_kbps = 0;
  std::int64_t last_output_time = 0;  // engine clock seconds; 0 before the first output
  std::int64_t last_end_check = 0;    // when the poll last asked whether the process ended
  // The states of the targets the transcoder relays, by target number - 1; empty for a target
  // it has not announced.
  std::array<std::optional<TargetState>, kMaxChannelTargets> relayed_targets{};
  // Viewers of each output the transcoder serves over HTTP, by target number - 1; empty for a
  // target it has not reported.
  std::array<std::optional<std::int32_t>, kMaxChannelTargets> served_viewers{};
  // The transcoder's unfinished output line while it may still be one of the transcoder's own
  // (bounded), whether the rest of that line passes on as ffmpeg's text, and whether the line is
  // being held back from the log until it ends.
  std::string unfinished_line;
  bool skipping_line = false;
  bool holding_line = false;
  // Since the engine was initialised; a yt-dlp run is neither a start nor an end.
  std::uint64_t starts = 0;
  std::uint64_t ends = 0;
  std::int64_t last_start_time = 0;        // engine clock seconds of the latest launch
  std::uint32_t last_transcoder_exit = 0;  // at the latest end; exit_code also takes yt-dlp's
  // The inputs of the failover line the transcoder runs (set at each launch): whether it runs
  // one, how many standby sources it names and whether it has a slate; and which input its
  // switch last said is on air (kPrimaryInput, standby K, kSlateInput).
  bool runs_failover = false;
  int standby_inputs = 0;
  bool slate_input = false;
  int input_on_air = kPrimaryInput;
  // The switches of the channel's failover by reason (SwitchReason's order), since the engine
  // was initialised: restarts of the channel keep counting.
  std::array<std::uint64_t, kSwitchReasonCount> input_switches{};
  // When the stream position last moved (engine clock seconds; the launch until the first
  // report), and whether it has stood still for too long since.
  std::int64_t last_position_move = 0;
  bool source_quiet = false;
  // Why the latest start was refused before a transcoder ran ("cannot write into ..."); "" once
  // a transcoder starts.
  std::string start_problem;
};

// Forgets the target states, the viewers, the failover's inputs and the one on air, and the
// unfinished line: the process they came from started anew or ended.
void forget_transcoder_lines(ChannelSlot& slot);

inline bool slot_in_range(int slot) {
  return slot >= 0 && slot < kSlotCount;
}

// The slot's record, or nullptr for a number outside 0..31.
ChannelSlot* engine_slot(int slot);

// Plain reads of a slot. Outside 0..31 the state and exit code read 0 and the progress
// figures -1.
ChannelState engine_get_state(int slot);
std::int32_t engine_get_time(int slot);
std::int32_t engine_get_fps(int slot);
std::int32_t engine_get_bitrate(int slot);
std::uint32_t engine_get_exit_code(int slot);
// The slot's start_problem; "" outside 0..31.
std::string engine_get_start_problem(int slot);

}  // namespace vx
