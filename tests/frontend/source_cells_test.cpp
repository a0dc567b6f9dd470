#include "frontend/source_cells.h"

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

std::string printed(const cJSON* item) {
  return json_print_unformatted(item).value_or("");
}

struct Cells {
  int rows = 8;
  SourceCells cells{[this] { return rows; }};
};

TEST(SourceCells, StoredSourcesFillTheCellsAndAnUntouchedCommitStoresThemAgain) {
  struct Case {
    const char* format;
    const char* url;
    T type;
    const char* shown;
    const char* stored_format;
    const char* stored_url;
  };
  const Case cases[] = {
      {"file", "SFTP://h/a.ts", T::ftp, "SFTP://h/a.ts", "file", "SFTP://h/a.ts"},
      {"http", "https://h/l.m3u8", T::http, "https://h/l.m3u8", "file", "https://h/l.m3u8"},
      {"file", "rtsp://cam/1", T::rtsp, "cam/1", "file", "rtsp://cam/1"},
      {"rtsp", "rtspt://cam/1", T::rtspt, "cam/1", "file", "rtspt://cam/1"},
      {"rtmp", "rtmps://h/app/key", T::rtmp, "rtmps://h/app/key", "file", "rtmps://h/app/key"},
      {"file", "mmsh://h/s", T::mms, "h/s", "file", "mmsh://h/s"},
      {"file", "mmst://h/s", T::mmst, "h/s", "file", "mmst://h/s"},
      {"udp", "udp://@:1234", T::udp, "@:1234", "file", "udp://0.0.0.0:1234"},
      {"file", "rtp://239.1.1.1:5000", T::rtp, "239.1.1.1:5000", "file", "rtp://239.1.1.1:5000"},
      {"srt", "srt://h:9000", T::srt, "h:9000", "srt", "srt://h:9000"},
      // Not offered as a type when stored, but committed as typed MMS.
      {"file", "mms://h/s", T::file, "mms://h/s", "file", "mmsh://h/s"},
      {"file", "rtsps://cam/1", T::file, "rtsps://cam/1", "file", "rtsps://cam/1"},
      {"ytdlp", "https://v/w", T::ytdlp, "https://v/w", "ytdlp", "https://v/w"},
      {"device", R"(video="Cam")", T::dshow, R"(video="Cam")", "device", R"(video="Cam")"},
      {"decklink", "DeckLink Mini", T::decklink, "DeckLink Mini", "decklink", "DeckLink Mini"},
      {"ndi", "HOST (Cam 1)", T::ndi, "HOST (Cam 1)", "ndi", "HOST (Cam 1)"},
  };
  Cells c;
  for (const Case& row : cases) {
    const JsonPtr channel = channel_with(row.format, row.url);
    c.cells.open(3, channel.get());
    EXPECT_EQ(c.cells.type(), row.type) << row.url;
    EXPECT_EQ(c.cells.address, row.shown) << row.url;
    EXPECT_EQ(c.cells.bind, "2");
    EXPECT_EQ(c.cells.memo, "hall");
    ASSERT_FALSE(c.cells.close_checked(channel.get())) << row.url;
    EXPECT_FALSE(c.cells.open_row());
    EXPECT_STREQ(config_string(first_source(channel.get()), "format"), row.stored_format);
    EXPECT_STREQ(config_string(first_source(channel.get()), "url"), row.stored_url);
    EXPECT_EQ(config_int(channel.get(), "bind"), 2);
  }
}

TEST(SourceCells, TypedAddressesAreRecognisedAndCompletedWithTheirScheme) {
  struct Case {
    T chosen;
    const char* typed;
    T type;
    const char* format;
    const char* url;
  };
  const Case cases[] = {
      {T::file, "udp://@:5000", T::udp, "file", "udp://0.0.0.0:5000"},
      {T::udp, "@:5000", T::udp, "file", "udp://0.0.0.0:5000"},
      {T::rtp, "@:5000?x=@:1", T::rtp, "file", "rtp://0.0.0.0:5000?x=0.0.0.0:1"},
      {T::ytdlp, "https://v/w", T::ytdlp, "ytdlp", "https://v/w"},
      {T::ytdlp, "ftp://h/a", T::ftp, "file", "ftp://h/a"},
      {T::file, "HTTPS://h/a", T::http, "file", "HTTPS://h/a"},
      {T::rtmp, "rtmps://h/app", T::rtmp, "file", "rtmps://h/app"},
      {T::rtmp, "h/app", T::rtmp, "file", "rtmp://h/app"},
      {T::mms, "mms://h/s", T::mms, "file", "mmsh://h/s"},
      {T::mmst, "h/s", T::mmst, "file", "mmst://h/s"},
      {T::file, "rtspt://cam", T::rtspt, "file", "rtspt://cam"},
      {T::dshow, "srt://h:9000", T::srt, "srt", "srt://h:9000"},
      // A scheme of its own is never given a second one.
      {T::rtsp, "rtsps://cam/1", T::rtsp, "file", "rtsps://cam/1"},
      {T::udp, "tcp://h:1", T::udp, "file", "tcp://h:1"},
      {T::ftp, " \tftp://h/a \n", T::ftp, "file", "ftp://h/a"},
  };
  Cells c;
  for (const Case& row : cases) {
    const JsonPtr channel = channel_with("file", "");
    c.cells.open(0, channel.get());
    c.cells.choose_type(row.chosen);
    c.cells.address = row.typed;
    c.cells.commit(channel.get());
    EXPECT_EQ(c.cells.type(), row.type) << row.typed;
    EXPECT_STREQ(config_string(first_source(channel.get()), "format"), row.format) << row.typed;
    EXPECT_STREQ(config_string(first_source(channel.get()), "url"), row.url) << row.typed;
    EXPECT_EQ(c.cells.open_row(), 0) << "a commit leaves the cells open";
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
      {0, T::file, "/m/a.mp4", "0", "", 0},
      {0, T::file, "/m/a.mp4", "8", "", 8},
      {0, T::file, "/m/a.mp4", "5x", "", 5},
      {2, T::file, "/m/a.mp4", "3", kSourceBindControl, 0},
      {0, T::file, "/m/a.mp4", "9", kSourceBindControl, 0},
      {0, T::file, "/m/a.mp4", "99999999999", kSourceBindControl, 0},
      {0, T::file, "", "", kSourceAddressControl, 0},
      {0, T::udp, "   ", "", kSourceAddressControl, 0},
      {0, T::file, "/m/a\nb.mp4", "", kSourceAddressControl, 0},
      {0, T::ndi, R"(HOST (x" -f null /tmp/y "))", "", kSourceAddressControl, 0},
      {0, T::dshow, R"(video="Cam":audio="Mic"?s=640x480)", "", "", 0},
      {0, T::dshow, "Cam", "", kSourceAddressControl, 0},
  };
  Cells c;
  for (const Case& row : cases) {
    const JsonPtr channel = channel_with("file", "/old.mp4");
    cJSON_DeleteItemFromObject(channel.get(), "bind");
    const std::string before = printed(channel.get());
    c.cells.open(row.row, channel.get());
    c.cells.choose_type(row.type);
    c.cells.address = row.address;
    c.cells.bind = row.bind;
    const std::optional<EditRefusal> refusal = c.cells.close_checked(channel.get());
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
    EXPECT_EQ(c.cells.open_row(), row.row) << "a refusal leaves the cells open";
  }
}

