#include "window_logic/channel_glance.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/channel_slot.h"
#include "vocabulary/product.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

struct GlanceFixture : ::testing::Test {
  void SetUp() override {
    clear();
    thumbnails_open();
  }
  void TearDown() override {
    clear();
    thumbnails_close();
  }
  static void clear() {
    channel_history_reset();
    for (int slot = 0; slot < kSlotCount; ++slot)
      *engine_slot(slot) = ChannelSlot{};
  }
};

// Row r reads channel slot r: its history, and its picture only while its transcoder runs.
TEST_F(GlanceFixture, EachRowGetsItsChannelsHistoryAndTheRunningOnesPicture) {
  if (thumbnail_file(0).empty()) GTEST_SKIP() << "no folder in memory for the thumbnails";
  for (const int slot : {0, 2}) {
    ChannelSlot& running = *engine_slot(slot);
    running.pid = 4242;  // never signalled: the engine does not run here
    running.state = ChannelState::running;
    running.fps = 25;
    running.bitrate_kbps = 900 + slot;
  }
  channel_history_sample(1000);
  channel_history_sample(1001);
  const std::string picture = "\xff\xd8 picture \xff\xd9";
  std::ofstream(thumbnail_file(0), std::ios::binary) << picture;
  // Channel 3 runs but has no picture yet; channel 2 has an old one although it is idle.
  std::ofstream(thumbnail_file(1), std::ios::binary) << picture;

  const std::vector<ChannelGlance> glances = channel_glances(3, true);
  ASSERT_EQ(glances.size(), 3u);
  EXPECT_EQ(glances[0].history, (std::vector<HistorySample>(2, {25, 900, ChannelState::running})));
  EXPECT_EQ(glances[2].history.back(), (HistorySample{25, 902, ChannelState::running}));
  EXPECT_EQ(glances[1].history.back(), (HistorySample{-1, -1, ChannelState::idle}));
  EXPECT_EQ(glances[0].thumbnail_file, thumbnail_file(0));
  ASSERT_TRUE(glances[0].picture);
  EXPECT_EQ(glances[0].picture->jpeg, picture);
  EXPECT_FALSE(glances[0].picture->tag.empty());
  EXPECT_EQ(glances[1].thumbnail_file, "");
  EXPECT_FALSE(glances[1].picture);
  EXPECT_EQ(glances[2].thumbnail_file, thumbnail_file(2));
  EXPECT_FALSE(glances[2].picture);

  // Without pictures only the file is named; the rows asked for stay within the channels.
  const std::vector<ChannelGlance> plain = channel_glances(1, false);
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].thumbnail_file, thumbnail_file(0));
  EXPECT_FALSE(plain[0].picture);
  EXPECT_EQ(channel_glances(kMaxChannels + 5, false).size(),
            static_cast<std::size_t>(kMaxChannels));
  EXPECT_TRUE(channel_glances(-1, true).empty());
}

}  // namespace
}  // namespace vx
