#include "window_logic/channel_editor.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/store.h"
#include "engine/channel_compiler.h"
#include "engine/command_line.h"
#include "settings/choice_tables.h"
#include "window_logic/editor_panel.h"
#include "window_logic/source_cells.h"
#include "window_logic/standby_list.h"

namespace vx {
namespace {

cJSON* targets(const cJSON* channel) {
  return const_cast<cJSON*>(config_array(config_object(channel, "output"), "targets"));
}

// The panel's Target URL and Target Format controls.
struct FakePanel final : EditorPanelPart {
  std::string url, format;
  std::optional<EditRefusal> refusal;
  void load(const cJSON* channel, int target) override {
    url = config_string(cJSON_GetArrayItem(targets(channel), target), "url");
    format = config_string(cJSON_GetArrayItem(targets(channel), 0), "format");
  }
  std::optional<EditRefusal> validate() const override { return refusal; }
  void save(cJSON* channel, int target) const override {
    cJSON* list = targets(channel);
    config_set_string(cJSON_GetArrayItem(list, 0), "format", format);
    config_set_string(cJSON_GetArrayItem(list, target), "url", url);
  }
};

// The bind cell.
struct FakeCells final : SourceCellsPart {
  std::optional<int> row;
  int bind = 0;
  std::optional<EditRefusal> refusal;
  void open(int opened, const cJSON* channel) override {
    row = opened;
    bind = config_int(channel, "bind");
  }
  std::optional<int> open_row() const override { return row; }
  std::optional<EditRefusal> close_checked(cJSON* channel) override {
    if (refusal) return refusal;
    commit(channel);
    row.reset();
    return std::nullopt;
  }
  void commit(cJSON* channel) override {
    cJSON_DeleteItemFromObjectCaseSensitive(channel, "bind");
    if (bind > 0) config_set_int(channel, "bind", bind);
  }
  void close() override { row.reset(); }
};

std::string channel_text(int n, const std::string& format = "udp", int target_count = 1) {
  std::string list;
  for (int t = 0; t < target_count; ++t) {
    list += (t > 0 ? "," : "") + std::string(R"({"format": ")") + format +
            R"(", "url": "udp://127.0.0.1:)" + std::to_string(2000 + 10 * n + t) +
            R"(", "video": {"enable": true, "codec": "h264"}, "audio": {"enable": true,
            "codec": "aac"}})";
  }
  return R"({"enable": false, "input": {"sources": [{"format": "file", "url": "udp://0.0.0.0:)" +
         std::to_string(1000 + n) + R"("}]}, "output": {"targets": [)" + list + "]}}";
}

class ChannelEditorTest : public ::testing::Test {
 protected:
  void TearDown() override { config_free(); }

  void install(std::vector<std::string> channels) {
    std::string text = R"({"global": {}, "channels": [)";
    for (std::size_t i = 0; i < channels.size(); ++i)
      text += (i > 0 ? "," : "") + channels[i];
    const CoreLock lock = core_lock();
    ASSERT_NE(config_normalise(text + "]}"), nullptr);
  }
  void install(int count) {
    std::vector<std::string> channels;
    for (int n = 1; n <= count; ++n)
      channels.push_back(channel_text(n));
    install(channels);
  }
  static cJSON* stored(int row) {
    return cJSON_GetArrayItem(config_array(config_document(), "channels"), row);
  }
  static std::string document() { return config_print().value_or(""); }
  // The numbers of the {"bind": n} items in a channel's sources.
  static std::vector<int> bind_items(int row) {
    std::vector<int> numbers;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, config_array(config_object(stored(row), "input"), "sources")) {
      if (cJSON_GetObjectItemCaseSensitive(item, "bind"))
        numbers.push_back(config_int(item, "bind"));
    }
    return numbers;
  }
  static bool media_enabled(const cJSON* channel, const char* media) {
    return config_bool(config_object(cJSON_GetArrayItem(targets(channel), 0), media), "enable");
  }

  FakePanel panel;
  FakeCells cells;
  AdvancedFormatSettings format;
  AdvancedVideoSettings video;
  StandbyList standby;
  std::array<ChannelState, kMaxChannels> states{};
  int commits = 0;
  std::vector<int> appended, removed;
  ChannelEditor editor{
      {panel, cells, format, video, standby},
      {[this](int row) { return states.at(static_cast<std::size_t>(row)); }, [this] { ++commits; },
       [this](int row) { appended.push_back(row); }, [this](int row) { removed.push_back(row); }}};
};

