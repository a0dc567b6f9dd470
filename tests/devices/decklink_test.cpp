#include "devices/decklink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/json.h"

namespace vx {
namespace {

struct FakeCard final : DeckLinkCard {
  std::optional<std::string> name;
  bool can_capture = true;
  bool can_play_out = true;
  bool modes_fail = false;
  std::vector<DeckLinkModeInfo> input_modes;
  std::vector<DeckLinkModeInfo> output_modes;

  std::optional<std::string> display_name() const override { return name; }
  DeckLinkModeAccess visit_modes(
      DeckLinkDirection direction,
      const std::function<bool(const DeckLinkModeInfo&)>& visit) const override {
    const bool playback = direction == DeckLinkDirection::playback;
    if (!(playback ? can_play_out : can_capture)) return DeckLinkModeAccess::no_interface;
    if (modes_fail) return DeckLinkModeAccess::no_iterator;
    for (const DeckLinkModeInfo& mode : playback ? output_modes : input_modes) {
      if (!visit(mode)) break;
    }
    return DeckLinkModeAccess::listed;
  }
};

struct FakeDriver final : DeckLinkDriver {
  std::vector<FakeCard> cards;
  std::size_t visited = 0;

  bool visit_cards(const std::function<bool(const DeckLinkCard&)>& visit) override {
    for (const FakeCard& card : cards) {
      ++visited;
      if (!visit(card)) break;
    }
    return true;
  }
};

constexpr std::uint32_t code(const char (&c)[5]) {
  return std::uint32_t(std::uint8_t(c[0])) << 24 | std::uint32_t(std::uint8_t(c[1])) << 16 |
         std::uint32_t(std::uint8_t(c[2])) << 8 | std::uint32_t(std::uint8_t(c[3]));
}

const DeckLinkModeInfo kHp50{code("Hp50"), 1920, 1080,
                             50000,        1000, DeckLinkFieldDominance::progressive};
const DeckLinkModeInfo kHi59{code("Hi59"), 1920, 1080,
                             30000,        1001, DeckLinkFieldDominance::upper_field_first};

FakeCard card(std::string name) {
  FakeCard c;
  c.name = std::move(name);
  return c;
}

std::vector<std::string> names(const DeckLinkDeviceList& list) {
  std::vector<std::string> result;
  for (const DeckLinkDevice& device : list)
    result.push_back(device.name);
  return result;
}

TEST(DeckLinkEnumeration, ListsEachCardByWhatItOffersInTheAskedDirection) {
  FakeDriver driver;
  FakeCard capture_only = card("Capture Only");
  capture_only.can_play_out = false;
  capture_only.input_modes = {kHp50, kHi59};
  FakeCard no_attributes;
  no_attributes.input_modes = {kHp50};
  FakeCard broken = card("Broken Modes");
  broken.modes_fail = true;
  FakeCard duo = card("Duo");
  duo.input_modes = {kHi59};
  duo.output_modes = {
      kHp50,
      kHi59,
      {code("Hp60"), 1920, 1080, 60000, 1000, DeckLinkFieldDominance::unknown},
      {code("ntsc"), 720, 486, 30000, 1001, DeckLinkFieldDominance::lower_field_first},
      {code("Hp29"), 1920, 1080, 30000, 1001, DeckLinkFieldDominance::progressive_segmented}};
  driver.cards = {capture_only, no_attributes, broken, duo};

  DeckLinkDeviceList list;
  ASSERT_EQ(enumerate_decklink(false, list, driver), 2);
  EXPECT_EQ(names(list), (std::vector<std::string>{"Capture Only", "Duo"}));
  ASSERT_EQ(list[0].modes.size(), 2u);
  const DeckLinkDisplayMode& hi59 = list[0].modes[1];
  EXPECT_EQ(hi59.code, code("Hi59"));
  EXPECT_EQ(hi59.width, 1920);
  EXPECT_EQ(hi59.height, 1080);
  EXPECT_EQ(hi59.frame_rate_numerator, 30000);
  EXPECT_EQ(hi59.frame_rate_denominator, 1001);
  EXPECT_EQ(hi59.interlaced, 1);

  // Playback: the capture-only card stays, with no modes; only field-first modes are interlaced.
  ASSERT_EQ(enumerate_decklink(true, list, driver), 2);
  EXPECT_EQ(names(list), (std::vector<std::string>{"Capture Only", "Duo"}));
  EXPECT_TRUE(list[0].modes.empty());
  std::vector<int> interlaced;
  for (const DeckLinkDisplayMode& mode : list[1].modes)
    interlaced.push_back(mode.interlaced);
  EXPECT_EQ(interlaced, (std::vector<int>{0, 1, 0, 1, 0}));
}

TEST(DeckLinkEnumeration, StopsAtTenCardsAndFiftyModes) {
  FakeDriver driver;
  for (int i = 0; i < 12; ++i) {
    FakeCard c = card("Card " + std::to_string(i));
    for (int m = 0; m < 60; ++m) {
      DeckLinkModeInfo mode = kHp50;
      mode.width = m;
      c.input_modes.push_back(mode);
    }
    driver.cards.push_back(c);
  }
  DeckLinkDeviceList list;
  ASSERT_EQ(enumerate_decklink(false, list, driver), 10);
  EXPECT_EQ(driver.visited, 10u);  // the driver is not asked for cards that cannot be listed
  EXPECT_EQ(list.back().name, "Card 9");
  for (const DeckLinkDevice& device : list) {
    ASSERT_EQ(device.modes.size(), 50u);
    EXPECT_EQ(device.modes.back().width, 49);
  }
}

TEST(DeckLinkEnumeration, NoDriverInstalledGivesAnEmptyDocument) {
  DeckLinkDeviceList list{{"stale", {}}};
  EXPECT_EQ(enumerate_decklink(true, list), 0);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(decklink_config_answer(nullptr), "{ \"devices\": [\n ]\n}\n");
}

TEST(DeckLinkConfig, WritesTheDocumentLayout) {
  const DeckLinkDeviceList list = {
      {"DeckLink Duo (1)",
       {{code("Hp50"), 1920, 1080, 50000, 1000, 0}, {code("Hi59"), 1920, 1080, 30000, 1001, 1}}},
      {"DeckLink Mini Monitor", {}}};
  EXPECT_EQ(decklink_config_json(list),
            "{ \"devices\": [\n"
            "  { \"name\": \"DeckLink Duo (1)\",\n"
            "  \"formats\": [\n"
            "  { \"fmtcode\": 1215313200, \"width\": 1920, \"height\": 1080, \"numFrame\": 50000, "
            "\"denFrame\": 1000, \"interlaced\": 0, \"label\": \"1920x1080p @ 50000/1000 fps\", "
            "\"formatOption\": \"-format_code Hp50\", \"video\": {\"width\": 1920, \"height\": 1080, "
            "\"frameRate\": 50, \"scanType\": 0} },\n"
            "  { \"fmtcode\": 1214854457, \"width\": 1920, \"height\": 1080, \"numFrame\": 30000, "
            "\"denFrame\": 1001, \"interlaced\": 1, \"label\": \"1920x1080i @ 30000/1001 fps\", "
            "\"formatOption\": \"-format_code Hi59\", \"video\": {\"width\": 1920, \"height\": 1080, "
            "\"frameRate\": 29.97, \"scanType\": 2} }\n"
            "  ]\n  },\n"
            "  { \"name\": \"DeckLink Mini Monitor\",\n"
            "  \"formats\": [\n"
            "  ]\n  }\n"
            " ]\n}\n");
  EXPECT_EQ(decklink_format_code_option(code("Hp50")), "-format_code Hp50");
  // A mode without a size or a rate sets only the scan type.
  const DeckLinkPlaybackVideo bare = decklink_playback_video({code("Hi59"), 0, 0, 0, 0, 1});
  EXPECT_FALSE(bare.width || bare.height || bare.frame_rate);
  EXPECT_EQ(bare.scan_type, 2);
}

TEST(DeckLinkConfig, OutputQueryPicksTheDirectionAndHostileNamesStayValidJson) {
  FakeDriver driver;
  FakeCard c = card("\"Studio\" \\ \x01\xFF");
  c.input_modes = {kHp50};
  c.output_modes = {kHi59, kHi59};
  driver.cards = {c};
  struct Case {
    const char* output;
    int modes;
  };
  for (const Case& q : {Case{nullptr, 1}, Case{"0", 1}, Case{"abc", 1}, Case{"1", 2}, Case{"-1", 2},
                        Case{"99999999999999999999", 1}}) {
    const std::string answer = decklink_config_answer(q.output, driver);
    const JsonPtr parsed = json_parse(answer);
    ASSERT_TRUE(parsed) << answer;
    const cJSON* device = cJSON_GetArrayItem(cJSON_GetObjectItem(parsed.get(), "devices"), 0);
    ASSERT_TRUE(device) << answer;
    EXPECT_STREQ(cJSON_GetObjectItem(device, "name")->valuestring,
                 "\"Studio\" \\ \x01\xEF\xBF\xBD");
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(device, "formats")), q.modes)
        << (q.output ? q.output : "absent");
  }
}

}  // namespace
}  // namespace vx
