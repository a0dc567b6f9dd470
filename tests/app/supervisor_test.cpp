// The supervision rules against the stand-in transcoder: restarts after "autoRestart" seconds
// (on a clock the test moves), folders moving on file by file, the commands and their flags, and
// a view told only about changes.
#include "app/supervisor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "config/core_lock.h"
#include "config/store.h"
#include "engine/channel_compiler.h"
#include "engine/channel_slot.h"
#include "engine/engine.h"
#include "engine/playlist.h"
#include "tests/support/peers.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testing_support;

class RecordingView : public SupervisorView {
 public:
  void row_changed(int row, ChannelState state, const std::string& text) override {
    changes.push_back({row, state, text});
  }
  void row_texts_changed(int) override { ++text_refreshes; }
  struct Change {
    int row;
    ChannelState state;
    std::string text;
  };
  std::vector<Change> changes;
  int text_refreshes = 0;
};

// A channel whose stand-in transcoder follows `script`.
JsonPtr scripted_channel(const std::string& source, const std::string& script, bool enable) {
  JsonPtr channel = channel_template();
  config_set_bool(channel.get(), "enable", enable);
  cJSON* input = config_object(channel.get(), "input");
  config_set_string(cJSON_GetArrayItem(config_array(input, "sources"), 0), "url", source);
  config_set_string(input, "customOptions", "\"--script=" + script + "\"");
  return channel;
}

class SupervisorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fresh_test_folder("vx-supervisor");
    fs::create_directories(folder_ / "bin");
    fs::create_directories(folder_ / "media");
    fs::create_symlink(fs::path(module_folder()) / "vx_fake_transcoder",
                       folder_ / "bin" / std::string(kTranscoderFileName));
    config_set_path((folder_ / "morvi.json").string());
    attach_folder_playlists_to_config();
    EngineSettings settings;
    settings.transcoder_folder = (folder_ / "bin").string();
    ASSERT_EQ(engine_init(settings), 0);
  }
  void TearDown() override {
    engine_shutdown();
    config_free();
    fs::remove_all(folder_);
  }

  // Installs and saves a document of these channels; reloads read it back from the file.
  void install(int auto_restart, std::vector<JsonPtr> channels) {
    JsonPtr root(cJSON_CreateObject());
    config_set_int(cJSON_AddObjectToObject(root.get(), "global"), "autoRestart", auto_restart);
    cJSON* list = cJSON_AddArrayToObject(root.get(), "channels");
    for (JsonPtr& channel : channels)
      cJSON_AddItemToArray(list, channel.release());
    const CoreLock lock = core_lock();
    ASSERT_NE(config_normalise(*json_print(root.get())), nullptr);
    ASSERT_EQ(config_save(), 0);
    ASSERT_TRUE(config_load().loaded);
  }

  bool enabled(int row) {
    const CoreLock lock = core_lock();
    return config_bool(cJSON_GetArrayItem(config_array(config_document(), "channels"), row),
                       "enable");
  }

  // Ticks (the clock standing at `now`) until the condition holds.
  bool tick_until(const std::function<bool()>& done, SupervisorClock::time_point now) {
    return wait_until(
        [&] {
          supervisor_.tick(now);
          return done();
        },
        10s);
  }

  fs::path folder_;
  RecordingView view_;
  int commits_ = 0;
  int reloads_ = 0;
  Supervisor supervisor_{view_,
                         {[this] {
                            ++commits_;
                            config_save();
                          },
                          [this] {
                            ++reloads_;
                            config_load();
                          }}};
};

