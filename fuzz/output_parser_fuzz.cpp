// Fuzzes the reading of a transcoder's output: the first byte picks the slot and its state, the
// second how the rest is cut into chunks (a pipe hands over any split of the text). Every chunk
// must reach the output callback unchanged, progress figures may only change with a " time="
// (or a held line let go), the state may only take the steps supervision expects, and the
// status text stays short.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/channel_slot.h"
#include "engine/channel_status.h"
#include "engine/output_parser.h"
#include "vocabulary/transcoder_protocol.h"

namespace {

constexpr vx::ChannelState kStates[] = {vx::ChannelState::idle,      vx::ChannelState::extract,
                                        vx::ChannelState::running,   vx::ChannelState::preview,
                                        vx::ChannelState::no_signal, vx::ChannelState::stopping};

// "596523:14:07   2147483647fps@2147483647Kbps" is the longest the figures can give.
constexpr std::size_t kStatusLimit = 64;

std::string_view expected_chunk;
int expected_slot = 0;
int callbacks = 0;

void take_chunk(int slot, std::string_view chunk) {
  if (slot != expected_slot || chunk != expected_chunk) std::abort();
  ++callbacks;
}

bool allowed_step(vx::ChannelState from, vx::ChannelState to) {
  using vx::ChannelState;
  if (from == to) return true;
  if (from == ChannelState::idle) return false;  // nothing runs there to react to
  if (to == ChannelState::stopping) return true;
  return (from == ChannelState::running && to == ChannelState::no_signal) ||
         (from == ChannelState::no_signal && to == ChannelState::running);
}

void check_status(int slot) {
  if (slot < 0 || slot >= vx::kMaxChannels) return;
  const std::string text = vx::channel_status_text(vx::ChannelStatusSettings{}, slot);
  if (text.size() > kStatusLimit) std::abort();
  char buffer[8];
  const std::size_t written =
      vx::channel_status_text(vx::ChannelStatusSettings{}, slot, buffer, sizeof buffer);
  if (written >= sizeof buffer || buffer[written] != '\0') std::abort();
  if (text.compare(0, written, buffer, written) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // Slots -1 and 32 have no record; the parser must still log and pass their chunks on.
  const int slot = static_cast<int>(data[0] % 34) - 1;
  std::uint32_t cut = data[1];
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

  vx::ChannelSlot* record = vx::engine_slot(slot);
  if (record != nullptr) {
    *record = vx::ChannelSlot{};  // pid 0: no signal can reach a real process group
    record->state = kStates[(data[0] / 34) % std::size(kStates)];
    record->position_seconds = record->fps = record->bitrate_kbps = -1;
  }
  vx::engine_set_output_callback(&take_chunk);
  expected_slot = slot;

  for (std::size_t pos = 0; pos < text.size();) {
    // A cheap generator keeps the cut points varied without taking bytes from the text.
    cut = cut * 1103515245u + 12345u;
    const std::size_t length = 1 + (cut >> 16) % 200;
    const std::string_view chunk = text.substr(pos, length);
    pos += chunk.size();

    vx::ChannelSlot before;
    // A line held back because it began like one of the transcoder's own is ffmpeg's text once
    // it turns out not to be, figures and all: they may come with the chunk that releases it.
    const bool was_holding = record != nullptr && record->holding_line;
    if (record != nullptr) {
      before.state = record->state;
      before.position_seconds = record->position_seconds;
      before.fps = record->fps;
      before.bitrate_kbps = record->bitrate_kbps;
    }
    expected_chunk = chunk;
    callbacks = 0;
    vx::engine_parse_output(slot, chunk);
    if (callbacks != 1) std::abort();
    if (record == nullptr) continue;

    if (record->pid != 0 || record->last_output_time <= 0) std::abort();
    if (!allowed_step(before.state, record->state)) std::abort();
    if (chunk.find(vx::kProgressTime) == std::string_view::npos && !was_holding &&
        (record->position_seconds != before.position_seconds || record->fps != before.fps ||
         record->bitrate_kbps != before.bitrate_kbps)) {
      std::abort();
    }
    check_status(slot);
  }
  vx::engine_set_output_callback(nullptr);
  return 0;
}
