#include "config/target_mix.h"

#include <gtest/gtest.h>

#include <string>

#include "config/json.h"

namespace vx {
namespace {

// A target: format, URL, video codec and audio codec ("" leaves that stream disabled).
std::string target(const std::string& format, const std::string& url, const std::string& video,
                   const std::string& audio) {
  const auto stream = [](const std::string& codec) {
    return codec.empty() ? std::string(R"({"enable": false, "codec": "h264"})")
                         : R"({"enable": true, "codec": ")" + codec + R"("})";
  };
  return R"({"format": ")" + format + R"(", "url": ")" + url + R"(", "video": )" + stream(video) +
         R"(, "audio": )" + stream(audio) + "}";
}

std::string problem_of(const std::string& targets, const std::string& output_extra = "") {
  const std::string plain =
      R"({"output": {"targets": [)" + target("udp", "udp://h:1", "h264", "aac") + "]}}";
  const std::string json = R"({"channels": [)" + plain + R"(, {"output": {"targets": [)" + targets +
                           "]" + output_extra + "}}]}";
  const JsonPtr document = json_parse(json);
  EXPECT_TRUE(document) << json;
  return target_mix_problem(document.get());
}

TEST(TargetMix, WhatTheContainerCannotCarryAndSharedDashFoldersAreRefused) {
  const std::string udp = target("udp", "udp://127.0.0.1:5000", "h264", "aac");
  const struct {
    std::string targets;
    std::string extra;    // the output's other members
    std::string refused;  // "": accepted
  } cases[] = {
      {udp + ", " + target("srt", "srt://h:1", "av1", "aac"), "",
       "channel 2: the video codec \"av1\" cannot be carried in MPEG-TS (target 2)"},
      {target("rtpts", "rtp://h:1", "NVAV1", "aac"), "",
       "channel 2: the video codec \"NVAV1\" cannot be carried in MPEG-TS (target 1)"},
      {target("http", "http://0.0.0.0/x", "h264", "pcm16s"), "",
       "channel 2: the audio codec \"pcm16s\" cannot be carried in MPEG-TS (target 1)"},
      {target("hls", "/w/a.m3u8", "vp9", "aac"), "",
       "channel 2: the video codec \"vp9\" cannot be carried in MPEG-TS (target 1)"},
      {target("rtmp", "rtmp://h/live/k", "h264", "opus"), "",
       "channel 2: the audio codec \"opus\" cannot be carried in FLV (RTMP) (target 1)"},
      {target("rtmp", "rtmp://h/live/k", "nv265", "aac"), "",
       "channel 2: the video codec \"nv265\" cannot be carried in FLV (RTMP) (target 1)"},
      {target("file", "/rec/show.ts", "av1", ""), "",
       "channel 2: the video codec \"av1\" cannot be carried in MPEG-TS (target 1)"},
      {udp + ", " + target("rtsp", "rtsp://h/x", "av1", "aac"), "",
       "channel 2: the video codec \"av1\" cannot be carried in MPEG-TS (target 2)"},
      {target("dash", "/w/d/a.mpd", "h264", "aac") + ", " + udp + ", " +
           target("dash", "/w/d/b.mpd", "h264", "aac"),
       "",
       "channel 2: DASH targets 1 and 3 write their segments into one folder (\"/w/d\") and "
       "would overwrite each other's"},
      // Accepted: what the containers carry, streams that are off, muxers the options change,
      // containers that carry the codec, DASH in folders of their own.
      {udp + ", " + target("rtmp", "rtmp://h/live/k", "h264", "mp3"), "", ""},
      {target("udp", "udp://h:1", "h265", "opus"), "", ""},
      {target("rtmp", "rtmp://h/live/k", "h264", ""), "", ""},
      {target("udp", "udp://h:1", "copy", "copy"), "", ""},
      {target("hls", "/w/a.m3u8", "av1", "aac"), R"(, "formatOptions": ["-hls_segment_type fmp4"])",
       ""},
      {target("srt", "srt://h:1", "av1", "opus"), R"(, "customOptions": "-f matroska")", ""},
      {target("rtsp", "rtsp://h/x", "h264", "pcm16s"), "", ""},
      {target("file", "/rec/show.mkv", "av1", "opus"), "", ""},
      {target("dash", "/w/a/a.mpd", "vp9", "opus") + ", " +
           target("dash", "/w/b/b.mpd", "vp9", "opus"),
       "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(problem_of(c.targets, c.extra), c.refused) << c.targets << c.extra;
  }
}

}  // namespace
}  // namespace vx
