// The states of a channel slot and the words operators see for them.
#pragma once

#include <cstdint>

namespace vx {

// How a channel is stopped: orderly (the transcoder finishes its outputs), or killed, which is
// what a second stop of a channel that is already stopping does.
enum class StopMode { orderly, kill };

enum class ChannelState : std::uint32_t {
  idle = 0,
  extract = 1,  // yt-dlp is resolving the source's stream URL
  running = 2,
  preview = 3,
  no_signal = 4,  // running on the alternate input after the primary input timed out
  stopping = 5,
};

// "IDLE", "EXTRACT", "RUNNING", "PREVIEW", "NO SIGNAL", "STOPPING"; "" for a value outside the
// table. A running channel is normally shown by its progress figures; "RUNNING" stands in while
// it has none.
const char* channel_state_word(ChannelState state);

}  // namespace vx
