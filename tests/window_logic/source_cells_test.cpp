#include "window_logic/source_cells.h"

#include <gtest/gtest.h>

#include <string>

#include "config/document.h"
#include "config/json.h"

namespace vx {
namespace {

using T = SourceType;

JsonPtr channel_with(const char* format, const char* url) {
  JsonPtr channel = json_parse(
      R"({"input": {"sources": [{"format": "", "url": "", "video": {"options": ["-r 25"]}}],
                    "formatOptions": ["-timeout 5"]}, "bind": 2, "memo": "hall"})");
  cJSON* source =
      cJSON_GetArrayItem(config_array(config_object(channel.get(), "input"), "sources"), 0);
  config_set_string(source, "format", format);
  config_set_string(source, "url", url);
  return channel;
}

const cJSON* first_source(const cJSON* channel) {
  return cJSON_GetArrayItem(config_array(config_object(channel, "input"), "sources"), 0);
}

// The first source's "format" and "url", with a blank between.
std::string stored_source(const cJSON* channel) {
  return std::string(config_string(first_source(channel), "format")) + " " +
         config_string(first_source(channel), "url");
}

std::string printed(const cJSON* item) {
  return json_print_unformatted(item).value_or("");
}

// The rules themselves are tested in tests/settings/source_address_test.cpp; here, that the
// cells follow them when they open and commit.
TEST(SourceCells, CellsShowTheStoredSourceAndStoreOnlyWhatWasChanged) {
  struct Case {
    const char *format, *url;
    T type;
    const char* shown;
    T chosen;
    const char* typed;   // nullptr: left as shown
    const char* stored;  // the first source after the commit
  };
  const Case cases[] = {
      // Untouched: byte for byte as stored, though the window would write it otherwise.
      {"udp", "udp://@:1234", T::udp, "@:1234", T::udp, nullptr, "udp udp://@:1234"},
      {"file", "mms://h/s", T::file, "mms://h/s", T::file, nullptr, "file mms://h/s"},
      {"rtp_native", "", T::file, "", T::file, nullptr, "rtp_native "},
      {"udp", "udp://@:1234", T::udp, "@:1234", T::udp, "@:1235", "file udp://0.0.0.0:1235"},
      {"rtp_native", "", T::file, "", T::file, "/m/x.sdp", "rtp_native /m/x.sdp"},
      {"file", "/a.mp4", T::file, "/a.mp4", T::rtsp, "cam/1", "file rtsp://cam/1"},
      {"file", "/a.mp4", T::file, "/a.mp4", T::file, "udp://@:5000", "file udp://0.0.0.0:5000"},
  };
  SourceCells cells([] { return 8; });
  for (const Case& row : cases) {
    const JsonPtr channel = channel_with(row.format, row.url);
    const std::string before = printed(channel.get());
    cells.open(3, channel.get());
    EXPECT_EQ(cells.type(), row.type) << row.url;
    EXPECT_EQ(cells.address, row.shown) << row.url;
    EXPECT_EQ(cells.bind, "2");
    EXPECT_EQ(cells.memo, "hall");
    cells.choose_type(row.chosen);
    if (row.typed != nullptr) cells.address = row.typed;
    cells.commit(channel.get());
    EXPECT_EQ(cells.open_row(), 3) << "a commit leaves the cells open";
    ASSERT_FALSE(cells.close_checked(channel.get())) << row.url;
    EXPECT_FALSE(cells.open_row());
    EXPECT_EQ(stored_source(channel.get()), row.stored);
    if (row.typed == nullptr) {
      EXPECT_EQ(printed(channel.get()), before) << row.url;
    }
  }
  // Missing or mistyped objects are made.
  for (const char* text : {R"({})", R"({"input": "x"})", R"({"input": {"sources": [7]}})"}) {
    const JsonPtr channel = json_parse(text);
    cells.open(0, channel.get());
    cells.address = "/m/a.mp4";
    ASSERT_FALSE(cells.close_checked(channel.get())) << text;
    EXPECT_STREQ(config_string(first_source(channel.get()), "url"), "/m/a.mp4") << text;
  }
}

