// What a channel is doing, as the channel list and the web status show it: its state, its status
// text (progress figures, or the file a folder channel plays), following a bound channel to the
// channel whose transcoder serves it, and the states of the targets its transcoder relays.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "vocabulary/channel_state.h"

namespace vx {

// What the status reads of a channel's settings. The channel compiler fills it from the
// channel's object in the configuration (channel_status_settings); the default record is a
// channel that is not bound, not time-shifted and has no source.
struct ChannelStatusSettings {
  int bound_master = 0;          // 1-based number of the channel it is bound to; 0: none
  bool time_shifted = false;     // its transcoder runs in the time-shift companion's slot
  std::string first_source_url;  // a folder here plays as a list (asked only for the text)
};

// The state of the channel's own slot (the time-shift companion's when it is time-shifted) when
// that is busy, else its master's when it is bound, else idle.
ChannelState channel_state(const ChannelStatusSettings& channel, int channel_number);

// The number (0-based) of the channel whose transcoder a bound channel shows while its own slot
// is idle: its master's, when that one is not idle. nullopt when the channel's own slot is busy,
// it is not bound, or its master is idle too. Stopping the channel itself then stops nothing.
std::optional<int> channel_carrier(const ChannelStatusSettings& channel, int channel_number);

// "hh:mm:ss   25fps@3000Kbps" for a running channel (a bound one that is idle itself shows its
// master's position only), the current file's name for a folder channel, or "".
std::string channel_status_text(const ChannelStatusSettings& channel, int channel_number);

// What a channel without signal (ChannelState::no_signal) shows in place of the state's word:
// "STANDBY K" while its failover has standby source K on air and that delivers, else "NO SIGNAL"
// (the slate is on air, or the source has gone quiet). Read from the slot whose state the channel
// shows (channel_state).
std::string no_signal_status_text(const ChannelStatusSettings& channel, int channel_number);

// What an idle channel shows: "IDLE", and after it why its latest start was refused before a
// transcoder ran (engine_get_start_problem), so the operator reads the reason where the state is.
std::string idle_status_text(int channel_number);

// The targets that the channel's own transcoder relays, in target order; empty when it relays
// none or no transcoder runs. A bound channel that is idle itself shows none: its master's
// targets are the master's.
std::vector<RelayedTarget> channel_target_states(int channel_number);

// The same into the caller's buffer: at most capacity - 1 bytes, never a partial UTF-8
// character, always terminated when capacity > 0. Returns the bytes written.
std::size_t channel_status_text(const ChannelStatusSettings& channel, int channel_number,
                                char* buffer, std::size_t capacity);

}  // namespace vx