TEST_F(ChannelEditorTest, NewThenCancelLeavesTheDocumentAndTheAdvancedPanelsLetGo) {
  install(2);
  const std::string before = document();
  const EditorOutcome created = editor.new_channel();
  EXPECT_EQ(created.rows.added, 2);
  EXPECT_EQ(cells.row, 2);
  EXPECT_EQ(format.editingChannel, editor.editing_channel());
  const EditorOutcome cancelled = editor.cancel();
  EXPECT_EQ(cancelled.rows.removed, 2);
  EXPECT_EQ(cancelled.rows.selected, 1);
  EXPECT_EQ(document(), before);
  EXPECT_EQ(commits, 0);
  EXPECT_FALSE(cells.row);
  EXPECT_EQ(format.editingChannel, nullptr);
}

TEST_F(ChannelEditorTest, EnableBoxesGoToTheShownChannelAndCancelDropsThemFromAnEdit) {
  struct Case {
    bool edit_first, show_second, apply;
    bool first_after, second_after;
    int commits;
  };
  const Case cases[] = {
      {false, true, false, true, false, 1},  // no edit: a direct switch, saved at once
      {true, false, false, true, true, 0},   // edit, then Cancel: nothing stays
      {true, false, true, false, true, 1},   // edit, then Apply: the box goes with the edit
      {true, true, false, true, false, 1},   // another row shown while editing: that row's box
  };
  for (const Case& c : cases) {
    install(2);
    commits = 0;
    editor.select_row(0);
    if (c.edit_first) editor.edit(0);
    if (c.show_second) editor.select_row(1);
    editor.set_media_enabled(MediaKind::video, false);
    if (c.show_second) editor.select_row(0);
    if (c.apply) editor.apply();
    if (editor.editing()) editor.cancel();
    EXPECT_EQ(media_enabled(stored(0), "video"), c.first_after) << c.edit_first << c.apply;
    EXPECT_EQ(media_enabled(stored(1), "video"), c.second_after) << c.edit_first << c.apply;
    EXPECT_TRUE(media_enabled(stored(0), "audio"));
    EXPECT_EQ(commits, c.commits) << c.edit_first << c.apply;
  }
}

TEST_F(ChannelEditorTest, TheBindItemFollowsTheEditedChannelFromMasterToMaster) {
  install(3);
  struct Step {
    int bind;
    std::vector<int> first, third;
  };
  const Step steps[] = {{1, {2}, {}}, {3, {}, {2}}, {3, {}, {2}}, {0, {}, {}}};
  for (const Step& step : steps) {
    editor.edit(1);
    cells.bind = step.bind;
    editor.apply();
    EXPECT_EQ(config_int(stored(1), "bind"), step.bind);
    EXPECT_EQ(bind_items(0), step.first) << step.bind;
    EXPECT_EQ(bind_items(2), step.third) << step.bind;
  }
  // A new channel takes its number for the item.
  editor.new_channel();
  cells.bind = 1;
  editor.apply();
  EXPECT_EQ(bind_items(0), std::vector<int>{4});
  EXPECT_EQ(appended, std::vector<int>{3});
  EXPECT_FALSE(config_bool(stored(3), "enable"));
}

