#include "window_logic/channel_commands.h"

#include <gtest/gtest.h>

#include "config/core_lock.h"
#include "config/store.h"
#include "engine/channel_slot.h"

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

// Stop on a bound row whose own transcoder is idle would stop nothing the row shows: the
// operator is asked about the channel that carries it, and OK stops that one.
TEST(ChannelCommands, StopOnABoundRowNamesTheChannelThatCarriesIt) {
  {
    const CoreLock lock = core_lock();
    const std::string plain = channel_text(true, true);
    const std::string bound = R"({"bind": 1, )" + plain.substr(1);
    ASSERT_NE(config_normalise(R"({"global": {}, "channels": [)" + plain + "," + bound + "," +
                               plain + "]}"),
              nullptr);
  }
  SupervisorView view;
  Supervisor supervisor(view, {});
  supervisor.rebuild_rows(false);
  const auto set_state = [](int slot, ChannelState state) { engine_slot(slot)->state = state; };
  struct Case {
    ChannelState master, own;  // the states of slots 0 and 1
    int stopped;
    std::optional<int> carrier;
  };
  const Case cases[] = {
      {ChannelState::running, ChannelState::idle, 1, 0},
      {ChannelState::no_signal, ChannelState::idle, 1, 0},
      {ChannelState::idle, ChannelState::idle, 1, std::nullopt},
      {ChannelState::running, ChannelState::running, 1, std::nullopt},  // its own transcoder
      {ChannelState::running, ChannelState::idle, 0, std::nullopt},     // the master itself
      {ChannelState::running, ChannelState::idle, 2, std::nullopt},     // not bound
  };
  for (const Case& c : cases) {
    set_state(0, c.master);
    set_state(1, c.own);
    const StopOutcome outcome =
        stop_from_window(supervisor, CommandOrigin::hover, std::nullopt, c.stopped);
    EXPECT_EQ(outcome.carrier, c.carrier) << c.stopped;
    EXPECT_EQ(outcome.question.has_value(), c.carrier.has_value()) << c.stopped;
    EXPECT_FALSE(outcome.message);
  }
  set_state(0, ChannelState::running);
  set_state(1, ChannelState::idle);
  const StopOutcome asked = stop_from_window(supervisor, CommandOrigin::hover, std::nullopt, 1);
  ASSERT_TRUE(asked.question);
  EXPECT_EQ(asked.question->text,
            "Channel #2 is bound to channel #1 and shows its transcoder, which keeps running.\n"
            "Stop channel #1 (and every channel bound to it)?");
  stop_carrier_from_window(supervisor, *asked.carrier);
  EXPECT_EQ(engine_slot(0)->state, ChannelState::stopping);
  {
    const CoreLock lock = core_lock();
    const cJSON* channels = config_array(config_document(), "channels");
    EXPECT_FALSE(config_bool(cJSON_GetArrayItem(channels, 0), "enable"));
    EXPECT_FALSE(config_bool(cJSON_GetArrayItem(channels, 1), "enable"));
  }
  for (int slot = 0; slot < kSlotCount; ++slot)
    *engine_slot(slot) = ChannelSlot{};
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
