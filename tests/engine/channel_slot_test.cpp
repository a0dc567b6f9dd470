#include "engine/channel_slot.h"

#include <gtest/gtest.h>

#include <climits>

namespace vx {
namespace {

TEST(ChannelSlots, GettersGiveNeutralValuesForBadSlotNumbers) {
  for (int slot : {-1, kSlotCount, 40, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(engine_slot(slot), nullptr);
    EXPECT_EQ(engine_get_state(slot), ChannelState::idle);
    EXPECT_EQ(engine_get_exit_code(slot), 0u);
    EXPECT_EQ(engine_get_time(slot), -1);
    EXPECT_EQ(engine_get_fps(slot), -1);
    EXPECT_EQ(engine_get_bitrate(slot), -1);
  }
}

TEST(ChannelSlots, GettersReadTheSlotsOwnRecord) {
  for (int slot : {0, 17, kSlotCount - 1}) {
    ChannelSlot* record = engine_slot(slot);
    ASSERT_NE(record, nullptr);
    record->state = ChannelState::no_signal;
    record->position_seconds = 3725 + slot;
    record->fps = 25;
    record->bitrate_kbps = 2500;
    record->exit_code = 0x80 + 9;
  }
  EXPECT_EQ(engine_get_state(17), ChannelState::no_signal);
  EXPECT_EQ(engine_get_time(31), 3725 + 31);
  EXPECT_EQ(engine_get_time(0), 3725);
  EXPECT_EQ(engine_get_fps(17), 25);
  EXPECT_EQ(engine_get_bitrate(0), 2500);
  EXPECT_EQ(engine_get_exit_code(31), 0x89u);
  EXPECT_EQ(engine_get_state(1), ChannelState::idle);  // untouched neighbour
  EXPECT_NE(engine_slot(0), engine_slot(16));
}

}  // namespace
}  // namespace vx