TEST_F(SupervisorTest, EndedChannelRestartsAfterAutoRestartSecondsUnlessStopped) {
  std::vector<JsonPtr> channels;
  channels.push_back(scripted_channel("/media/a.mp4", "sleep 100|exit 1", true));
  channels.push_back(scripted_channel("/media/b.mp4", "sleep 100|exit 1", true));
  install(3, std::move(channels));
  supervisor_.rebuild_rows(true);
  EXPECT_EQ(supervisor_.row_state(0), ChannelState::running) << "started at once";
  const auto t0 = SupervisorClock::now();
  ASSERT_TRUE(tick_until(
      [&] { return supervisor_.restart_pending(0) && supervisor_.restart_pending(1); }, t0));
  EXPECT_EQ(supervisor_.row_state(0), ChannelState::idle);
  EXPECT_GE(reloads_, 1) << "the configuration is reread before a restart is scheduled";
  EXPECT_GE(view_.text_refreshes, 1);

  supervisor_.stop_channel(1);  // a stop while its restart waits cancels it in effect
  supervisor_.tick(t0 + 2900ms);
  EXPECT_EQ(engine_get_state(0), ChannelState::idle) << "not before three seconds";
  supervisor_.tick(t0 + 3s);
  EXPECT_EQ(engine_get_state(0), ChannelState::running);
  EXPECT_EQ(supervisor_.row_state(0), ChannelState::running);
  EXPECT_EQ(engine_get_state(1), ChannelState::idle);
  EXPECT_FALSE(enabled(1));
  EXPECT_FALSE(supervisor_.restart_pending(1));
}

TEST_F(SupervisorTest, WithoutAutoRestartOrWithANegativeOneAnEndedChannelStaysIdleAndEnabled) {
  std::vector<JsonPtr> channels;
  channels.push_back(scripted_channel("/media/a.mp4", "exit 0", true));
  fs::create_directories(folder_ / "media" / "none");
  channels.push_back(scripted_channel((folder_ / "media" / "none").string(), "hang", true));
  install(0, std::move(channels));
  {
    // Reading a file turns a negative wait into 0; one set in memory must not restart at once
    // either, and reads as 0 too.
    const CoreLock lock = core_lock();
    config_set_int(config_object(config_document(), "global"), "autoRestart", -5);
  }
  const std::vector<Supervisor::StartFailure> failed = supervisor_.rebuild_rows(true);
  ASSERT_EQ(failed.size(), 1u) << "the automatic start tells which channel did not start";
  EXPECT_EQ(failed[0].row, 1);
  EXPECT_EQ(failed[0].code, kErrorFolderUnplayable);
  const auto now = SupervisorClock::now();
  ASSERT_TRUE(tick_until([&] { return engine_get_state(0) == ChannelState::idle; }, now));
  supervisor_.tick(now);
  supervisor_.tick(now + 1h);
  EXPECT_EQ(supervisor_.row_state(0), ChannelState::idle);
  EXPECT_FALSE(supervisor_.restart_pending(0));
  EXPECT_TRUE(enabled(0));
  EXPECT_EQ(reloads_, 0);
}

TEST_F(SupervisorTest, ATargetFolderThatCannotBeWrittenFailsOnceWithItsReasonInTheRow) {
  std::ofstream(folder_ / "not-a-folder") << "x";
  JsonPtr channel = scripted_channel("/media/a.mp4", "hang", true);
  cJSON* target =
      cJSON_GetArrayItem(config_array(config_object(channel.get(), "output"), "targets"), 0);
  config_set_string(target, "format", "hls");
  config_set_string(target, "url", (folder_ / "not-a-folder" / "ch1.m3u8").string());
  std::vector<JsonPtr> channels;
  channels.push_back(std::move(channel));
  install(1, std::move(channels));
  const std::vector<Supervisor::StartFailure> failed = supervisor_.rebuild_rows(true);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].code, kErrorOutputFolderUnwritable);
  const auto t0 = SupervisorClock::now();
  supervisor_.tick(t0);
  supervisor_.tick(t0 + 1h);
  EXPECT_FALSE(supervisor_.restart_pending(0));
  EXPECT_EQ(engine_get_state(0), ChannelState::idle);
  EXPECT_EQ(supervisor_.row_text(0).rfind(
                "IDLE: cannot make the folder " + (folder_ / "not-a-folder").string(), 0),
            0u)
      << supervisor_.row_text(0);
}

