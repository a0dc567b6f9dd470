// The checks an edited target passes before it is taken, as the window's panel and the
// server's answer to the browser page make them.
#include "settings/editor_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/json.h"

namespace vx {
namespace {

using F = TargetFormatEntry;

constexpr int kFormat(F format) {
  return static_cast<int>(format);
}

EditorValues udp_values() {
  EditorValues values;
  values.target_format = kFormat(F::udp);
  values.target_url = "udp://127.0.0.1:1234";
  return values;
}

TEST(EditorChecks, ValidationNamesTheRuleAndTheControl) {
  const std::string vp =
      "VP8/VP9 encodings are ONLY supported by FILE(.mkv/.webm) and DASH formats.";
  const std::string rtmp_video =
      "Only FLV/H.264/HEVC video encodings are supported for RTMP format!\nPlease choose either "
      "one of them.";
  const std::string rtmp_audio =
      "Only MP3 and AAC audio encodings are supported for RTMP format!\nPlease choose either one "
      "of them.";
  const std::string duplicated =
      "Duplicated stream names found.\nPlease modify target url to make stream name unique for "
      "each multi bitrate channel.";
  struct Case {
    F format;
    const char *url, *video, *audio;
    std::vector<std::string> others;
    std::string text;  // "" when accepted
    const char* focus;
  };
  const Case cases[] = {
      {F::hls, "/media/a.m3u8", "vp9", "aac", {}, vp, kVideoEncodingControl},
      {F::local_file, "/media/a.webm", "vp9", "opus", {}, "", nullptr},
      {F::dash, "/media/a.mpd", "vp8", "opus", {}, "", nullptr},
      {F::rtmp, " ", "h264", "aac", {}, "Target URL invalid!", kTargetUrlControl},
      {F::rtmp, "rtmp://h/live/a", "ni264", "aac", {}, rtmp_video, kVideoEncodingControl},
      {F::rtmp, "rtmp://h/live/a", "copy", "opus", {}, rtmp_audio, kAudioEncodingControl},
      {F::hls, "", "h264", "aac", {}, "Target file name invalid!", kTargetUrlControl},
      {F::ftp, "", "h264", "aac", {}, "Please enter valid file name", kTargetUrlControl},
      {F::decklink,
       "",
       "h264",
       "aac",
       {},
       "Please enter valid Decklink card name",
       kTargetUrlControl},
      {F::ndi, "", "h264", "pcm16s", {}, "Please enter valid NDI name", kTargetUrlControl},
      {F::rtsp, "", "h264", "aac", {}, "", nullptr},
      {F::hls, "/media/a.m3u8", "h264", "aac", {"b.m3u8", "a.m3u8"}, duplicated, kTargetUrlControl},
      {F::hls, "/media/a.m3u8", "h264", "aac", {"b.m3u8"}, "", nullptr},
      {F::srt, "h:1234", "h264", "aac", {"h:1234"}, "", nullptr},  // no stream name to compare
      {F::dash, "/media/a.mpd", "h264", "aac", {"a.mpd"}, duplicated, kTargetUrlControl},
      {F::rtsp, "rtsp://h/live/a", "h264", "aac", {"a"}, "", nullptr},  // one target only
  };
  for (const Case& c : cases) {
    EditorValues values = udp_values();
    values.target_format = kFormat(c.format);
    values.target_url = c.url;
    values.video_encoding = video_entry_writing(c.video);
    values.audio_encoding = audio_entry_writing(c.audio);
    const std::optional<EditRefusal> refusal = validate_editor_values(values, c.others);
    ASSERT_EQ(refusal.has_value(), !c.text.empty()) << c.url << " " << c.video;
    if (!refusal) continue;
    EXPECT_EQ(refusal->message.text, c.text);
    EXPECT_EQ(refusal->message.title, c.text == duplicated ? "Setting Error" : "Settings Error");
    EXPECT_EQ(refusal->message.icon, MessageIcon::error) << c.text;
    EXPECT_EQ(refusal->focus, c.focus) << c.text;
  }

  // The multiplex must carry more than the streams, for the MPEG-TS formats only.
  const char* max = "2147483647";
  struct MuxCase {
    F format;
    const char *mux, *video, *audio;
    bool refused;
  };
  const MuxCase muxes[] = {
      {F::udp, "3000", "2000", "128", false}, {F::srt, "2128", "2000", "128", true},
      {F::udp, "0", "3000", "128", false},    {F::html5, "100", "3000", "128", false},
      {F::udp, max, max, max, true},
  };
  for (const MuxCase& c : muxes) {
    EditorValues values = udp_values();
    values.target_format = kFormat(c.format);
    values.mux_bitrate = c.mux;
    values.video_bitrate = c.video;
    values.audio_bitrate = c.audio;
    const std::optional<EditRefusal> refusal = validate_editor_values(values, {});
    ASSERT_EQ(refusal.has_value(), c.refused) << c.mux << " " << c.video;
    if (refusal) {
      EXPECT_EQ(refusal->message.text,
                "Mux Bitrate must be higher than Video Bitrate plus Audio Bitrate!");
      EXPECT_EQ(refusal->focus, kMuxBitrateControl);
    }
  }

  // A target is compared with its channel's other targets.
  const JsonPtr copied = json_parse(
      R"({"output": {"targets": [{"format": "hls", "url": "/media/s0.m3u8"},
                                 {"format": "hls", "url": "/media/s0.m3u8"}]}})");
  EXPECT_EQ(other_target_stream_names(copied.get(), 1), std::vector<std::string>{"s0.m3u8"});
  EXPECT_TRUE(validate_editor_values(editor_values_from_channel(copied.get(), 1),
                                     other_target_stream_names(copied.get(), 1)));
}

}  // namespace
}  // namespace vx
