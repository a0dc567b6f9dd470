#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/channel_history.h"
#include "engine/channel_slot.h"
#include "engine/thumbnails.h"
#include "platform/memory_folder.h"
#include "vocabulary/channel_glance.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

struct HistoryFixture : ::testing::Test {
  void SetUp() override {
    channel_history_reset();
    for (int slot = 0; slot < kSlotCount; ++slot) *engine_slot(slot) = ChannelSlot{};
  }
  void TearDown() override { SetUp(); }
};

void set_running(int slot, std::int32_t fps, std::int32_t kbps) {
  ChannelSlot& record = *engine_slot(slot);
  record.state = ChannelState::running;
  record.fps = fps;
  record.bitrate_kbps = kbps;
}

std::vector<std::int32_t> fps_of(const std::vector<HistorySample>& samples) {
  std::vector<std::int32_t> figures;
  for (const HistorySample& sample : samples) figures.push_back(sample.fps);
  return figures;
}

// One timeline: at each step the slot shows a frame rate and the clock reads a second; the
// history must then hold exactly these frame rates, oldest first.
TEST_F(HistoryFixture, OneSampleASecondMissedSecondsFilledAndAClockThatWentBack) {
  struct Step {
    std::int64_t now;
    std::int32_t fps;
    std::vector<std::int32_t> expected;
  };
  const Step steps[] = {
      {1000, 25, {25}},
      {1000, 24, {25}},                  // the same second again: nothing new
      {1001, 24, {25, 24}},              // the next second
      {1004, 20, {25, 24, 20, 20, 20}},  // a stalled poll: the missed seconds take this sample
      {990, 12, {25, 24, 20, 20, 20, 12}},  // the clock went back: one sample, no filling
      {991, 13, {25, 24, 20, 20, 20, 12, 13}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.now);
    set_running(0, step.fps, 1500);
    channel_history_sample(step.now);
    EXPECT_EQ(fps_of(channel_history(0)), step.expected);
  }
  // Every channel was sampled at the same moments; an idle one has no figures, whatever its
  // slot last held.
  engine_slot(15)->fps = 30;
  channel_history_sample(992);
  const std::vector<HistorySample> idle = channel_history(15);
  ASSERT_EQ(idle.size(), 8u);
  EXPECT_EQ(idle.back(), (HistorySample{-1, -1, ChannelState::idle}));
  EXPECT_TRUE(channel_history(-1).empty());
  EXPECT_TRUE(channel_history(16).empty()) << "a time-shift companion has no history";
}

