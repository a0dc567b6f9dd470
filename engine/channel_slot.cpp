#include "engine/channel_slot.h"

#include <array>

namespace vx {
namespace {

std::array<ChannelSlot, kSlotCount>& slots() {
  static std::array<ChannelSlot, kSlotCount> table;
  return table;
}

}  // namespace

ChannelSlot* engine_slot(int slot) {
  return slot_in_range(slot) ? &slots()[slot] : nullptr;
}

void forget_transcoder_lines(ChannelSlot& slot) {
  slot.relayed_targets = {};
  slot.served_viewers = {};
  slot.unfinished_line.clear();
  slot.skipping_line = false;
  slot.holding_line = false;
  slot.runs_failover = false;
  slot.standby_inputs = 0;
  slot.slate_input = false;
  slot.input_on_air = kPrimaryInput;
  slot.source_quiet = false;
}

std::string engine_get_start_problem(int slot) {
  const ChannelSlot* record = engine_slot(slot);
  return record != nullptr ? record->start_problem : std::string();
}

ChannelState engine_get_state(int slot) {
  const ChannelSlot* record = engine_slot(slot);
  return record != nullptr ? record->state : ChannelState::idle;
}

std::int32_t engine_get_time(int slot) {
  const ChannelSlot* record = engine_slot(slot);
  return record != nullptr ? record->position_seconds : -1;
}

std::int32_t engine_get_fps(int slot) {
  const ChannelSlot* record = engine_slot(slot);
  return record != nullptr ? record->fps : -1;
}

std::int32_t engine_get_bitrate(int slot) {
  const ChannelSlot* record = engine_slot(slot);
  return record != nullptr ? record->bitrate_kbps : -1;
}

std::uint32_t engine_get_exit_code(int slot) {
  const ChannelSlot* record = engine_slot(slot);
  return record != nullptr ? record->exit_code : 0;
}

}  // namespace vx
