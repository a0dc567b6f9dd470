// The last ten minutes of every channel: its frame rate, bit rate and state, sampled once a
// second as the engine polls its slots, in a fixed ring per channel that the sampling never
// grows. The status page and the window read it to draw what happened while nobody watched.
#pragma once

#include <cstdint>
#include <vector>

#include "vocabulary/channel_state.h"

namespace vx {

struct HistorySample {
  std::int32_t fps = -1;           // -1: no figure (idle, or not reported yet)
  std::int32_t bitrate_kbps = -1;  // -1: no figure
  ChannelState state = ChannelState::idle;

  bool operator==(const HistorySample&) const = default;
};

// Samples every channel whose second has come (the engine's clock, whole seconds). Seconds the
// poll missed are filled with the sample it takes now; a clock that went back starts counting
// from the new time without filling anything. Called by the engine's poll with the core lock
// held.
void channel_history_sample(std::int64_t now);

// The channel's samples (channel index 0..15), oldest first: one per second since the engine
// was first initialised, at most kHistorySamples. Empty outside 0..15. Call with the core lock
// held.
std::vector<HistorySample> channel_history(int channel);

// The channel was removed and the later ones moved up a number: their samples move with them,
// and the last number starts empty.
void channel_history_remove(int channel);
// Forgets one channel's samples, or all of them.
void channel_history_forget(int channel);
void channel_history_reset();

// "idle", "extract", "running", "preview", "no_signal", "stopping": a sample's state as the
// history's JSON writes it; "" outside the table.
const char* history_state_word(ChannelState state);

}  // namespace vx
