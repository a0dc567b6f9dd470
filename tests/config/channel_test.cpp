#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/document.h"
#include "config/json.h"

namespace vx {
namespace {

// A channel with the given first source and first target (JSON member texts).
std::string channel_text(const std::string& source, const std::string& target) {
  return R"({"input": {"sources": [)" + source + R"(]}, "output": {"targets": [)" + target + "]}}";
}

const std::string kSource = R"({"format": "file", "url": "/media/a.mp4"})";
const std::string kTarget = R"({"format": "udp", "video": {"codec": "h264"}})";

TEST(ChannelValidity, FirstSourceNeedsAUrlOrAnRtpVideoCodec) {
  struct Case {
    std::string source;
    bool valid;
  };
  const Case cases[] = {
      {kSource, true},
      {R"({"format": "file", "url": ""})", false},
      {R"({"format": "udp"})", false},
      {R"({"format": "rtspt", "url": "rtspt://cam"})", true},  // unknown kinds only need a URL
      {R"({"url": "udp://1.2.3.4:5"})", true},
      {R"({"format": "rtp_native", "url": "", "video": {"codec": "h264"}})", true},
      {R"({"format": "RTP_NATIVE", "video": {"codec": "H263+"}})", true},
      {R"({"format": "rtp_native", "video": {"codec": "mp4v"}})", true},
      {R"({"format": "rtp_native", "video": {"codec": "mp1v"}})", true},
      {R"({"format": "rtp_native", "video": {"codec": "h261"}})", false},
      {R"({"format": "rtp_native", "video": {"codec": "h265"}})", false},
      {R"({"format": "rtp_native", "url": "x.sdp", "video": {"codec": "copy"}})", false},
      {R"({"format": "rtp_native", "url": "x.sdp"})", false},
      {R"({"bind": 2})", false},
      {R"("a string")", false},
      {R"({"format": "file", "url": 5})", false},
  };
  for (const Case& c : cases) {
    const JsonPtr channel = json_parse(channel_text(c.source, kTarget));
    ASSERT_TRUE(channel) << c.source;
    EXPECT_EQ(channel_is_valid(channel.get()), c.valid) << c.source;
  }
}

TEST(ChannelValidity, FirstTargetNeedsOneKnownCodec) {
  struct Case {
    std::string target;
    bool valid;
  };
  const Case cases[] = {
      {kTarget, true},
      {R"({"video": {"codec": "xyz"}})", false},
      {R"({"video": {"codec": "xyz"}, "audio": {"codec": "aac"}})", true},
      {R"({"audio": {"codec": "AAC"}})", true},
      {R"({"video": {"codec": "copy"}})", true},
      {R"({"video": {"codec": 135}, "audio": {"codec": ""}})", false},
      {R"({"video": "h264"})", false},
      {R"({})", false},
  };
  for (const Case& c : cases) {
    const JsonPtr channel = json_parse(channel_text(kSource, c.target));
    ASSERT_TRUE(channel) << c.target;
    EXPECT_EQ(channel_is_valid(channel.get()), c.valid) << c.target;
  }
  // Only the first target counts.
  const JsonPtr second_good =
      json_parse(channel_text(kSource, R"({"video": {"codec": "xyz"}}, )" + kTarget));
  EXPECT_FALSE(channel_is_valid(second_good.get()));
}

TEST(ChannelValidity, MissingOrMisshapenPartsFail) {
  for (
      const char* text :
      {R"({})", R"([])", R"("channel")",
       R"({"input": {"sources": []}, "output": {"targets": [{}]}})",
       R"({"input": {"sources": [{"url": "a"}]}, "output": {"targets": []}})",
       R"({"input": {"sources": [{"url": "a"}]}})",
       R"({"input": {"sources": {"url": "a"}}, "output": {"targets": [{"audio": {"codec": "aac"}}]}})",
       R"({"input": [], "output": {"targets": [{"audio": {"codec": "aac"}}]}})"}) {
    const JsonPtr channel = json_parse(text);
    ASSERT_TRUE(channel) << text;
    EXPECT_FALSE(channel_is_valid(channel.get())) << text;
  }
  EXPECT_FALSE(channel_is_valid(nullptr));
}

std::string printed(const JsonPtr& tree) {
  return json_print(tree.get()).value_or("");
}

TEST(ChannelTemplate, DesktopFormIsTheDocumentedChannel) {
  const JsonPtr expected = json_parse(R"({
    "enable": false,
    "input": {
      "sources": [{"format": "file", "url": "", "video": {"options": []}}],
      "formatOptions": [], "customOptions": "", "filters": [], "map": []},
    "output": {
      "targets": [{
        "format": "udp", "url": "udp://127.0.0.1:1234",
        "video": {"enable": true, "codec": "h264", "width": 0, "height": 0, "frameRate": 0,
                  "keyFrameInterval": 5, "quality": 0, "bitRate": 0, "scanType": 0,
                  "options": ["-pix_fmt:v yuv420p", "-preset:v faster"]},
        "audio": {"enable": true, "codec": "aac", "sampleRate": 0, "channels": 2, "bitRate": 0},
        "mux": {"bitRate": 0, "cbr": false},
        "rtmp": {"flashVer": "", "swfUrl": "", "user": "", "passwd": ""}}],
      "formatOptions": [], "timeShift": {"cacheTime": 0, "cacheFolder": ""},
      "customOptions": ""},
    "memo": ""})");
  ASSERT_TRUE(expected);
  // Same members in the same order, and the same types (true is not 1).
  EXPECT_EQ(printed(channel_template()), printed(expected));
}

TEST(ChannelTemplate, IsValidOnceASourceUrlIsFilledIn) {
  // Printed and read back, as it travels to the file and to the browser.
  JsonPtr reread = json_parse(printed(channel_template()));
  ASSERT_TRUE(reread);
  EXPECT_FALSE(channel_is_valid(reread.get()));
  cJSON* source =
      cJSON_GetArrayItem(config_array(config_object(reread.get(), "input"), "sources"), 0);
  ASSERT_TRUE(config_set_string(source, "url", "/media/clip.mp4"));
  EXPECT_TRUE(channel_is_valid(reread.get()));
}

}  // namespace
}  // namespace vx