TEST_F(HistoryFixture, TenMinutesAreKeptOldestFirstAndMoveWithTheirChannel) {
  for (std::int64_t second = 1; second <= kHistorySamples + 150; ++second) {
    set_running(3, static_cast<std::int32_t>(second % 1000), static_cast<std::int32_t>(second));
    channel_history_sample(second);
  }
  const std::vector<HistorySample> samples = channel_history(3);
  ASSERT_EQ(samples.size(), static_cast<std::size_t>(kHistorySamples));
  EXPECT_EQ(samples.front().bitrate_kbps, 151);
  EXPECT_EQ(samples.back().bitrate_kbps, kHistorySamples + 150);
  for (std::size_t k = 1; k < samples.size(); ++k) {
    ASSERT_EQ(samples[k].bitrate_kbps, samples[k - 1].bitrate_kbps + 1) << k;
  }
  // A gap longer than the history fills it once, not for every missed second.
  channel_history_sample(100'000);
  EXPECT_EQ(channel_history(3).size(), static_cast<std::size_t>(kHistorySamples));
  // Removing channel 2 moves channel 3's samples to number 2; the last number starts empty.
  channel_history_remove(2);
  EXPECT_EQ(channel_history(2).back().bitrate_kbps, kHistorySamples + 150);
  EXPECT_TRUE(channel_history(15).empty());
  channel_history_forget(2);
  EXPECT_TRUE(channel_history(2).empty());
  channel_history_sample(100'001);
  EXPECT_EQ(channel_history(2).size(), 1u);
  EXPECT_EQ(channel_history(1).size(), static_cast<std::size_t>(kHistorySamples));
}

TEST(ChannelHistory, StatesReadAsTheirWords) {
  const std::pair<ChannelState, std::string> words[] = {
      {ChannelState::idle, "idle"},           {ChannelState::extract, "extract"},
      {ChannelState::running, "running"},     {ChannelState::preview, "preview"},
      {ChannelState::no_signal, "no_signal"}, {ChannelState::stopping, "stopping"},
  };
  for (const auto& [state, word] : words) EXPECT_EQ(history_state_word(state), word);
  EXPECT_STREQ(history_state_word(static_cast<ChannelState>(99)), "");
}

// ----- thumbnails -------------------------------------------------------------------------

void write_file(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

TEST(Thumbnails, AFolderInMemoryIsMadeEvenWhenTheRuntimeFolderIsOnADisk) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string kept = saved != nullptr ? saved : "";
  for (const char* runtime : {"/tmp", "relative/folder", "/dev/shm"}) {
    SCOPED_TRACE(runtime);
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    std::string problem;
    const std::optional<std::string> folder = make_memory_folder("vx-test-", problem);
    if (!is_in_memory("/dev/shm")) GTEST_SKIP() << "/dev/shm is not held in memory here";
    ASSERT_TRUE(folder) << problem;
    EXPECT_TRUE(is_in_memory(*folder)) << *folder;
    struct stat about {};
    ASSERT_EQ(::stat(folder->c_str(), &about), 0);
    EXPECT_EQ(about.st_mode & 0777, 0700u);
    write_file(*folder + "/1.jpg", "x");
    remove_memory_folder(*folder);
    EXPECT_FALSE(fs::exists(*folder));
  }
  if (saved != nullptr) {
    ::setenv("XDG_RUNTIME_DIR", kept.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  EXPECT_FALSE(is_in_memory("/no/such/folder"));
}

TEST(Thumbnails, OnlyAWholeRegularFileOfAPictureIsRead) {
  std::string problem;
  const std::optional<std::string> made = make_memory_folder("vx-test-", problem);
  if (!made) GTEST_SKIP() << problem;
  const fs::path folder = *made;
  const std::string picture = "\xff\xd8 picture \xff\xd9";
  write_file(folder / "1.jpg", picture);
  const std::optional<Thumbnail> first = read_thumbnail(folder / "1.jpg");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->jpeg, picture);
  // The transcoder renames a new picture over the old one: the tag changes with it.
  write_file(folder / "1.jpg.part", picture);
  fs::rename(folder / "1.jpg.part", folder / "1.jpg");
  const std::optional<Thumbnail> second = read_thumbnail(folder / "1.jpg");
  ASSERT_TRUE(second);
  EXPECT_NE(second->tag, first->tag);
  EXPECT_EQ(read_thumbnail(folder / "1.jpg")->tag, second->tag) << "the same picture, the same tag";

  write_file(folder / "empty.jpg", "");
  write_file(folder / "huge.jpg", std::string(static_cast<std::size_t>(kMaxThumbnailBytes) + 1, 'x'));
  fs::create_symlink(folder / "1.jpg", folder / "link.jpg");
  ASSERT_EQ(::mkfifo((folder / "fifo.jpg").c_str(), 0600), 0);
  fs::create_directory(folder / "folder.jpg");
  for (const char* name : {"missing.jpg", "empty.jpg", "huge.jpg", "link.jpg", "fifo.jpg", "folder.jpg"}) {
    EXPECT_FALSE(read_thumbnail(folder / name)) << name;
  }
  fs::remove_all(folder);
}

TEST(Thumbnails, AChannelsFileIsOnlyHandedOutWhileItsTranscoderRuns) {
  thumbnails_open();
  const std::string file = thumbnail_file(2);
  ASSERT_FALSE(file.empty()) << "no folder in memory";
  EXPECT_EQ(fs::path(file).filename(), "3.jpg");
  EXPECT_EQ(thumbnail_file(16), "") << "a time-shift companion makes none";
  EXPECT_EQ(thumbnail_file(-1), "");
  ChannelSlot& slot = *engine_slot(2);
  const struct {
    pid_t pid;
    ChannelState state;
    bool handed;
  } cases[] = {
      {0, ChannelState::idle, false},          {4242, ChannelState::extract, false},
      {4242, ChannelState::running, true},     {4242, ChannelState::no_signal, true},
      {4242, ChannelState::preview, true},     {4242, ChannelState::stopping, true},
      {0, ChannelState::running, false},
  };
  for (const auto& c : cases) {
    slot.pid = c.pid;
    slot.state = c.state;
    EXPECT_EQ(engine_thumbnail_file(2).has_value(), c.handed) << static_cast<int>(c.state);
  }
  slot = ChannelSlot{};
  write_file(file, "picture");
  thumbnail_forget(2);
  EXPECT_FALSE(fs::exists(file));
  write_file(file, "picture");
  const std::string folder = fs::path(file).parent_path();
  thumbnails_close();
  EXPECT_FALSE(fs::exists(folder)) << "the folder goes with every picture in it";
  EXPECT_EQ(thumbnail_file(2), "");
}

}  // namespace
}  // namespace vx