TEST_F(ChannelEditorTest, ARefusedApplyChangesNoChannelAndKeepsTheEdit) {
  const EditRefusal refusal{{"Settings Error", "Target URL invalid!", MessageIcon::error}, "url"};
  // The last three are the checks a post of the document passes, with the same words.
  enum class Refuser {
    source_cells,
    editor_panel,
    advanced_format,
    control_character,
    single_target_format,
    bind_to_no_channel
  };
  for (Refuser refuser :
       {Refuser::source_cells, Refuser::editor_panel, Refuser::advanced_format,
        Refuser::control_character, Refuser::single_target_format, Refuser::bind_to_no_channel}) {
    install({channel_text(1), channel_text(2, "hls", 2)});
    const std::string before = document();
    editor.edit(1);
    cells.bind = 1;
    panel.url = "/media/changed.m3u8";
    if (refuser == Refuser::source_cells) cells.refusal = refusal;
    if (refuser == Refuser::editor_panel) panel.refusal = refusal;
    if (refuser == Refuser::advanced_format) {
      editor.show_advanced_format();
      format.hls.segment_length = 0;
    }
    if (refuser == Refuser::control_character) panel.url = "/media/changed\n.m3u8";
    if (refuser == Refuser::single_target_format) panel.format = "http";
    if (refuser == Refuser::bind_to_no_channel) cells.bind = 3;
    const EditorOutcome refused = editor.apply();
    ASSERT_EQ(refused.messages.size(), 1u);
    const char* expected = "Target URL invalid!";
    if (refuser == Refuser::advanced_format) expected = "HLS segment length invalid!";
    if (refuser == Refuser::control_character) {
      expected =
          "channel 2 output.targets[0].url holds a control character (0x0a); nothing was "
          "applied";
    }
    if (refuser == Refuser::single_target_format) {
      expected =
          "channel 2: its targets' format (\"http\") takes one target, but the channel lists 2; "
          "nothing was applied";
    }
    if (refuser == Refuser::bind_to_no_channel) {
      expected = "channel 2 is bound to channel 3, which does not exist; nothing was applied";
    }
    EXPECT_EQ(refused.messages[0].text, expected);
    EXPECT_EQ(document(), before);
    EXPECT_TRUE(editor.editing());
    EXPECT_EQ(cells.row, 1);
    EXPECT_EQ(commits, 0);
    cells.refusal.reset();
    panel.refusal.reset();
    format.hls.segment_length = 4;
    panel.url = "/media/changed.m3u8";
    panel.format = "hls";
    cells.bind = 1;
    editor.apply();
    EXPECT_EQ(bind_items(0), std::vector<int>{2});
    EXPECT_STREQ(config_string(cJSON_GetArrayItem(targets(stored(1)), 0), "url"),
                 "/media/changed.m3u8");
    commits = 0;
  }
}

