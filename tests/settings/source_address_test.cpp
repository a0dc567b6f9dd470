// The source cells' rules, which the window's cells and the server's answers to the browser page
// both follow: what a stored first source shows, what a typed type and address store (an
// untouched source left as stored), and the address a newly chosen type starts with.
#include "settings/source_address.h"

#include <gtest/gtest.h>

#include <string>

#include "config/json.h"
#include "vocabulary/formats.h"

namespace vx {
namespace {

using T = SourceType;

std::string stored_text(const StoredSource& stored) {
  return std::string(stored.kept ? "kept " : "") + stored.format + " " + stored.url;
}

TEST(SourceAddress, StoredSourcesShowTheirTypeAndAddressAndStayAsStoredWhenUntouched) {
  struct Case {
    const char* source;  // the first source, JSON
    T type;
    const char* shown;
  };
  const Case cases[] = {
      {R"({"format": "file", "url": "SFTP://h/a.ts"})", T::ftp, "SFTP://h/a.ts"},
      {R"({"format": "ftp", "url": "sftp://x/y"})", T::ftp, "sftp://x/y"},
      {R"({"format": "http", "url": "HTTPS://x/y"})", T::http, "HTTPS://x/y"},
      {R"({"format": "file", "url": "rtsp://cam/1"})", T::rtsp, "cam/1"},
      {R"({"format": "rtsp", "url": "rtspt://cam/1"})", T::rtspt, "cam/1"},
      {R"({"format": "rtmp", "url": "rtmps://h/app/key"})", T::rtmp, "rtmps://h/app/key"},
      {R"({"format": "file", "url": "mmsh://h/s"})", T::mms, "h/s"},
      // Stored by an earlier page with the scheme's word as the format: kept as it is.
      {R"({"format": "udp", "url": "udp://@:1234"})", T::udp, "@:1234"},
      {R"({"format": "srt", "url": "srt://h:9000"})", T::srt, "h:9000"},
      // Not offered as a type when shown, and no scheme of ours is put in front.
      {R"({"format": "file", "url": "mms://h/s"})", T::file, "mms://h/s"},
      {R"({"format": "rtsp", "url": "rtsps://cam/1"})", T::file, "rtsps://cam/1"},
      {R"({"format": "file", "url": "tcp://10.0.0.5:9000"})", T::file, "tcp://10.0.0.5:9000"},
      {R"({"format": "ytdlp", "url": "https://v/w"})", T::ytdlp, "https://v/w"},
      {R"({"format": "device", "url": "video=\"Cam\""})", T::dshow, R"(video="Cam")"},
      {R"({"format": "rtp_native", "url": ""})", T::file, ""},
      {R"({"url": "/media/a.mp4"})", T::file, "/media/a.mp4"},
      {R"({"format": 5, "url": 7})", T::file, ""},
  };
  for (const Case& c : cases) {
    const JsonPtr source = json_parse(c.source);
    ASSERT_TRUE(source) << c.source;
    const JsonPtr channel = json_parse(R"({"input": {"sources": []}, "bind": 2, "memo": "m"})");
    cJSON_AddItemToArray(
        cJSON_GetObjectItem(cJSON_GetObjectItem(channel.get(), "input"), "sources"),
        cJSON_Duplicate(source.get(), true));
    const SourceCellTexts texts = source_cell_texts(channel.get());
    EXPECT_EQ(texts.type, c.type) << c.source;
    EXPECT_EQ(texts.address, c.shown) << c.source;
    EXPECT_EQ(texts.bind + texts.memo, "2m");
    // Left as shown, blanks around the address aside, nothing is rewritten.
    const StoredSource stored =
        stored_source_for(source.get(), c.type, " " + std::string(c.shown) + "\t");
    EXPECT_TRUE(stored.kept) << c.source;
    EXPECT_EQ(stored.type, c.type) << c.source;
  }
}

TEST(SourceAddress, TypedAddressesAreRecognisedAndCompletedWithTheirScheme) {
  struct Case {
    const char* source;  // the first source before, JSON
    T chosen;
    const char* typed;
    T type;
    const char* stored;
  };
  const Case cases[] = {
      {R"({"format": "file", "url": "/a.mp4"})", T::file, "udp://@:5000", T::udp,
       "file udp://0.0.0.0:5000"},
      {R"({"format": "file", "url": "/a.mp4"})", T::rtp, "@:5000?x=@:1", T::rtp,
       "file rtp://0.0.0.0:5000?x=0.0.0.0:1"},
      {R"({"format": "file", "url": "/a.mp4"})", T::ytdlp, "https://v/w", T::ytdlp,
       "ytdlp https://v/w"},
      {R"({"format": "file", "url": "/a.mp4"})", T::ytdlp, "ftp://h/a", T::ftp, "file ftp://h/a"},
      {R"({"format": "file", "url": "/a.mp4"})", T::file, "HTTPS://h/a", T::http,
       "file HTTPS://h/a"},
      {R"({"format": "file", "url": "/a.mp4"})", T::mms, "mms://h/s", T::mms, "file mmsh://h/s"},
      {R"({"format": "file", "url": "/a.mp4"})", T::mmst, "h/s", T::mmst, "file mmst://h/s"},
      // A scheme of its own is never given a second one.
      {R"({"format": "file", "url": "/a.mp4"})", T::rtsp, "rtsps://cam/1", T::rtsp,
       "file rtsps://cam/1"},
      {R"({"format": "file", "url": "/a.mp4"})", T::ftp, " \tftp://h/a \n", T::ftp,
       "file ftp://h/a"},
      {R"({"format": "file", "url": "/a.mp4"})", T::srt, "h:9000", T::srt, "srt srt://h:9000"},
      // A changed address under a stored scheme's word is stored the window's way.
      {R"({"format": "file", "url": "rtsp://cam/1"})", T::rtsp, "cam/2", T::rtsp,
       "file rtsp://cam/2"},
      {R"({"format": "udp", "url": "udp://@:1234"})", T::udp, "@:1235", T::udp,
       "file udp://0.0.0.0:1235"},
      // An elementary RTP source keeps its kind while the type stays the one shown.
      {R"({"format": "rtp_native", "url": ""})", T::file, "/m/x.sdp", T::file,
       "rtp_native /m/x.sdp"},
      {R"({"format": "rtp_native", "url": ""})", T::file, "udp://@:5000", T::udp,
       "file udp://0.0.0.0:5000"},
      {R"({"format": "device", "url": "video=\"Cam\""})", T::file, R"(video="Cam")", T::file,
       R"(file video="Cam")"},
      // No source yet.
      {"null", T::file, "/m/a.mp4", T::file, "file /m/a.mp4"},
  };
  for (const Case& c : cases) {
    const JsonPtr source = json_parse(c.source);
    const StoredSource stored = stored_source_for(source.get(), c.chosen, c.typed);
    EXPECT_EQ(stored.type, c.type) << c.typed;
    EXPECT_EQ(stored_text(stored), c.stored) << c.source << " " << c.typed;
  }
}

TEST(SourceAddress, TheTypeTableAndTheAddressesNewTypesStartWith) {
  for (std::size_t i = 0; i < kSourceTypeCount; ++i) {
    const SourceTypeEntry& entry = source_type_entries()[i];
    EXPECT_EQ(static_cast<std::size_t>(entry.type), i) << entry.text;
    EXPECT_NE(format_id_from_name(entry.format), FormatId::unknown) << entry.text;
    EXPECT_NE(format_id_from_name(entry.format), FormatId::rtp_native) << entry.text;
  }
  for (std::size_t i = 0; i < kSourceTypeCount; ++i) {
    const T type = static_cast<T>(i);
    const char* want = type == T::udp || type == T::rtp ? "0.0.0.0:1234"
                       : type == T::srt                 ? "127.0.0.1:1234"
                                                        : "";
    EXPECT_EQ(default_source_address(type), want) << source_type_entry(type).text;
  }
}

}  // namespace
}  // namespace vx
