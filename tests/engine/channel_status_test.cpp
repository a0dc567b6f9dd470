#include "engine/channel_status.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "config/json.h"
#include "engine/channel_compiler.h"
#include "engine/channel_slot.h"
#include "engine/playlist.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

void set_slot(int slot, ChannelState state, int position, int fps, int bitrate) {
  ChannelSlot& record = *engine_slot(slot);
  record.state = state;
  record.position_seconds = position;
  record.fps = fps;
  record.bitrate_kbps = bitrate;
}

// What the status reads of a channel object with these members, as the compiler hands it over.
ChannelStatusSettings channel(const std::string& members) {
  const JsonPtr parsed = json_parse("{" + members + "}");
  EXPECT_TRUE(parsed) << members;
  return channel_status_settings(parsed.get());
}

class ChannelStatus : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int slot = 0; slot < kSlotCount; ++slot)
      *engine_slot(slot) = ChannelSlot{};
  }
};

TEST_F(ChannelStatus, RunningChannelShowsPositionRateAndBitRate) {
  set_slot(2, ChannelState::running, 3725, 25, 2500);
  const auto plain = channel(R"("input": {"sources": [{"url": "udp://239.0.0.1:1234"}]})");
  EXPECT_EQ(channel_state(plain, 2), ChannelState::running);
  EXPECT_EQ(channel_status_text(plain, 2), "01:02:05   25fps@2500Kbps");

  set_slot(2, ChannelState::running, 65, -1, 1048);
  EXPECT_EQ(channel_status_text(plain, 2), "00:01:05   @1048Kbps");
  set_slot(2, ChannelState::running, -1, -1, -1);
  EXPECT_EQ(channel_status_text(plain, 2), "");
  EXPECT_EQ(channel_status_text(channel_status_settings(nullptr), 2), "");
}

TEST_F(ChannelStatus, BoundChannelFollowsItsMaster) {
  set_slot(0, ChannelState::no_signal, 125, 25, 3000);
  const auto slave = channel(R"("bind": 1, "input": {"sources": [{"url": "udp://h:1"}]})");
  set_slot(3, ChannelState::idle, -1, -1, -1);
  EXPECT_EQ(channel_state(slave, 3), ChannelState::no_signal);
  EXPECT_EQ(channel_status_text(slave, 3), "00:02:05   ");  // the position only
  // Without signal, it names what its master's failover streams.
  EXPECT_EQ(no_signal_status_text(slave, 3), "NO SIGNAL");
  engine_slot(0)->input_on_air = 2;
  EXPECT_EQ(no_signal_status_text(slave, 3), "STANDBY 2");

  set_slot(3, ChannelState::running, 5, 30, 100);  // running itself: its own figures
  EXPECT_EQ(channel_state(slave, 3), ChannelState::running);
  EXPECT_EQ(channel_status_text(slave, 3), "00:00:05   30fps@100Kbps");

  for (const char* bind : {R"("bind": 0)", R"("bind": -4)", R"("bind": 99)", R"("bind": "x")"}) {
    set_slot(3, ChannelState::idle, -1, -1, -1);
    const auto odd = channel(bind);
    EXPECT_EQ(channel_state(odd, 3), ChannelState::idle) << bind;
    EXPECT_EQ(channel_status_text(odd, 3), "") << bind;
  }
}

TEST_F(ChannelStatus, ScalarTimeShiftUsesTheCompanionSlot) {
  set_slot(4, ChannelState::running, 1, 1, 1);
  set_slot(20, ChannelState::preview, 1, 1, 1);
  const auto shifted = channel(R"("output": {"timeShift": "1"})");
  EXPECT_EQ(channel_state(shifted, 4), ChannelState::preview);
  const auto template_form = channel(R"("output": {"timeShift": {"cacheTime": 5}})");
  EXPECT_EQ(channel_state(template_form, 4), ChannelState::running);
  engine_slot(20)->input_on_air = 1;
  EXPECT_EQ(no_signal_status_text(shifted, 4), "STANDBY 1");
  EXPECT_EQ(no_signal_status_text(template_form, 4), "NO SIGNAL");
  set_slot(20, ChannelState::idle, 1, 1, 1);
  EXPECT_EQ(channel_state(shifted, 4), ChannelState::idle);  // no master to fall back to
}

TEST_F(ChannelStatus, FolderChannelShowsThePlayingFileAndBuffersAreRespected) {
  const fs::path folder =
      fs::temp_directory_path() / ("vx-status-" + std::to_string(getpid())) / "show";
  fs::create_directories(folder);
  std::ofstream(folder / "\xC3\xA9t\xC3\xA9.ts") << "x";
  ASSERT_EQ(channel_playlist(5).build(folder.string(), false, false), 1);
  set_slot(5, ChannelState::running, 10, 25, 100);
  const auto folder_channel =
      channel(R"("input": {"sources": [{"url": ")" + folder.string() + R"("}]})");
  EXPECT_EQ(channel_status_text(folder_channel, 5), "\xC3\xA9t\xC3\xA9.ts");

  char buffer[8];
  EXPECT_EQ(channel_status_text(folder_channel, 5, buffer, 3), 2u);
  EXPECT_STREQ(buffer, "\xC3\xA9");
  EXPECT_EQ(channel_status_text(folder_channel, 5, buffer, 2), 0u);  // no half character
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(channel_status_text(folder_channel, 5, buffer, 0), 0u);

  const auto plain = channel(R"("input": {"sources": [{"url": "udp://h:1"}]})");
  EXPECT_EQ(channel_status_text(plain, 5, buffer, sizeof buffer), 7u);
  EXPECT_STREQ(buffer, "00:00:1");
  channel_playlist(5) = FolderPlaylist{};
  fs::remove_all(folder.parent_path());
}

}  // namespace
}  // namespace vx
