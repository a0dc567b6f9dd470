// The standby list's and the switch-on boxes' rules, which the window's editor and the server's
// answers to the browser page both follow: what a channel shows, what an edit stores (untouched
// parts left byte for byte), and what is refused before anything is stored.
#include "settings/standby_sources.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "config/json.h"

namespace vx {
namespace {

using T = SourceType;

std::string input_text(const cJSON* channel) {
  return json_print_unformatted(cJSON_GetObjectItemCaseSensitive(channel, "input")).value_or("?");
}

TEST(StandbySources, AnEditStoresWhatChangedAndLeavesTheRestAsStored) {
  const char* const two_sources =
      R"({"sources": [{"url": "/a.mp4"}], "standby": [)"
      R"({"format": "file", "url": "udp://@:5000", "video": {"options": ["-x 1"]}},)"
      R"({"format": "srt", "url": "srt://h:9000"}], "switchOn": {"black": 2}})";
  struct Case {
    const char* name;
    const char* input;  // the channel's "input"
    std::function<void(StandbyFields&)> edit;
    const char* stored;  // the "input" afterwards
  };
  const Case cases[] = {
      {"untouched", two_sources, [](StandbyFields&) {}, two_sources},
      {"untouched without any", R"({"sources": []})", [](StandbyFields& f) { f.seconds[1] = ""; },
       R"({"sources": []})"},
      {"the same seconds typed with blanks", two_sources,
       [](StandbyFields& f) { f.seconds_for(SwitchCondition::black) = " 2 "; }, two_sources},
      {"moved down", two_sources, [](StandbyFields& f) { std::swap(f.sources[0], f.sources[1]); },
       R"({"sources": [{"url": "/a.mp4"}], "standby": [{"format": "srt", "url": "srt://h:9000"},)"
       R"({"format": "file", "url": "udp://@:5000", "video": {"options": ["-x 1"]}}],)"
       R"("switchOn": {"black": 2}})"},
      {"an address retyped under its type keeps the options", two_sources,
       [](StandbyFields& f) { f.sources[0].address = "@:6000 "; },
       R"({"sources": [{"url": "/a.mp4"}], "standby": [)"
       R"({"format": "file", "url": "udp://0.0.0.0:6000", "video": {"options": ["-x 1"]}},)"
       R"({"format": "srt", "url": "srt://h:9000"}], "switchOn": {"black": 2}})"},
      {"a scheme typed picks its type, which starts without options", two_sources,
       [](StandbyFields& f) { f.sources[0].address = "rtmp://h/live/in"; },
       R"({"sources": [{"url": "/a.mp4"}], "standby": [)"
       R"({"format": "file", "url": "rtmp://h/live/in", "video": {"options": []}},)"
       R"({"format": "srt", "url": "srt://h:9000"}], "switchOn": {"black": 2}})"},
      {"a row added and the first removed", two_sources,
       [](StandbyFields& f) {
         f.sources.erase(f.sources.begin());
         StandbyRow row = new_standby_row();
         row.type = T::udp;
         row.address = "@:7000";
         f.sources.push_back(std::move(row));
       },
       R"({"sources": [{"url": "/a.mp4"}], "standby": [{"format": "srt", "url": "srt://h:9000"},)"
       R"({"format": "file", "url": "udp://0.0.0.0:7000", "video": {"options": []}}],)"
       R"("switchOn": {"black": 2}})"},
      {"all removed and all off", two_sources,
       [](StandbyFields& f) {
         f.sources.clear();
         f.seconds_for(SwitchCondition::black) = "0";
       },
       R"({"sources": [{"url": "/a.mp4"}]})"},
      {"seconds set where there were none", R"({"sources": []})",
       [](StandbyFields& f) {
         f.seconds_for(SwitchCondition::black) = "2";
         f.seconds_for(SwitchCondition::frozen) = "3600";
         StandbyRow row = new_standby_row();
         row.address = "/media/slate.mp4";
         f.sources.push_back(std::move(row));
       },
       R"({"sources": [], "standby": [{"format": "file", "url": "/media/slate.mp4",)"
       R"("video": {"options": []}}], "switchOn": {"black": 2, "silence": 0, "frozen": 3600}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const JsonPtr input = json_parse(c.input);
    ASSERT_TRUE(input);
    JsonPtr channel(cJSON_CreateObject());
    cJSON_AddItemToObject(channel.get(), "input", cJSON_Duplicate(input.get(), true));
    StandbyFields fields = standby_fields(channel.get());
    c.edit(fields);
    EXPECT_FALSE(standby_fields_refusal(fields));
    store_standby_fields(fields, channel.get());
    EXPECT_EQ(input_text(channel.get()), json_print_unformatted(json_parse(c.stored).get()));
    // Stored again, the same fields change nothing more.
    store_standby_fields(fields, channel.get());
    EXPECT_EQ(input_text(channel.get()), json_print_unformatted(json_parse(c.stored).get()));
  }
}

TEST(StandbySources, ChannelsShowTheirSourcesAndSeconds) {
  const JsonPtr channel =
      json_parse(R"({"input": {"standby": [{"format": "file", "url": "rtsp://cam/1"},)"
                 R"({"format": "device", "url": "video=\"Cam\""}, {"url": "/b.ts"}],)"
                 R"("switchOn": {"silence": 15}}})");
  const StandbyFields fields = standby_fields(channel.get());
  ASSERT_EQ(fields.sources.size(), 3u);
  EXPECT_EQ(fields.sources[0].type, T::rtsp);
  EXPECT_EQ(fields.sources[0].address, "cam/1");
  EXPECT_EQ(fields.sources[1].type, T::dshow);
  EXPECT_EQ(fields.sources[1].address, R"(video="Cam")");
  EXPECT_EQ(fields.sources[2].type, T::file);
  EXPECT_EQ(fields.sources[2].address, "/b.ts");
  EXPECT_EQ(fields.seconds, (std::array<std::string, 3>{"0", "15", "0"}));
  EXPECT_TRUE(standby_fields(nullptr).sources.empty());
}

TEST(StandbySources, RefusalsNameTheRowOrBoxAndTheirRule) {
  const auto with_sources = [](std::vector<std::pair<T, const char*>> rows) {
    StandbyFields fields;
    for (const auto& [type, address] : rows) {
      StandbyRow row = new_standby_row();
      row.type = type;
      row.address = address;
      fields.sources.push_back(std::move(row));
    }
    return fields;
  };
  const auto with_seconds = [](SwitchCondition condition, const char* text) {
    StandbyFields fields;
    fields.seconds_for(condition) = text;
    return fields;
  };
  const char* const black_rule = "Error: Switch on black takes whole seconds from 0 (off) to 3600!";
  const char* const frozen_rule =
      "Error: Switch on frozen takes whole seconds from 0 (off) to 3600!";
  struct Case {
    StandbyFields fields;
    const char* text;  // "" for none
    const char* focus;
  };
  const Case cases[] = {
      {with_sources({{T::file, "/a"}, {T::file, "/b"}, {T::file, "/c"}, {T::file, "/d"}}), "", ""},
      {with_sources(
           {{T::file, "/a"}, {T::file, "/b"}, {T::file, "/c"}, {T::file, "/d"}, {T::file, "/e"}}),
       "Error: At most 4 standby sources are allowed!", ""},
      {with_sources({{T::file, "/a"}, {T::udp, " "}}), "Error: Standby source 2 address invalid!",
       "standby_address_2"},
      {with_sources({{T::file, "/a\x01"}}), "Error: Standby source 1 address invalid!",
       "standby_address_1"},
      {with_sources({{T::udp, "@:5000\" -y"}}), "Error: Standby source 1 address invalid!",
       "standby_address_1"},
      {with_sources({{T::dshow, R"(video="Cam")"}}), "", ""},
      {with_seconds(SwitchCondition::black, "3601"), black_rule, "switch_on_black"},
      {with_seconds(SwitchCondition::black, "-1"), black_rule, "switch_on_black"},
      {with_seconds(SwitchCondition::black, "2.5"), black_rule, "switch_on_black"},
      {with_seconds(SwitchCondition::frozen, "1e3"), frozen_rule, "switch_on_frozen"},
      {with_seconds(SwitchCondition::silence, "two"),
       "Error: Switch on silence takes whole seconds from 0 (off) to 3600!", "switch_on_silence"},
      {with_seconds(SwitchCondition::black, "99999999999"), black_rule, "switch_on_black"},
      {with_seconds(SwitchCondition::black, "0003"), "", ""},
      {with_seconds(SwitchCondition::black, " 3600 "), "", ""},
      {with_seconds(SwitchCondition::silence, ""), "", ""},
  };
  for (const Case& c : cases) {
    const std::optional<EditRefusal> refusal = standby_fields_refusal(c.fields);
    const std::string case_name =
        c.fields.sources.empty()
            ? c.fields.seconds[0] + "|" + c.fields.seconds[1] + "|" + c.fields.seconds[2]
            : c.fields.sources.back().address;
    EXPECT_EQ(refusal ? refusal->message.text : "", c.text) << case_name;
    EXPECT_EQ(refusal ? refusal->focus : "", c.focus) << case_name;
  }
}

}  // namespace
}  // namespace vx