TEST_F(ChannelEditorTest, PlusStopsAtFiveMinusTakesTheLastTargetAndANewFormatKeepsOne) {
  install(1);
  editor.edit(0);
  EditorOutcome outcome;
  for (char name = 'a'; name <= 'e'; ++name) {
    panel.url = std::string("udp://127.0.0.1:1234/") + name;
    outcome = editor.select_tab(editor.tabs().plus_position());
  }
  EXPECT_EQ(outcome.messages.at(0).text,
            "Sorry, 5 streams MAX are allowed in multi bitrate streaming.");
  EXPECT_EQ(outcome.tabs.labels, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(outcome.tabs.selected, 4);
  editor.select_tab(0);
  outcome = editor.select_tab(editor.tabs().minus_position());
  EXPECT_EQ(outcome.tabs.labels, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(outcome.tabs.selected, 3);
  for (int i = 0; i < 4; ++i)
    outcome = editor.select_tab(editor.tabs().minus_position());
  EXPECT_EQ(outcome.tabs.labels, std::vector<std::string>{"a"});
  editor.cancel();

  // HLS with three targets to DASH, shown on the third with its advanced format panel open.
  install({channel_text(1, "hls", 3)});
  editor.edit(0);
  editor.select_tab(2);
  editor.show_advanced_format();
  panel.format = "dash";
  EXPECT_EQ(editor.target_format_changed().tabs.labels.size(), 1u);
  EXPECT_EQ(format.target_index, 0);
  editor.apply();
  ASSERT_EQ(cJSON_GetArraySize(targets(stored(0))), 1);
  EXPECT_STREQ(config_string(cJSON_GetArrayItem(targets(stored(0)), 0), "format"), "dash");
}

// The video panel's OK writes at once and closes it, so Apply does not write its tabs again; the
// format panel's Cancel leaves Apply nothing of it to write (or refuse).
TEST_F(ChannelEditorTest, TheAdvancedPanelsOwnOkAndCancel) {
  install({channel_text(1, "hls")});
  cJSON* video_options = cJSON_AddArrayToObject(
      config_object(cJSON_GetArrayItem(targets(stored(0)), 0), "video"), "options");
  ASSERT_NE(video_options, nullptr);
  editor.edit(0);
  editor.show_advanced_video();
  video.encoder().threads = "4";
  const EditorOutcome closed = editor.advanced_video_ok();
  EXPECT_FALSE(closed.advanced.video);
  const auto threads_written = [](const cJSON* channel) {
    const cJSON* options =
        config_array(config_object(cJSON_GetArrayItem(targets(channel), 0), "video"), "options");
    return json_print(options).value_or("");
  };
  EXPECT_NE(threads_written(editor.editing_channel()).find("-threads:v 4"), std::string::npos);
  video.encoder().threads = "2";  // after OK: not the panel's to write any more

  editor.show_advanced_format();
  format.hls.segment_length = 0;  // Apply would refuse this
  EXPECT_FALSE(editor.advanced_format_cancelled().advanced.format);
  EXPECT_TRUE(editor.apply().messages.empty());
  EXPECT_NE(threads_written(stored(0)).find("-threads:v 4"), std::string::npos);
}

TEST_F(ChannelEditorTest, RemoveWaitsForLaterChannelsAndRenumbersTheBinds) {
  install(5);
  const auto bind = [](int row, int master) {
    config_set_int(stored(row), "bind", master);
    cJSON* item = cJSON_CreateObject();
    cJSON_AddNumberToObject(item, "bind", row + 1);
    cJSON_AddItemToArray(config_array(config_object(stored(master - 1), "input"), "sources"), item);
  };
  bind(1, 3);  // channel 2 bound to the channel removed
  bind(4, 4);  // channel 5 bound to channel 4, both moving up
  const std::string before = document();
  // The channel itself running, or a later one (it would move to another slot).
  for (int running : {2, 4}) {
    states[static_cast<std::size_t>(running)] = ChannelState::running;
    EXPECT_EQ(editor.remove(2).messages.at(0).text,
              "channel " + std::to_string(running + 1) +
                  " is running and would be removed or renumbered: stop it first");
    states[static_cast<std::size_t>(running)] = ChannelState::idle;
  }
  states[0] = ChannelState::running;
  EXPECT_EQ(editor.remove(2).question->text, "Remove this channel?");
  states[3] = ChannelState::stopping;  // started while the question was open
  EXPECT_FALSE(editor.confirm_remove(2).messages.empty());
  EXPECT_EQ(document(), before);
  states[3] = ChannelState::idle;
  editor.remove(2);
  const EditorOutcome removal = editor.confirm_remove(2);
  EXPECT_EQ(removal.rows.removed, 2);
  EXPECT_EQ(removal.rows.selected, 2);
  EXPECT_EQ(removed, std::vector<int>{2});
  EXPECT_EQ(commits, 1);
  ASSERT_EQ(stored(4), nullptr);
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(stored(1), "bind"), nullptr);
  EXPECT_EQ(config_int(stored(3), "bind"), 3);
  EXPECT_EQ(bind_items(2), std::vector<int>{4});
}

TEST_F(ChannelEditorTest, ApplyingARunningChannelTellsAndKeepsItsRunMark) {
  for (ChannelState state : {ChannelState::idle, ChannelState::running}) {
    install(1);
    editor.edit(0);
    states[0] = state;
    config_set_bool(stored(0), "enable", state != ChannelState::idle);  // started meanwhile
    const std::vector<DialogMessage> shown = editor.apply().messages;
    EXPECT_EQ(shown.empty() ? "" : shown[0].title,
              state == ChannelState::idle ? "" : "Settings Update");
    EXPECT_EQ(config_bool(stored(0), "enable"), state != ChannelState::idle);
  }
}

TEST_F(ChannelEditorTest, ADocumentReplacedDuringAnEditIsToldAndNeverOverwrittenUnasked) {
  struct Case {
    bool new_channel;
    int edited, web_channels;  // the web's document: that many channels, channel 2 changed
    bool rebuild;
    int row_after;  // where Apply again puts the edit
  };
  const Case cases[] = {
      {false, 1, 3, false, 1},  // changed: Apply again replaces it
      {false, 2, 1, true, 1},   // gone: Apply again appends
      {true, 3, 4, true, 4},    // a channel was added meanwhile: appended after it
  };
  for (const Case& c : cases) {
    install(3);
    appended.clear();
    if (c.new_channel)
      editor.new_channel();
    else
      editor.edit(c.edited);
    panel.url = "udp://127.0.0.1:9999";
    std::vector<std::string> web;
    for (int n = 1; n <= c.web_channels; ++n)
      web.push_back(channel_text(n == 2 ? 20 : n));
    install(web);
    const std::string posted = document();
    const EditorOutcome refused = editor.apply();
    EXPECT_EQ(refused.messages.at(0).title, "Configuration Changed");
    EXPECT_EQ(refused.rows.rebuild, c.rebuild);
    EXPECT_EQ(document(), posted);
    EXPECT_EQ(cells.row, c.row_after);
    editor.apply();
    EXPECT_FALSE(editor.editing());
    EXPECT_STREQ(config_string(cJSON_GetArrayItem(targets(stored(c.row_after)), 0), "url"),
                 "udp://127.0.0.1:9999");
    EXPECT_EQ(appended.size(), c.rebuild ? 1u : 0u);
  }
  // A removal asked about before the web replaced the channel removes nothing.
  editor.remove(1);
  install(2);
  EXPECT_EQ(editor.confirm_remove(1).messages.at(0).title, "Configuration Changed");
  EXPECT_NE(stored(1), nullptr);
}

TEST_F(ChannelEditorTest, ADeckLinkOutputPickFillsTheSizeRateAndScanType) {
  install(1);
  EXPECT_FALSE(editor.pick_decklink_output("card", std::nullopt));
  editor.edit(0);
  struct Case {
    std::optional<DeckLinkDisplayMode> mode;
    std::optional<int> frame_size;
    std::optional<std::string> rate;
    int scan_type;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, std::nullopt, 7},
      {DeckLinkDisplayMode{0, 1920, 1080, 30000, 1001, 1}, 6, "29.97", 2},
      {DeckLinkDisplayMode{0, 720, 486, 25, 0, 0}, kFrameSizeOther, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    cJSON* target = cJSON_GetArrayItem(targets(editor.editing_channel()), 0);
    config_set_int(config_object(target, "video"), "scanType", 7);
    const auto pick = editor.pick_decklink_output("DeckLink Mini", c.mode);
    ASSERT_TRUE(pick);
    EXPECT_EQ(pick->target_url, "DeckLink Mini");
    EXPECT_EQ(pick->frame_size_choice, c.frame_size);
    EXPECT_EQ(pick->frame_rate, c.rate);
    EXPECT_EQ(config_int(config_object(target, "video"), "scanType"), c.scan_type);
    EditorValues values;
    values.frame_rate = "25";
    pick->apply_to(values);
    EXPECT_EQ(values.target_url, "DeckLink Mini");
    EXPECT_EQ(values.width, c.mode ? std::to_string(c.mode->width) : "0");
    EXPECT_EQ(values.frame_size, c.frame_size.value_or(0));
    EXPECT_EQ(values.frame_rate, c.rate.value_or("25")) << "a format without a rate keeps it";
  }
}

// "+" repeats the previous target, whose stream name the real panel then refuses to leave; "-"
// takes that tab back, and a "-" from another tab still checks the tab shown.
TEST_F(ChannelEditorTest, MinusTakesBackTheTabPlusJustAdded) {
  install({R"({"input": {"sources": [{"format": "file", "url": "/media/a.mp4"}]},
      "output": {"targets": [{"format": "udp", "url": "udp://127.0.0.1:1234/a",
      "video": {"enable": true, "codec": "h264"}, "audio": {"enable": true, "codec": "aac"}}]}})"});
  EditorPanel real_panel;
  ChannelEditor real{{real_panel, cells, format, video, standby},
                     {nullptr, nullptr, nullptr, nullptr}};
  real.edit(0);
  EXPECT_EQ(real.select_tab(real.tabs().plus_position()).tabs.labels,
            (std::vector<std::string>{"a", "a"}));
  EditorOutcome outcome = real.select_tab(0);
  ASSERT_EQ(outcome.messages.size(), 1u) << "the repeated name is refused";
  EXPECT_EQ(outcome.tabs.selected, 1);
  real.show_advanced_video();
  outcome = real.select_tab(real.tabs().minus_position());
  EXPECT_TRUE(outcome.messages.empty());
  EXPECT_EQ(outcome.tabs.labels, std::vector<std::string>{"a"});
  EXPECT_EQ(outcome.tabs.selected, 0);
  EXPECT_FALSE(outcome.advanced.video);
  EXPECT_TRUE(real.apply().messages.empty());
  ASSERT_EQ(cJSON_GetArraySize(targets(stored(0))), 1);
  EXPECT_STREQ(config_string(cJSON_GetArrayItem(targets(stored(0)), 0), "url"),
               "udp://127.0.0.1:1234/a");

  // Shown on the first tab, "-" still writes (and so checks) what that tab holds.
  real.edit(0);
  real_panel.values().target_url = "udp://127.0.0.1:1234/b";
  real.select_tab(real.tabs().plus_position());
  real_panel.values().target_url = "udp://127.0.0.1:1234/c";
  ASSERT_TRUE(real.select_tab(0).messages.empty());
  real_panel.values().target_url = "udp://127.0.0.1:1234/c";
  outcome = real.select_tab(real.tabs().minus_position());
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_EQ(outcome.tabs.labels, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(outcome.tabs.selected, 0);
  real.cancel();
}

// The standby list belongs to the channel: Apply stores it untouched or as edited, a change of
// tab or row keeps what it holds, and a refusal names its row and changes nothing.
TEST_F(ChannelEditorTest, StandbySourcesComeBackUntouchedOrAsEdited) {
  std::string with_standby = channel_text(1);
  with_standby.replace(with_standby.find(R"("}]},)") + 3, 0,
                       R"(, "standby": [{"format": "srt", "url": "srt://h:9000", "x": [1]},)"
                       R"( {"format": "file", "url": "udp://@:5000"}], "switchOn": {"black": 2})");
  install({with_standby, channel_text(2)});
  const auto input_of = [](int row) {
    return json_print_unformatted(config_object(stored(row), "input")).value_or("");
  };
  const std::string before = input_of(0);
  ASSERT_NE(before.find(R"("switchOn":{"black":2})"), std::string::npos) << before;

  editor.edit(0);
  ASSERT_EQ(standby.fields.sources.size(), 2u);
  EXPECT_EQ(standby.fields.sources[1].address, "@:5000");
  EXPECT_EQ(standby.fields.seconds, (std::array<std::string, 3>{"2", "0", "0"}));
  EXPECT_TRUE(editor.apply().messages.empty());
  EXPECT_EQ(input_of(0), before);

  // Moved and a box typed, then another row shown and the edited one again: the list holds them.
  editor.edit(0);
  standby.move_row(0, 1);
  standby.fields.seconds_for(SwitchCondition::frozen) = "7";
  editor.select_row(1);
  EXPECT_EQ(standby.fields.sources.size(), 0u) << "the other channel has none";
  editor.select_row(0);
  ASSERT_EQ(standby.fields.sources.size(), 2u);
  EXPECT_EQ(standby.fields.sources[0].address, "@:5000");
  // A row added and typed stays through a change of tab.
  standby.add_row();
  standby.fields.sources[2].address = "/media/slate.mp4";
  editor.select_tab(editor.tabs().plus_position());
  ASSERT_EQ(standby.fields.sources.size(), 3u);
  editor.select_tab(editor.tabs().minus_position());

  // A fourth row without an address is refused by its number; nothing is stored meanwhile.
  standby.add_row();
  const EditorOutcome refused = editor.apply();
  ASSERT_EQ(refused.messages.size(), 1u);
  EXPECT_EQ(refused.messages[0].text, "Error: Standby source 4 address invalid!");
  EXPECT_EQ(refused.focus, "standby_address_4");
  EXPECT_TRUE(editor.editing());
  EXPECT_EQ(cells.row, 0) << "the cells are open again";
  EXPECT_EQ(input_of(0), before);
  standby.add_row();
  EXPECT_EQ(standby.fields.sources.size(), 4u) << "four at most";
  standby.remove_row(3);

  EXPECT_TRUE(editor.apply().messages.empty());
  EXPECT_EQ(
      input_of(0),
      R"({"sources":[{"format":"file","url":"udp://0.0.0.0:1001"}],"standby":[)"
      R"({"format":"file","url":"udp://@:5000"},{"format":"srt","url":"srt://h:9000","x":[1]},)"
      R"({"format":"file","url":"/media/slate.mp4","video":{"options":[]}}],)"
      R"("switchOn":{"black":2,"silence":0,"frozen":7},"filters":[],"map":[]})");
  // Shown, not edited, nothing can be changed; edited, the ends cannot move further out.
  const StandbyListControls shown = standby.controls(false);
  EXPECT_FALSE(shown.add || shown.editable || shown.rows.at(1).up || shown.rows.at(1).down);
  const StandbyListControls edited = standby.controls(true);
  EXPECT_TRUE(edited.add && edited.editable);
  ASSERT_EQ(edited.rows.size(), 3u);
  EXPECT_EQ((std::vector<bool>{edited.rows[0].up, edited.rows[0].down, edited.rows[1].up,
                               edited.rows[1].down, edited.rows[2].up, edited.rows[2].down}),
            (std::vector<bool>{false, true, true, true, true, false}));
}