TEST_F(SupervisorTest, RowsFollowTheirChannelsWhenChannelsAreAddedOrRemoved) {
  std::vector<JsonPtr> channels;
  channels.push_back(scripted_channel("/media/a.mp4", "exit 0", false));
  channels.push_back(scripted_channel("/media/b.mp4", "sleep 100|exit 1", true));
  channels.push_back(scripted_channel("/media/c.mp4", "hang", false));
  install(3, std::move(channels));
  supervisor_.rebuild_rows(true);
  const auto t0 = SupervisorClock::now();
  ASSERT_TRUE(tick_until([&] { return supervisor_.restart_pending(1); }, t0));

  // The first channel goes: the pending restart moves up with its channel.
  {
    const CoreLock lock = core_lock();
    ASSERT_TRUE(remove_channel(config_array(config_document(), "channels"), 0));
  }
  ASSERT_TRUE(supervisor_.remove_row(0));
  EXPECT_EQ(supervisor_.row_count(), 2);
  EXPECT_TRUE(supervisor_.restart_pending(0));
  EXPECT_FALSE(supervisor_.restart_pending(1));
  supervisor_.tick(t0 + 3s);
  EXPECT_EQ(engine_get_state(0), ChannelState::running) << "its own channel restarts";
  EXPECT_EQ(engine_get_state(1), ChannelState::idle) << "not the one that took its place";

  // A channel appended by Apply takes commands and is watched.
  {
    const CoreLock lock = core_lock();
    cJSON_AddItemToArray(config_array(config_document(), "channels"),
                         scripted_channel("/media/d.mp4", "hang", false).release());
  }
  EXPECT_EQ(supervisor_.add_row(), 2);
  EXPECT_EQ(supervisor_.add_row(), -1) << "no channel for a fourth row";
  ASSERT_EQ(supervisor_.start_channel(2), 0);
  supervisor_.tick(t0 + 4s);
  EXPECT_EQ(supervisor_.row_state(2), ChannelState::running);
  EXPECT_FALSE(supervisor_.remove_row(3));
  supervisor_.stop_all();
}

TEST_F(SupervisorTest, FolderMovesOnFileByFileAndWrapsOnlyWithAutoRestart) {
  for (const char* name : {"a.mp4", "b.mp4", "c.mp4"})
    std::ofstream(folder_ / "media" / name);
  const std::string media = (folder_ / "media").string();
  for (const int auto_restart : {0, 1}) {
    SCOPED_TRACE(auto_restart);
    std::vector<JsonPtr> channels;
    channels.push_back(scripted_channel(media, "sleep 50|exit 0", false));
    install(auto_restart, std::move(channels));
    view_.changes.clear();
    supervisor_.rebuild_rows(false);
    ASSERT_EQ(supervisor_.start_channel(0), 0);
    std::vector<std::string> played;
    const auto now = SupervisorClock::now();
    tick_until(
        [&] {
          for (const auto& change : view_.changes) {
            if (change.state == ChannelState::running &&
                (played.empty() || played.back() != change.text)) {
              played.push_back(change.text);
            }
          }
          view_.changes.clear();
          return played.size() >= 4 || supervisor_.row_state(0) == ChannelState::idle;
        },
        now);
    if (auto_restart == 0) {
      EXPECT_EQ(played, (std::vector<std::string>{"a.mp4", "b.mp4", "c.mp4"}));
      EXPECT_EQ(supervisor_.row_state(0), ChannelState::idle);
      EXPECT_TRUE(enabled(0));
    } else {
      EXPECT_EQ(played, (std::vector<std::string>{"a.mp4", "b.mp4", "c.mp4", "a.mp4"}));
      EXPECT_FALSE(supervisor_.restart_pending(0)) << "a folder never waits";
    }
    supervisor_.stop_channel(0);
    tick_until([&] { return engine_get_state(0) == ChannelState::idle; }, now);
  }
}

