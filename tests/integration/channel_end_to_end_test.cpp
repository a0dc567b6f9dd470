// Channels of a configuration document started through the compiler, the engine and the real
// morvi-transcoder with ffmpeg, and read back by real receivers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "config/document.h"
#include "config/store.h"
#include "engine/channel_compiler.h"
#include "engine/channel_status.h"
#include "engine/engine.h"
#include "engine/playlist.h"
#include "platform/host.h"
#include "tests/integration/engine_start.h"
#include "tests/support/peers.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

using namespace testing_support;

class ChannelEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = fs::temp_directory_path() / ("vx-channels-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "clips");
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4"}) {
      Peer maker(ffmpeg_argv({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-f",
                              "lavfi", "-i", "sine=frequency=440:duration=2", "-c:v", "libx264",
                              "-c:a", "aac", (folder_ / "clips" / name).string()}),
                 "/dev/null", folder_ / "clip.err");
      clips_ready_ = maker.wait(kRunLimit) == 0;
    }
  }
  static void TearDownTestSuite() { fs::remove_all(folder_); }

  void SetUp() override {
    ASSERT_TRUE(clips_ready_) << read_text(folder_ / "clip.err");
    ASSERT_EQ(start_engine_with_transcoder(folder_), 0);
  }
  void TearDown() override {
    engine_shutdown();
    config_free();
  }

  // The new-channel template with its source and its UDP-format target filled in.
  static JsonPtr template_channel(const std::string& source_url, const std::string& target_url) {
    JsonPtr channel = channel_template();
    config_set_string(first_source(channel.get()), "url", source_url);
    cJSON* target =
        cJSON_GetArrayItem(config_array(config_object(channel.get(), "output"), "targets"), 0);
    config_set_string(target, "url", target_url);
    return channel;
  }

  static cJSON* first_source(cJSON* channel) {
    return cJSON_GetArrayItem(config_array(config_object(channel, "input"), "sources"), 0);
  }

  static std::string text_of(const JsonPtr& channel) {
    return json_print(channel.get()).value_or("");
  }

  // With auto-restart on, a single local file loops.
  static cJSON* install(const std::string& channels, int auto_restart = 0) {
    cJSON* document =
        config_normalise(R"({"global": {"log": 32, "autoRestart": )" +
                         std::to_string(auto_restart) + R"(}, "channels": [)" + channels + "]}");
    EXPECT_NE(document, nullptr);
    return document;
  }

  static bool poll_until(const std::function<bool()>& done, std::chrono::seconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      engine_poll_slots();
      if (done()) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  static std::string log_text() { return read_text(folder_ / "morv_001.log"); }

  static inline fs::path folder_;
  static inline bool clips_ready_ = false;
};

TEST_F(ChannelEndToEnd, TemplateChannelStreamsToAUdpReceiver) {
  const std::uint16_t port = free_udp_ports(1);
  ASSERT_NE(port, 0);
  const fs::path capture = folder_ / "capture.ts";
  Peer receiver(
      ffmpeg_argv({"-y", "-i", "udp://127.0.0.1:" + std::to_string(port) + "?timeout=10000000",
                   "-t", "1", "-c", "copy", capture.string()}),
      "/dev/null", folder_ / "receiver.err");
  while (!port_taken(Transport::udp, port) && receiver.running())
    std::this_thread::sleep_for(20ms);

  cJSON* document = install(text_of(template_channel((folder_ / "clips/a.mp4").string(),
                                                     "udp://127.0.0.1:" + std::to_string(port))),
                            1);
  ASSERT_EQ(compile_and_start_channel(document, 0), 0);
  const ChannelStatusSettings channel =
      channel_status_settings(cJSON_GetArrayItem(config_array(document, "channels"), 0));
  std::string status;
  ASSERT_TRUE(poll_until([&] {
    status = channel_status_text(channel, 0);
    return status.find("fps@") != std::string::npos;
  })) << log_text();
  EXPECT_EQ(channel_state(channel, 0), ChannelState::running);
  EXPECT_EQ(status.substr(0, 2), "00");
  EXPECT_NE(status.find("Kbps"), std::string::npos) << status;

  ASSERT_EQ(receiver.wait(kRunLimit), 0) << read_text(folder_ / "receiver.err");
  EXPECT_EQ(probe_file(capture).kinds(), (std::vector<std::string>{"audio aac", "video h264"}));
  stop_compiled_channel(document, 0, StopMode::orderly);
  EXPECT_TRUE(poll_until([&] { return channel_state(channel, 0) == ChannelState::idle; }));
}