// The workflow with the window's real panel and cells: what the operator types reaches the
// document only through Apply, and a refusal names the cell that gets the focus.
using EditingWorkflow = ChannelEditorTest;
TEST_F(EditingWorkflow, ANewChannelTypedIntoTheRealCellsAndPanelIsAppended) {
  install(1);
  EditorPanel real_panel;
  SourceCells real_cells([] {
    const CoreLock lock = core_lock();
    return cJSON_GetArraySize(config_array(config_document(), "channels")) + 1;
  });
  ChannelEditor real{{real_panel, real_cells, format, video, standby},
                     {nullptr, nullptr, nullptr, nullptr}};
  ASSERT_TRUE(real.new_channel().messages.empty());
  ASSERT_EQ(real_cells.open_row(), 1);

  real_cells.address = "  ";
  const EditorOutcome refused = real.apply();
  ASSERT_EQ(refused.messages.size(), 1u);
  EXPECT_EQ(refused.focus, kSourceAddressControl);
  EXPECT_TRUE(real.editing());

  real_cells.choose_type(SourceType::rtsp);
  real_cells.address = "cam.example/live";
  real_cells.memo = "hall";
  EXPECT_TRUE(real.apply().messages.empty());
  EXPECT_FALSE(real.editing());
  const cJSON* source =
      cJSON_GetArrayItem(config_array(config_object(stored(1), "input"), "sources"), 0);
  EXPECT_STREQ(config_string(source, "url"), "rtsp://cam.example/live");
  EXPECT_STREQ(config_string(stored(1), "memo"), "hall");
  EXPECT_STREQ(config_string(cJSON_GetArrayItem(targets(stored(1)), 0), "url"),
               "udp://127.0.0.1:1234");
}

