// Whether a running channel's source still delivers: a transcoder whose reported stream position
// stands still for a few seconds (a live source that went quiet, or one that never began) is shown
// as without signal, said in the channel log, and shown again as running once the position moves.
#pragma once

#include <cstdint>

#include "engine/channel_slot.h"

namespace vx {

// Seconds the stream position may stand still before the channel shows no signal; before the
// first report the transcoder may also spend ffmpeg's 5 s of probing its source.
inline constexpr int kQuietSourceSeconds = 5;
inline constexpr int kFirstReportSeconds = kQuietSourceSeconds + 5;

// A progress report gave the stream position `position` at engine time `now`.
void signal_watch_position(int slot_number, ChannelSlot& slot, std::int32_t position,
                           std::int64_t now);

// The alternate-input switch said whether the alternate input is on air.
void signal_watch_alternate(ChannelSlot& slot, bool on_air);

// ffmpeg's progress comes at its "info" level and above; the engine's log level 0 leaves ffmpeg
// at its default, which is "info".
inline constexpr int kLowestProgressLogLevel = 32;
bool progress_reported_at(int log_level);

// Called on every poll of a running transcoder; `log_level` is the one ffmpeg runs at. Where it
// reports no progress, nothing can be judged.
void signal_watch_poll(int slot_number, ChannelSlot& slot, std::int64_t now, int log_level);

}  // namespace vx