TEST(SourceCells, ChecksRefuseWithTheirMessageFocusAndLeaveTheChannelAsItWas) {
  struct Case {
    int row;  // 0-based
    T type;
    const char* address;
    const char* bind;
    const char* focus;  // "" when accepted
    int stored_bind;    // 0: no "bind" key
  };
  const Case cases[] = {
      {0, T::file, "/m/a.mp4", "", "", 0},
      {0, T::file, "/m/a.mp4", "8", "", 8},
      {2, T::file, "/m/a.mp4", "3", kSourceBindControl, 0},
      {0, T::file, "/m/a.mp4", "9", kSourceBindControl, 0},
      {0, T::file, "/m/a.mp4", "99999999999", kSourceBindControl, 0},
      {0, T::udp, "   ", "", kSourceAddressControl, 0},
      {0, T::file, "/m/a\nb.mp4", "", kSourceAddressControl, 0},
      {0, T::ndi, R"(HOST (x" -f null /tmp/y "))", "", kSourceAddressControl, 0},
      {0, T::dshow, R"(video="Cam":audio="Mic"?s=640x480)", "", "", 0},
      {0, T::dshow, "Cam", "", kSourceAddressControl, 0},
  };
  SourceCells cells([] { return 8; });
  for (const Case& row : cases) {
    const JsonPtr channel = channel_with("file", "/old.mp4");
    cJSON_DeleteItemFromObject(channel.get(), "bind");
    const std::string before = printed(channel.get());
    cells.open(row.row, channel.get());
    cells.choose_type(row.type);
    cells.address = row.address;
    cells.bind = row.bind;
    const std::optional<EditRefusal> refusal = cells.close_checked(channel.get());
    if (*row.focus == '\0') {
      EXPECT_FALSE(refusal) << row.address << " bind " << row.bind;
      EXPECT_EQ(config_int(channel.get(), "bind"), row.stored_bind) << row.bind;
      continue;
    }
    ASSERT_TRUE(refusal) << row.address << " bind " << row.bind;
    EXPECT_EQ(refusal->focus, row.focus);
    EXPECT_EQ(refusal->message.title, "Config Error");
    EXPECT_EQ(refusal->message.icon, MessageIcon::information);
    EXPECT_EQ(refusal->message.text, row.focus == kSourceBindControl
                                         ? "Error: Bind channel invalid!"
                                         : "Error: Channel source address invalid!");
    EXPECT_EQ(printed(channel.get()), before) << "a refusal writes nothing";
    EXPECT_EQ(cells.open_row(), row.row) << "a refusal leaves the cells open";
  }
}

TEST(SourceCells, TypeChangesAndPickerResultsReachTheChannelOnceWhenCommitted) {
  SourceCells cells([] { return 8; });
  const JsonPtr channel = channel_with("file", "/old.mp4");
  cells.open(0, channel.get());
  cells.choose_type(T::file);
  EXPECT_EQ(cells.address, "/old.mp4") << "picking the shown type again changes nothing";
  for (auto [type, address] :
       {std::pair{T::udp, "0.0.0.0:1234"}, {T::srt, "127.0.0.1:1234"}, {T::rtsp, ""}}) {
    cells.choose_type(type);
    EXPECT_EQ(cells.address, address);
  }
  cells.choose_type(T::decklink);
  EXPECT_EQ(cells.browse(), SourceBrowse::decklink);
  cells.take_decklink({"DeckLink Duo", DeckLinkDisplayMode{0x48703530, 1920, 1080, 50, 1, 0}});
  cells.commit(channel.get());
  EXPECT_EQ(stored_source(channel.get()), "decklink DeckLink Duo");
  const cJSON* input = config_object(channel.get(), "input");
  EXPECT_EQ(printed(config_array(input, "formatOptions")), R"(["-format_code Hp50"])");
  EXPECT_EQ(printed(config_object(first_source(channel.get()), "video")), R"({"options":[]})");

  // What the advanced panels write after a commit survives the next one.
  config_set_item(config_object(channel.get(), "input"), "formatOptions",
                  json_parse(R"(["-format_code pal "])"));
  ASSERT_FALSE(cells.close_checked(channel.get()));
  EXPECT_EQ(printed(config_array(input, "formatOptions")), R"(["-format_code pal "])");

  cells.open(0, channel.get());
  cells.choose_type(T::ndi);
  cells.take_ndi({"HOST (Cam)", 4});
  cells.commit(channel.get());
  EXPECT_STREQ(config_string(first_source(channel.get()), "url"), "HOST (Cam)");
  EXPECT_EQ(printed(config_array(input, "formatOptions")), R"(["-wait_sources 4"])");

  cells.take_decklink({"DeckLink Mini", std::nullopt});
  cells.close();
  EXPECT_EQ(printed(config_array(input, "formatOptions")), R"(["-wait_sources 4"])")
      << "closing without validation writes nothing";
}

}  // namespace
}  // namespace vx