// A new channel made in the window, whose advanced panels were never opened, streams as one made
// in the page, which rewrites the encoder options from its untouched video panel on every Apply
// (and writes the format options only on that panel's OK, as the window does): the template
// already holds what the untouched encoder tab writes.
TEST_F(EditingWorkflow, UntouchedAdvancedPanelsChangeNothingOfANewChannelsArgumentLine) {
  const auto argument_line = [](const cJSON* channel) {
    JsonPtr document(cJSON_CreateObject());
    cJSON_AddItemToArray(cJSON_AddArrayToObject(document.get(), "channels"),
                         cJSON_Duplicate(channel, true));
    StartRequest request;
    EXPECT_EQ(compile_channel(document.get(), 0, request), 0);
    std::string line;
    EXPECT_EQ(build_command_line(request, CommandSettings{}, line), 0);
    return line;
  };
  install(0);
  EditorPanel real_panel;
  SourceCells real_cells([] { return 1; });
  ChannelEditor real{{real_panel, real_cells, format, video, standby},
                     {nullptr, nullptr, nullptr, nullptr}};
  real.new_channel();
  real_cells.address = "/media/clip.mp4";
  ASSERT_TRUE(real.apply().messages.empty());
  const JsonPtr never_opened(cJSON_Duplicate(stored(0), true));

  JsonPtr written(cJSON_Duplicate(never_opened.get(), true));
  AdvancedVideoSettings video_panel;
  video_panel.load_channel(written.get(), 0);
  video_panel.save_channel();
  const std::string line = argument_line(never_opened.get());
  EXPECT_EQ(line, argument_line(written.get()));
  EXPECT_NE(line.find("-pix_fmt:v yuv420p"), std::string::npos) << line;
  EXPECT_EQ(line.find("-program"), std::string::npos) << line;
}

}  // namespace
}  // namespace vx