TEST_F(SupervisorTest, PreviousAndNextFileStepThroughARunningFolder) {
  for (const char* name : {"a.mp4", "b.mp4", "c.mp4"})
    std::ofstream(folder_ / "media" / name);
  std::vector<JsonPtr> channels;
  channels.push_back(scripted_channel((folder_ / "media").string(), "hang", true));
  install(1, std::move(channels));
  supervisor_.rebuild_rows(true);
  const auto now = SupervisorClock::now();
  const auto plays = [&](const std::string& name) {
    return tick_until([&] { return supervisor_.row_text(0) == name; }, now);
  };
  ASSERT_TRUE(plays("a.mp4"));
  supervisor_.next_file(0);
  ASSERT_TRUE(plays("b.mp4"));
  supervisor_.next_file(0);
  ASSERT_TRUE(plays("c.mp4"));
  supervisor_.previous_file(0);
  EXPECT_TRUE(plays("b.mp4"));
  EXPECT_TRUE(enabled(0));
}

TEST_F(SupervisorTest, CommandsKeepTheirFlagsAndAStopWhileStoppingKills) {
  fs::create_directories(folder_ / "media" / "none");
  std::vector<JsonPtr> channels;
  channels.push_back(scripted_channel("/media/a.mp4", "ignore-int|hang", false));
  channels.push_back(scripted_channel("/media/b.mp4", "hang", false));
  channels.push_back(scripted_channel((folder_ / "media" / "none").string(), "hang", false));
  install(1, std::move(channels));
  supervisor_.rebuild_rows(false);
  ASSERT_EQ(supervisor_.start_channel(1), 0);
  {
    const CoreLock lock = core_lock();  // running without its flag, as after a web start
    config_set_bool(cJSON_GetArrayItem(config_array(config_document(), "channels"), 1), "enable",
                    false);
  }
  const int commits_before = commits_;
  supervisor_.start_all();
  EXPECT_EQ(commits_, commits_before + 1) << "one save for the whole command";
  EXPECT_EQ(engine_get_state(0), ChannelState::running);
  EXPECT_TRUE(enabled(0));
  EXPECT_FALSE(enabled(1)) << "a running channel keeps its flag";
  EXPECT_EQ(engine_get_state(2), ChannelState::idle) << "an empty folder cannot start";
  EXPECT_TRUE(enabled(2)) << "Start All marks even a failed start to run";
  supervisor_.stop_channel(2);
  EXPECT_EQ(supervisor_.run_channel_command(ChannelCommand::start, 2), kErrorFolderUnplayable);
  EXPECT_FALSE(enabled(2)) << "a single start that failed is not marked to run";
  EXPECT_EQ(supervisor_.run_channel_command(ChannelCommand::start, 3), kErrorNoSuchChannel);

  supervisor_.stop_channel(0);
  EXPECT_FALSE(enabled(0));
  EXPECT_EQ(engine_get_state(0), ChannelState::stopping) << "the stand-in ignores SIGINT";
  EXPECT_EQ(supervisor_.start_channel(0), 0);
  EXPECT_TRUE(enabled(0)) << "a start while stopping marks it, so the tick restarts it";
  supervisor_.stop_channel(0);
  const auto now = SupervisorClock::now();
  EXPECT_TRUE(tick_until([&] { return engine_get_state(0) == ChannelState::idle; }, now));
  supervisor_.stop_all();
  EXPECT_TRUE(tick_until([&] { return engine_get_state(1) == ChannelState::idle; }, now));
  EXPECT_FALSE(supervisor_.restart_pending(0) || supervisor_.restart_pending(1))
      << "stopped channels are not restarted";

  // Ticks that change nothing tell the view nothing.
  const std::size_t told = view_.changes.size();
  for (int i = 0; i < 5; ++i)
    supervisor_.tick(now);
  EXPECT_EQ(view_.changes.size(), told);
}

}  // namespace
}  // namespace vx
