#include "vocabulary/url_predicates.h"

#include <gtest/gtest.h>

namespace vx {
namespace {

struct Case {
  const char* url;
  bool expected;
};

TEST(UrlPredicates, LiveStreams) {
  const Case cases[] = {
      {"http://host/video.ts", false},  // a download, paced
      {"HTTPS://host/video.ts", false},
      {"ftp://host/a.mp4", false},
      {"sftp://host/a.mp4", false},
      {"udp://239.0.0.1:1234", true},
      {"/media/camera.sdp", true},  // a session file, even without a scheme
      {"rtsp://cam/stream.SDP", true},
      {"http://host/session.sdp", true},  // ".sdp" wins over the download scheme
      {"srt://host:9000", true},
      {"rtmp://host/live/index.m3u8", false},
      {"rtmp://host/live/list.M3U", false},
      {"udp://host/manifest.mpd", false},
      {"/media/clip.mp4", false},
      {"", false},
      {"sdp", false},  // shorter than the suffix
      {".sdp", true},
      {"m3u8", false},
      {"://", true},
      {"a://x.m3u8x", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(url_is_live_stream(c.url), c.expected) << c.url;
}

TEST(UrlPredicates, Schemes) {
  const Case has_scheme[] = {
      {"", false}, {":/", false}, {"a:/b", false}, {"a://b", true}, {"C:\\media", false}};
  for (const Case& c : has_scheme)
    EXPECT_EQ(url_has_scheme(c.url), c.expected) << c.url;

  const Case rtmp[] = {{"rtmp://h/a", true}, {"rtmpe://h", true},  {"RTMPS://h", true},
                       {"rtmpt://h", true},  {"rtmpte://h", true}, {"rtmpts://h", true},
                       {"rtmpx://h", false}, {"rtmp:/h", false},   {"rtm", false},
                       {"", false},          {" rtmp://h", false}, {"srt://h", false}};
  for (const Case& c : rtmp)
    EXPECT_EQ(url_is_rtmp(c.url), c.expected) << c.url;

  const Case rtp[] = {{"rtp://1.2.3.4:5000", true}, {"RTP://h", true},   {"rtp:/h", false},
                      {"rtpx://h", false},          {"rtsp://h", false}, {"rt", false}};
  for (const Case& c : rtp)
    EXPECT_EQ(url_is_rtp(c.url), c.expected) << c.url;
}

}  // namespace
TEST(UrlPredicates, HostAndPort) {
  struct Case {
    const char* url;
    std::optional<std::pair<std::string, std::string>> parts;
  };
  const Case cases[] = {
      {"rtmp://op:p@ss@h:1936/live/k?x=1", std::pair<std::string, std::string>{"h", "1936"}},
      {"srt://[::1]:9000?mode=caller", std::pair<std::string, std::string>{"::1", "9000"}},
      {"http://0.0.0.0#top", std::pair<std::string, std::string>{"0.0.0.0", ""}},
      {"rtsp://[::1", std::nullopt},
      {"rtsp://[::1]x", std::nullopt},
      {"tcp://:9000", std::nullopt},
      {"/media/a.mp4", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<UrlHostPort> found = url_host_and_port(c.url);
    ASSERT_EQ(found.has_value(), c.parts.has_value()) << c.url;
    if (!found) continue;
    EXPECT_EQ(found->host, c.parts->first) << c.url;
    EXPECT_EQ(found->port, c.parts->second) << c.url;
  }
}

}  // namespace vx
