#include "frontend/channel_rows.h"

#include <gtest/gtest.h>

#include "config/json.h"

namespace vx {
namespace {

TEST(ChannelRows, TextsIconsAndHoverButtonsFollowTheChannelAndItsState) {
  const JsonPtr bound =
      json_parse(R"({"input": {"sources": [{"url": "rtsp://cam/1"}]}, "bind": 3, "memo": "hall"})");
  const ChannelRowTexts texts = channel_row_texts(bound.get(), 4);
  EXPECT_EQ(texts.number, "5");
  EXPECT_EQ(texts.source, "rtsp://cam/1");
  EXPECT_EQ(texts.bind, "3");
  EXPECT_EQ(texts.memo, "hall");
  const JsonPtr unbound = json_parse(R"({"bind": 0, "memo": 7})");
  EXPECT_EQ(channel_row_texts(unbound.get(), 0).bind, "");
  EXPECT_EQ(channel_row_texts(unbound.get(), 0).memo, "");

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
      {ChannelState::preview, false, false, StatusIcon::active, false, true, false},
      {ChannelState::no_signal, true, false, StatusIcon::stopping, false, true, false},
      {ChannelState::stopping, false, false, StatusIcon::stopping, false, true, false},
  };
  for (const Case& c : cases) {
    const int state = static_cast<int>(c.state);
    EXPECT_EQ(status_icon(c.state), c.icon) << state;
    const HoverButtons buttons = hover_buttons(c.state, c.folder, c.cells_open);
    EXPECT_EQ(buttons.start, c.start) << state;
    EXPECT_EQ(buttons.stop, c.stop) << state;
    EXPECT_EQ(buttons.previous, c.step) << state;
    EXPECT_EQ(buttons.next, c.step) << state;
  }
}

TEST(ChannelRows, TipsAreCutAtACharacterAndLoadColoursAreClamped) {
  const std::string e_acute = "\xc3\xa9";
  std::string eighty_accents;
  for (int i = 0; i < 80; ++i)
    eighty_accents += e_acute;
  std::string seventy_six_accents;
  for (int i = 0; i < 76; ++i)
    seventy_six_accents += e_acute;
  struct TipCase {
    ChannelColumn column;
    std::string text, tip;
  };
  const TipCase tips[] = {
      {ChannelColumn::source, std::string(100, 'u'), std::string(76, 'u') + "..."},
      {ChannelColumn::source, std::string(79, 'u'), std::string(79, 'u')},
      {ChannelColumn::source, eighty_accents, seventy_six_accents + "..."},
      {ChannelColumn::source, std::string(78, 'u') + "\xff\xfe", std::string(76, 'u') + "..."},
      {ChannelColumn::memo, "anything", kChannelListHint},
  };
  for (const TipCase& c : tips)
    EXPECT_EQ(channel_list_tip(c.column, c.text), c.tip) << c.text;

  struct ColourCase {
    int percent, red, green;
  };
  const ColourCase colours[] = {{0, 55, 255},  {49, 251, 255}, {50, 255, 255},
                                {100, 255, 5}, {250, 255, 5},  {-3, 55, 255}};
  for (const ColourCase& c : colours) {
    const LoadCellColour colour = load_cell_colour(c.percent);
    EXPECT_EQ(colour.red, c.red) << c.percent;
    EXPECT_EQ(colour.green, c.green) << c.percent;
    EXPECT_EQ(colour.blue, 0) << c.percent;
  }
  EXPECT_EQ(load_cell_text(250), "250%");
}

}  // namespace
}  // namespace vx
