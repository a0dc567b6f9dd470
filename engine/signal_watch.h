// Whether a running channel's source still delivers: a transcoder whose reported stream position
// stands still for a few seconds (a live source that went quiet, or one that never began), or
// whose failover has switched away from its first source, is shown as without signal (the quiet
// source said in the channel log), and shown again as running once the position moves or the
// first source is back on air.
#pragma once

#include <cstdint>

#include "engine/channel_slot.h"
#include "vocabulary/input_switch_report.h"

namespace vx {

// Seconds the stream position may stand still before the channel shows no signal; before the
// first report the transcoder may also spend ffmpeg's 5 s of probing its source.
inline constexpr int kQuietSourceSeconds = 5;
inline constexpr int kFirstReportSeconds = kQuietSourceSeconds + 5;

// A progress report gave the stream position `position` at engine time `now`.
void signal_watch_position(int slot_number, ChannelSlot& slot, std::int32_t position,
                           std::int64_t now);

// The failover's switch reported a switch between its inputs: the input it names is on air (a
// last failure, with no input left, changes nothing, as the transcoder ends), and the switch is
// counted by its reason.
void signal_watch_switch(ChannelSlot& slot, const SwitchReport& report);

// ffmpeg's progress comes at its "info" level and above; the engine's log level 0 leaves ffmpeg
// at its default, which is "info".
inline constexpr int kLowestProgressLogLevel = 32;
bool progress_reported_at(int log_level);

// Called on every poll of a running transcoder; `log_level` is the one ffmpeg runs at. Where it
// reports no progress, nothing can be judged.
void signal_watch_poll(int slot_number, ChannelSlot& slot, std::int64_t now, int log_level);

}  // namespace vx