TEST(SourceCells, TypeChangesAndPickerResultsReachTheChannelOnceWhenCommitted) {
  Cells c;
  const JsonPtr channel = channel_with("file", "/old.mp4");
  c.cells.open(0, channel.get());
  c.cells.choose_type(T::file);
  EXPECT_EQ(c.cells.address, "/old.mp4") << "picking the shown type again changes nothing";
  for (auto [type, address] : {std::pair{T::udp, "0.0.0.0:1234"},
                               {T::rtp, "0.0.0.0:1234"},
                               {T::srt, "127.0.0.1:1234"},
                               {T::rtsp, ""}}) {
    c.cells.choose_type(type);
    EXPECT_EQ(c.cells.address, address);
  }
  c.cells.choose_type(T::decklink);
  EXPECT_EQ(c.cells.browse(), SourceBrowse::decklink);
  c.cells.take_decklink({"DeckLink Duo", DeckLinkDisplayMode{0x48703530, 1920, 1080, 50, 1, 0}});
  c.cells.commit(channel.get());
  EXPECT_STREQ(config_string(first_source(channel.get()), "format"), "decklink");
  EXPECT_STREQ(config_string(first_source(channel.get()), "url"), "DeckLink Duo");
  const cJSON* input = config_object(channel.get(), "input");
  EXPECT_EQ(printed(config_array(input, "formatOptions")), R"(["-format_code Hp50"])");
  EXPECT_EQ(printed(config_object(first_source(channel.get()), "video")), R"({"options":[]})");

  // What the advanced panels write after a commit survives the next one.
  config_set_item(config_object(channel.get(), "input"), "formatOptions",
                  json_parse(R"(["-format_code pal "])"));
  ASSERT_FALSE(c.cells.close_checked(channel.get()));
  EXPECT_EQ(printed(config_array(input, "formatOptions")), R"(["-format_code pal "])");

  c.cells.open(0, channel.get());
  c.cells.choose_type(T::ndi);
  c.cells.take_ndi({"HOST (Cam)", 4});
  c.cells.commit(channel.get());
  EXPECT_STREQ(config_string(first_source(channel.get()), "url"), "HOST (Cam)");
  EXPECT_EQ(printed(config_array(input, "formatOptions")), R"(["-wait_sources 4"])");

  c.cells.take_decklink({"DeckLink Mini", std::nullopt});
  c.cells.close();
  EXPECT_EQ(printed(config_array(input, "formatOptions")), R"(["-wait_sources 4"])")
      << "closing without validation writes nothing";
}

TEST(SourceCells, SourcesTheTypesCannotShowKeepTheirKindAndMissingObjectsAreMade) {
  Cells c;
  // An elementary RTP source is described by its streams and may have no address.
  const JsonPtr rtp = channel_with("rtp_native", "");
  c.cells.open(0, rtp.get());
  ASSERT_FALSE(c.cells.close_checked(rtp.get()));
  EXPECT_STREQ(config_string(first_source(rtp.get()), "format"), "rtp_native");
  c.cells.open(0, rtp.get());
  c.cells.choose_type(T::udp);
  ASSERT_FALSE(c.cells.close_checked(rtp.get()));
  EXPECT_STREQ(config_string(first_source(rtp.get()), "format"), "file");
  EXPECT_STREQ(config_string(first_source(rtp.get()), "url"), "udp://0.0.0.0:1234");

  for (const char* text : {R"({})", R"({"input": "x"})", R"({"input": {"sources": [7]}})"}) {
    const JsonPtr channel = json_parse(text);
    c.cells.open(0, channel.get());
    c.cells.address = "/m/a.mp4";
    ASSERT_FALSE(c.cells.close_checked(channel.get())) << text;
    EXPECT_STREQ(config_string(first_source(channel.get()), "url"), "/m/a.mp4") << text;
  }
}

}  // namespace
}  // namespace vx
