#include "engine/channel_status.h"

#include <cstring>

#include "engine/channel_slot.h"
#include "engine/playlist.h"
#include "platform/file_io.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

// The slot of the channel's own transcoder.
int own_slot(const ChannelStatusSettings& channel, int channel_number) {
  return channel.time_shifted ? channel_number + kMaxChannels : channel_number;
}

std::string playing_file_name(int channel_number) {
  const FolderPlaylist* playlist = channel_playlist_at(channel_number);
  if (playlist == nullptr) return {};
  const std::optional<std::string> current = playlist->current();
  if (!current) return {};
  const std::size_t slash = current->rfind('/');
  return slash == std::string::npos ? *current : current->substr(slash + 1);
}

// Keeps whole UTF-8 characters only.
std::size_t utf8_prefix_length(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t length = limit;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
    --length;
  return length;
}

}  // namespace

ChannelState channel_state(const ChannelStatusSettings& channel, int channel_number) {
  const ChannelState own = engine_get_state(own_slot(channel, channel_number));
  if (own != ChannelState::idle) return own;
  const std::optional<int> carrier = channel_carrier(channel, channel_number);
  return carrier ? engine_get_state(*carrier) : ChannelState::idle;
}

std::optional<int> channel_carrier(const ChannelStatusSettings& channel, int channel_number) {
  if (engine_get_state(own_slot(channel, channel_number)) != ChannelState::idle) {
    return std::nullopt;
  }
  const int master = channel.bound_master;
  if (master <= 0 || master > kMaxChannels || master - 1 == channel_number ||
      engine_get_state(master - 1) == ChannelState::idle) {
    return std::nullopt;
  }
  return master - 1;
}

std::string no_signal_status_text(const ChannelStatusSettings& channel, int channel_number) {
  const std::optional<int> carrier = channel_carrier(channel, channel_number);
  const ChannelSlot* slot = engine_slot(carrier ? *carrier : own_slot(channel, channel_number));
  const std::string on_air =
      slot != nullptr && !slot->source_quiet ? input_on_air_text(slot->input_on_air) : "";
  return on_air.empty() ? channel_state_word(ChannelState::no_signal) : on_air;
}

std::string idle_status_text(int channel_number) {
  std::string text = channel_state_word(ChannelState::idle);
  const std::string problem = engine_get_start_problem(channel_number);
  if (!problem.empty()) text += ": " + problem;
  return text;
}

std::string channel_status_text(const ChannelStatusSettings& channel, int channel_number) {
  if (is_existing_folder(channel.first_source_url)) return playing_file_name(channel_number);
  int slot = channel_number;
  const int master = channel.bound_master;
  const bool show_master = engine_get_state(slot) == ChannelState::idle && master > 0;
  if (show_master) slot = master - 1;

  std::string text;
  const std::int32_t position = engine_get_time(slot);
  if (position >= 0) {
    append_format(text, "%02d:%02d:%02d   ", position / 3600, (position % 3600) / 60,
                  position % 60);
  }
  if (!show_master) {
    if (engine_get_fps(slot) >= 0) append_format(text, "%dfps", engine_get_fps(slot));
    if (engine_get_bitrate(slot) >= 0) append_format(text, "@%dKbps", engine_get_bitrate(slot));
  }
  return text;
}

std::vector<RelayedTarget> channel_target_states(int channel_number) {
  std::vector<RelayedTarget> targets;
  const ChannelSlot* slot = engine_slot(channel_number);
  if (slot == nullptr || channel_number >= kMaxChannels) return targets;
  for (std::size_t i = 0; i < slot->relayed_targets.size(); ++i) {
    if (slot->relayed_targets[i]) {
      targets.push_back({static_cast<std::int32_t>(i + 1), *slot->relayed_targets[i]});
    }
  }
  return targets;
}

std::size_t channel_status_text(const ChannelStatusSettings& channel, int channel_number,
                                char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  const std::string text = channel_status_text(channel, channel_number);
  const std::size_t length = utf8_prefix_length(text, capacity - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

}  // namespace vx
