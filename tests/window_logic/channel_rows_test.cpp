#include "window_logic/channel_rows.h"

#include <gtest/gtest.h>

#include <tuple>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/store.h"

namespace vx {
namespace {

TEST(ChannelRows, TextsIconsAndHoverButtonsFollowTheChannelAndItsState) {
  const JsonPtr bound =
      json_parse(R"({"input": {"sources": [{"url": "rtsp://cam/1"}]}, "bind": 3, "memo": "hall"})");
  const ChannelRowTexts texts = channel_row_texts(bound.get(), 4);
  EXPECT_EQ(std::tie(texts.number, texts.source, texts.bind, texts.memo),
            std::make_tuple("5", "rtsp://cam/1", "3", "hall"));
  const ChannelRowTexts unbound =
      channel_row_texts(json_parse(R"({"bind": 0, "memo": 7})").get(), 0);
  EXPECT_EQ(unbound.bind + unbound.memo, "");

  // The stored rows are those of the document in force, numbered by their place.
  {
    JsonPtr document(cJSON_CreateObject());
    cJSON* channels = cJSON_AddArrayToObject(document.get(), "channels");
    for (const char* memo : {"a", "b"}) {
      JsonPtr channel = channel_template();
      config_set_string(channel.get(), "memo", memo);
      cJSON* sources = config_array(config_object(channel.get(), "input"), "sources");
      config_set_string(cJSON_GetArrayItem(sources, 0), "url", "/m.mp4");
      if (*memo == 'b') config_set_int(channel.get(), "bind", 1);
      cJSON_AddItemToArray(channels, channel.release());
    }
    const CoreLock lock = core_lock();
    ASSERT_NE(config_normalise(json_print(document.get()).value_or("")), nullptr);
  }
  const std::vector<ChannelRowTexts> stored = stored_channel_row_texts();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1].number + stored[1].bind + stored[1].memo, "21b");
  const std::optional<ChannelRowTexts> first = stored_channel_row_texts(0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->number + first->memo, "1a");
  EXPECT_FALSE(stored_channel_row_texts(2));
  EXPECT_FALSE(stored_channel_row_texts(-1));
  {
    const CoreLock lock = core_lock();
    config_free();
  }

  struct Case {
    ChannelState state;
    bool folder, cells_open;
    StatusIcon icon;
    bool start, stop, step;
  };
  const Case cases[] = {
      {ChannelState::idle, true, false, StatusIcon::idle, true, false, false},
      {ChannelState::running, false, false, StatusIcon::active, false, true, false},
      {ChannelState::running, true, false, StatusIcon::active, false, true, true},
      {ChannelState::running, true, true, StatusIcon::active, false, false, false},
      {ChannelState::extract, true, false, StatusIcon::active, false, true, false},
      {ChannelState::no_signal, true, false, StatusIcon::stopping, false, true, false},
  };
  for (const Case& c : cases) {
    const int state = static_cast<int>(c.state);
    EXPECT_EQ(status_icon(c.state), c.icon) << state;
    const HoverButtons buttons = hover_buttons(c.state, c.folder, c.cells_open);
    EXPECT_EQ(std::tie(buttons.start, buttons.stop, buttons.previous, buttons.next),
              std::tie(c.start, c.stop, c.step, c.step))
        << state;
  }
}

TEST(ChannelRows, TipsAreCutAtACharacterAndLoadColoursAreClamped) {
  std::string eighty_accents;
  for (int i = 0; i < 80; ++i)
    eighty_accents += "\xc3\xa9";
  struct TipCase {
    ChannelColumn column;
    std::string text, tip;
  };
  const TipCase tips[] = {
      {ChannelColumn::source, std::string(79, 'u'), std::string(79, 'u')},
      {ChannelColumn::source, eighty_accents, eighty_accents.substr(0, 2 * 76) + "..."},
      // A byte that starts no character counts as one.
      {ChannelColumn::source, std::string(78, 'u') + "\xff\xfe", std::string(76, 'u') + "..."},
      {ChannelColumn::memo, "anything", kChannelListHint},
      {ChannelColumn::picture, "anything", kChannelListHint},
      // The history's figures, however long, are never cut.
      {ChannelColumn::history, "anything",
       "Last 2 s, newest at the right: frame rate (upper line) up to 25 fps, bit rate (lower "
       "line) up to 4500 Kbps, no signal (red) for 1 s."},
  };
  const std::vector<HistorySample> history = {{25, 4500, ChannelState::running},
                                              {0, 0, ChannelState::no_signal}};
  for (const TipCase& c : tips)
    EXPECT_EQ(channel_list_tip(c.column, c.text, history), c.tip) << c.text;

  struct ColourCase {
    int percent, red, green;
  };
  const ColourCase colours[] = {{-3, 55, 255}, {49, 251, 255}, {50, 255, 255}, {250, 255, 5}};
  for (const ColourCase& c : colours) {
    const LoadCellColour colour = load_cell_colour(c.percent);
    EXPECT_EQ(std::make_tuple(colour.red, colour.green, colour.blue),
              std::make_tuple(c.red, c.green, 0))
        << c.percent;
  }
  EXPECT_EQ(load_cell_text(250), "250%");
}

}  // namespace
}  // namespace vx