// A live source that stops sending leaves ffmpeg waiting without a word: the channel shows no
// signal within seconds, says so in its log, and shows running again when the source returns.
TEST_F(ChannelEndToEnd, AQuietLiveSourceShowsNoSignalUntilItReturns) {
  const std::uint16_t port = free_udp_ports(1);
  ASSERT_NE(port, 0);
  const std::string source = "udp://127.0.0.1:" + std::to_string(port);
  JsonPtr live = template_channel(source, "udp://127.0.0.1:9");
  config_set_string(first_source(live.get()), "format", "udp");
  cJSON* document = install(text_of(live));
  ASSERT_EQ(compile_and_start_channel(document, 0), 0);
  const ChannelStatusSettings channel =
      channel_status_settings(cJSON_GetArrayItem(config_array(document, "channels"), 0));
  auto sender = start_live_udp_sender(folder_, port, "sender");
  ASSERT_TRUE(poll_until([&] {
    return channel_status_text(channel, 0).find("fps@") != std::string::npos;
  })) << log_text();  // ffmpeg probes a live source for up to 5 s
  sender.reset();
  ASSERT_TRUE(poll_until([&] { return channel_state(channel, 0) == ChannelState::no_signal; }, 15s))
      << log_text();
  EXPECT_NE(log_text().find("] no signal: the source has delivered nothing for"), std::string::npos)
      << log_text();

  sender = start_live_udp_sender(folder_, port, "sender");
  EXPECT_TRUE(poll_until([&] { return channel_state(channel, 0) == ChannelState::running; }))
      << log_text();
  EXPECT_NE(log_text().find("] the source delivers again after"), std::string::npos);
  stop_compiled_channel(document, 0, StopMode::kill);
  EXPECT_TRUE(poll_until([&] { return channel_state(channel, 0) == ChannelState::idle; }));
}

TEST_F(ChannelEndToEnd, FolderChannelPlaysItsFirstFile) {
  attach_folder_playlists_to_config();
  cJSON* document =
      install(text_of(template_channel((folder_ / "clips").string(), "udp://127.0.0.1:9")));
  ASSERT_EQ(compile_and_start_channel(document, 0), 0);
  EXPECT_NE(log_text().find("-i " + quoted_argument((folder_ / "clips/a.mp4").string()) + " "),
            std::string::npos);
  const ChannelStatusSettings channel =
      channel_status_settings(cJSON_GetArrayItem(config_array(document, "channels"), 0));
  EXPECT_EQ(channel_status_text(channel, 0), "a.mp4");
  stop_compiled_channel(document, 0, StopMode::kill);
  EXPECT_TRUE(poll_until([&] { return channel_state(channel, 0) == ChannelState::idle; }));
}

TEST_F(ChannelEndToEnd, MasterAndSlaveShareOneOutput) {
  const fs::path output = folder_ / "both.ts";
  JsonPtr master = template_channel((folder_ / "clips/a.mp4").string(), output.string());
  // The master lists its slave after its own source; the slave names its master.
  JsonPtr bind_entry = json_parse(R"({"bind": 2})");
  cJSON_AddItemToArray(config_array(config_object(master.get(), "input"), "sources"),
                       bind_entry.release());  // the array owns it now
  JsonPtr slave = template_channel((folder_ / "clips/b.mp4").string(), "udp://ignored:1");
  config_set_int(slave.get(), "bind", 1);
  cJSON* document = install(text_of(master) + ", " + text_of(slave));
  StartRequest request;
  ASSERT_EQ(compile_channel(document, 0, request), 0);
  ASSERT_EQ(request.sources.size(), 2u);
  ASSERT_EQ(compile_and_start_channel(document, 0), 0);
  const ChannelStatusSettings channel =
      channel_status_settings(cJSON_GetArrayItem(config_array(document, "channels"), 0));
  ASSERT_TRUE(poll_until([&] { return channel_state(channel, 0) == ChannelState::idle; }))
      << log_text();
  EXPECT_EQ(engine_get_exit_code(0), 0u) << log_text();
  EXPECT_EQ(probe_file(output).kinds(),
            (std::vector<std::string>{"audio aac", "audio aac", "video h264", "video h264"}));
}

}  // namespace
}  // namespace vx
