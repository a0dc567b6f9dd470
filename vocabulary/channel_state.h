// The states of a channel slot and of the targets its transcoder relays, and the words operators
// see for them.
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

// A network target that the transcoder relays through a process of its own: delivering, or its
// relay ended and waits to be restarted.
enum class TargetState : std::uint8_t { on_air, lost };

struct RelayedTarget {
  std::int32_t number = 0;  // as the transcoder counts its targets, from 1
  TargetState state = TargetState::on_air;

  bool operator==(const RelayedTarget&) const = default;
};

// "on air", "lost"; "" for a value outside the table.
const char* target_state_word(TargetState state);

}  // namespace vx
