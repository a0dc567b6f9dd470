#include "frontend/channel_commands.h"

#include <gtest/gtest.h>

#include "config/core_lock.h"
#include "config/store.h"

namespace vx {
namespace {

// A channel whose single target carries video and audio as given.
std::string channel_text(bool video, bool audio) {
  return std::string(R"({"input": {"sources": [{"url": "/m.mp4"}]}, "output": {"targets": [)") +
         R"({"video": {"enable": )" + (video ? "true" : "false") + R"(, "codec": "h264"},)" +
         R"( "audio": {"enable": )" + (audio ? "true" : "false") + R"(, "codec": "aac"}}]}})";
}

TEST(ChannelCommands, TheHoverButtonsActOnTheirOwnRowAndItsChannelIsChecked) {
  struct RowCase {
    ChannelCommand command;
    CommandOrigin origin;
    std::optional<int> selected, hovered, row;
    const char* title;  // of the box; "" for none
  };
  const RowCase rows[] = {
      {ChannelCommand::start, CommandOrigin::hover, 0, 2, 2, ""},
      {ChannelCommand::start, CommandOrigin::button, 0, 2, 0, ""},
      {ChannelCommand::start, CommandOrigin::button, std::nullopt, 2, std::nullopt,
       "Start Channel"},
      {ChannelCommand::stop, CommandOrigin::button, std::nullopt, 1, std::nullopt, "Stop Channel"},
      {ChannelCommand::stop, CommandOrigin::hover, std::nullopt, 1, 1, ""},
  };
  for (const RowCase& c : rows) {
    const CommandRow found = command_row(c.command, c.origin, c.selected, c.hovered);
    EXPECT_EQ(found.row, c.row);
    EXPECT_EQ(found.message ? found.message->title : "", c.title);
  }

  // The selected channel may start; the one under the pointer carries nothing and is refused.
  {
    const CoreLock lock = core_lock();
    ASSERT_NE(config_normalise(R"({"global": {}, "channels": [)" + channel_text(true, true) + "," +
                               channel_text(false, false) + "]}"),
              nullptr);
  }
  SupervisorView view;
  Supervisor supervisor(view, {});
  supervisor.rebuild_rows(false);
  const std::optional<DialogMessage> refused =
      start_from_window(supervisor, CommandOrigin::hover, 0, 1);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->text, "No video/audio output enabled!");
  EXPECT_EQ(start_failure_message(4, -14).text,
            "Start transcoding on channel #5 failed! (code=-14)");
  const CoreLock lock = core_lock();
  EXPECT_FALSE(start_refusal(cJSON_GetArrayItem(config_array(config_document(), "channels"), 0)));
  config_free();
}

// Exit asks only while something would stop, and says how many; an idle list is never counted.
TEST(ChannelCommands, ExitAsksOnlyWhileChannelsRun) {
  const struct {
    int running;
    const char* text;  // "" for no question
  } cases[] = {
      {0, ""},
      {-1, ""},
      {1, "Exit Vantorix? 1 channel is running and will stop."},
      {3, "Exit Vantorix? 3 channels are running and will stop."},
  };
  for (const auto& c : cases) {
    const std::optional<DialogMessage> question = exit_question(c.running);
    EXPECT_EQ(question ? question->text : "", c.text) << c.running;
    if (question) {
      EXPECT_EQ(question->title, "Exit Vantorix");
    }
  }
  {
    const CoreLock lock = core_lock();
    ASSERT_NE(config_normalise(R"({"global": {}, "channels": [)" + channel_text(true, true) + "," +
                               channel_text(true, true) + "]}"),
              nullptr);
  }
  SupervisorView view;
  Supervisor supervisor(view, {});
  supervisor.rebuild_rows(false);
  EXPECT_EQ(channels_ending_with_program(supervisor), 0) << "two idle rows";
  const CoreLock lock = core_lock();
  config_free();
}

}  // namespace
}  // namespace vx
