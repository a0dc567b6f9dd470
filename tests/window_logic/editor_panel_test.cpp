#include "window_logic/editor_panel.h"

#include <gtest/gtest.h>

#include "config/document.h"
#include "config/json.h"
#include "settings/audio_settings.h"
#include "window_logic/editor_controls.h"
#include "platform/host.h"

namespace vx {
namespace {

using F = TargetFormatEntry;

constexpr int kFormat(F format) {
  return static_cast<int>(format);
}

const cJSON* target_of(const cJSON* channel, int index) {
  return cJSON_GetArrayItem(config_array(config_object(channel, "output"), "targets"), index);
}

int target_count(const cJSON* channel) {
  return cJSON_GetArraySize(config_array(config_object(channel, "output"), "targets"));
}

// The stored `key` of a target (of its member `object` when given), as text.
std::string stored(const cJSON* channel, int target, const char* object, const char* key) {
  const cJSON* holder =
      object ? config_object(target_of(channel, target), object) : target_of(channel, target);
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(holder, key);
  if (cJSON_IsString(item)) return item->valuestring;
  return json_print_unformatted(item).value_or("");
}

std::string format_options(const cJSON* channel) {
  return json_print_unformatted(config_object(channel, "output")->child).value_or("");
}

// A channel of `count` targets of `format`, each sending to "/media/s<n>.m3u8".
JsonPtr channel_with_targets(const std::string& format, int count) {
  std::string targets;
  for (int i = 0; i < count; ++i) {
    targets +=
        std::string(i ? "," : "") + R"({"format": ")" + format + R"(", "url": "/media/s)" +
        std::to_string(i) +
        R"(.m3u8", "video": {"enable": true, "codec": "h264", "options": ["-preset:v faster"]},
                 "audio": {"enable": true, "codec": "aac", "channels": 2}})";
  }
  return json_parse(R"({"input": {"filters": ["hflip"]}, "output": {"formatOptions": ["-x 1"],
                        "targets": [)" +
                    targets + "]}}");
}

EditorValues udp_values() {
  EditorValues values;
  values.target_format = kFormat(F::udp);
  values.target_url = "udp://127.0.0.1:1234";
  return values;
}

TEST(EditorPanel, AddressesAreTidiedAndNamedByFormat) {
  struct Case {
    F format;
    std::string typed, stored;
  };
  const Case cases[] = {
      {F::udp, "  10.0.0.5:1234 \t", "udp://10.0.0.5:1234"},
      {F::udp, "rtp://10.0.0.5:1234", "udp://10.0.0.5:1234"},
      {F::rtmp, "server/live/a", "rtmp://server/live/a"},
      {F::rtmp, "rtmps://server/live/a", "rtmps://server/live/a"},
      {F::hls, " /media/a.m3u8 ", "/media/a.m3u8"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(normalised_target_url(c.format, c.typed), c.stored) << c.typed;

  std::string e_acutes;
  for (int i = 0; i < 120; ++i)
    e_acutes += "\xc3\xa9";
  const std::pair<std::string, std::string> names[] = {
      {"C:\\media\\a/b.m3u8", "a/b.m3u8"},
      {"rtmp://h/live/cam?key=1", "cam"},
      {"NDI name", "NDI name"},
      {"/media/" + e_acutes, e_acutes.substr(0, 2 * 99)},
  };
  for (const auto& [address, name] : names)
    EXPECT_EQ(target_stream_name(address), name) << address;
}

TEST(EditorPanel, LoadAndSaveKeepWhatTheControlsCannotShow) {
  // 8 channels show as "7.1" and go back as 8; a count the list lacks stays as stored.
  for (const auto& [count, entry] : {std::pair{8, 7}, {12, -1}}) {
    const JsonPtr channel =
        json_parse(R"({"output": {"targets": [{"format": "udp", "audio": {"channels": )" +
                   std::to_string(count) + "}}]}}");
    const EditorValues values = editor_values_from_channel(channel.get(), 0);
    EXPECT_EQ(values.audio_channels, entry) << count;
    save_editor_values(values, channel.get(), 0);
    EXPECT_EQ(stored(channel.get(), 0, "audio", "channels"), std::to_string(count));
  }

  const JsonPtr channel = json_parse(R"({"output": {"formatOptions": ["-a"], "targets": [
      {"format": "udp", "url": "", "video": {"frameRate": 0, "codec": "nosuch"},
       "audio": {"codec": "G711A"}}]}})");
  EditorValues values = editor_values_from_channel(channel.get(), 7);  // no target 7: target 0
  EXPECT_EQ(values.target_url, "udp://127.0.0.1:1234");
  EXPECT_EQ(values.frame_rate, "Original");
  EXPECT_EQ(values.video_encoding, -1);
  EXPECT_EQ(values.audio_encoding, kAudioEncodingPcm);
  values.frame_rate = "29.97";
  values.target_url = " 10.0.0.5:1234 ";
  save_editor_values(values, channel.get(), 0);
  EXPECT_EQ(stored(channel.get(), 0, "video", "frameRate"), "29.97");
  EXPECT_EQ(stored(channel.get(), 0, "video", "codec"), "h264");   // no entry selected
  EXPECT_EQ(stored(channel.get(), 0, "audio", "codec"), "G711A");  // the PCM variant stays
  EXPECT_EQ(stored(channel.get(), 0, nullptr, "url"), "udp://10.0.0.5:1234");  // tidied
  EXPECT_EQ(format_options(channel.get()), R"(["-a"])");  // MPEG-TS keeps its options

  // A target format the list does not offer is kept with its targets and options.
  const JsonPtr odd = channel_with_targets("rtp_native", 2);
  const EditorValues shown = editor_values_from_channel(odd.get(), 1);
  EXPECT_EQ(shown.target_format, -1);
  save_editor_values(shown, odd.get(), 1);
  EXPECT_EQ(stored(odd.get(), 0, nullptr, "format"), "rtp_native");
  EXPECT_EQ(target_count(odd.get()), 2);

  // "Original" video drops the video options and the picture filters; PCM goes over AAC.
  const JsonPtr copied = channel_with_targets("udp", 1);
  EditorValues original = udp_values();
  original.video_encoding = video_entry_writing("copy");
  original.audio_encoding = kAudioEncodingPcm;
  save_editor_values(original, copied.get(), 0);
  EXPECT_EQ(stored(copied.get(), 0, "audio", "codec"), "pcm16s");
  EXPECT_EQ(stored(copied.get(), 0, "video", "options"), "[]");
  EXPECT_EQ(json_print_unformatted(config_object(copied.get(), "input")).value(),
            R"({"filters":[]})");
}

TEST(EditorPanel, SingleTargetFormatsKeepOneTarget) {
  const JsonPtr channel = channel_with_targets("hls", 3);
  EditorPanel panel;
  panel.load(channel.get(), 2);
  ASSERT_EQ(panel.target(), 2);
  panel.save(channel.get(), 2);  // an HLS tab: every target stays
  EXPECT_EQ(target_count(channel.get()), 3);

  EditorEnvironment environment = editor_environment(nullptr, 3, "10.1.1.1", {});
  EXPECT_EQ(environment.output_folder, new_output_folder());
  environment.output_folder = "/home/op/Videos/Vantorix";
  const PanelChange change =
      panel.choose_target_format(kFormat(F::dash), environment, channel.get());
  EXPECT_TRUE(change.targets_reset);
  EXPECT_EQ(panel.target(), 0);
  EXPECT_EQ(target_count(channel.get()), 1);
  panel.save(channel.get(), panel.target());
  EXPECT_EQ(stored(channel.get(), 0, nullptr, "format"), "dash");
  EXPECT_EQ(stored(channel.get(), 0, nullptr, "url"), "/home/op/Videos/Vantorix/morv_ch3.mpd");
  EXPECT_EQ(format_options(channel.get()), "[]");

  // A single-target format shown on a later tab is written into the one target left.
  const JsonPtr tabbed = channel_with_targets("hls", 3);
  EditorValues rtsp = editor_values_from_channel(tabbed.get(), 2);
  rtsp.target_format = kFormat(F::rtsp);
  save_editor_values(rtsp, tabbed.get(), 2);
  EXPECT_EQ(target_count(tabbed.get()), 1);
  EXPECT_EQ(stored(tabbed.get(), 0, nullptr, "url"), "/media/s2.m3u8");
}

TEST(EditorPanel, ANewFormatStartsFromItsDefaults) {
  const JsonPtr global = json_parse(R"({"sslEnable": true, "httpPort": 9600})");
  struct Case {
    F format;
    std::string host, url, video, audio;  // audio: also what the working copy holds
    bool audio_enable;
  };
  const Case cases[] = {
      {F::rtmp, "", "rtmp://127.0.0.1/live/morv_ch4", "h264", "aac", true},
      {F::http, "", "https://127.0.0.1:9600/morv_ch4", "h264", "aac", true},
      {F::httpmjpg, "10.0.0.9", "https://10.0.0.9:9600/morv_ch4", "mjpeg", "aac", false},
      {F::ndi, "", "morv_ch4", "h264", "pcm16s", true},
  };
  for (const Case& c : cases) {
    const JsonPtr channel = channel_with_targets("udp", 2);
    EditorValues shown = udp_values();
    shown.cbr = true;
    shown.mux_bitrate = "5000";
    shown.audio_channels = 1;
    const PanelChange change = change_target_format(
        shown, kFormat(c.format), editor_environment(global.get(), 4, c.host, {}), channel.get());
    EXPECT_EQ(change.values.target_url, c.url);
    EXPECT_EQ(video_codec_of(change.values.video_encoding), c.video) << c.url;
    EXPECT_EQ(audio_codec_of(change.values.audio_encoding), c.audio) << c.url;
    EXPECT_EQ(change.values.audio_enable, c.audio_enable) << c.url;
    EXPECT_FALSE(change.values.cbr || change.message) << c.url;
    EXPECT_EQ(change.values.mux_bitrate, "0") << c.url;
    EXPECT_EQ(change.values.audio_channels, 2) << c.url;
    EXPECT_EQ(stored(channel.get(), 0, "audio", "codec"), c.audio) << c.url;
    // RTMP runs the encoding change: the advanced video options start again.
    EXPECT_EQ(stored(channel.get(), 0, "video", "options") == "[]", c.format == F::rtmp);
  }
}

TEST(EditorPanel, EncodersTheSystemCannotRunAreRefusedAndOriginalResets) {
  const JsonPtr with_plugin = json_parse(R"({"omxPath": "/opt/omx/core.so"})");
  const std::set<std::string> encoders = {"libx264", "aac", "mjpeg"};
  struct Case {
    const char* codec;
    const cJSON* global;
    std::set<std::string> encoders;
    const char* message_start;  // nullptr: taken
  };
  const Case cases[] = {
      {"omx264", nullptr, {}, "Please make sure to install MainConcept FFmpeg Plugin"},
      {"omx265", with_plugin.get(), encoders, "The ffmpeg on this system has no encoder"},
      {"omx265", with_plugin.get(), {}, nullptr},
      {"nv264", nullptr, encoders,
       "The ffmpeg on this system has no encoder \"h264_nvenc\" for H.264 (NVENC).\n"},
      {"h264", nullptr, encoders, nullptr},
  };
  for (const Case& c : cases) {
    const JsonPtr channel = channel_with_targets("udp", 1);
    const PanelChange change =
        change_video_encoding(udp_values(), video_entry_writing(c.codec), 0,
                              editor_environment(c.global, 1, "", c.encoders), channel.get());
    const std::string codec = c.message_start ? "h264" : c.codec;
    EXPECT_EQ(video_codec_of(change.values.video_encoding), codec) << c.codec;
    EXPECT_EQ(stored(channel.get(), 0, "video", "codec"), codec) << c.codec;
    ASSERT_EQ(change.message.has_value(), c.message_start != nullptr) << c.codec;
    if (change.message) {
      EXPECT_EQ(change.message->title, "Settings Error");
      EXPECT_EQ(change.message->text.rfind(c.message_start, 0), 0u) << change.message->text;
    } else {
      EXPECT_EQ(stored(channel.get(), 0, "video", "options"), "[]");
    }
  }
  // The same for sound: HE-AAC needs an encoder Debian's ffmpeg lacks.
  const JsonPtr channel = channel_with_targets("udp", 1);
  const PanelChange heaac =
      change_audio_encoding(udp_values(), audio_entry_writing("heaac"), 0,
                            editor_environment(nullptr, 1, "", encoders), channel.get());
  EXPECT_TRUE(heaac.message);
  EXPECT_EQ(stored(channel.get(), 0, "audio", "codec"), "aac");

  EditorValues busy = udp_values();
  busy.frame_size = 5;
  busy.video_bitrate = "2000";
  busy.cbr = true;
  busy.sample_rate = "48000";
  const PanelChange video = change_video_encoding(busy, video_entry_writing("copy"), 0,
                                                  EditorEnvironment{}, channel.get());
  EXPECT_EQ(video.values.frame_size, 0);
  EXPECT_EQ(video.values.video_bitrate, "Default");
  EXPECT_FALSE(video.values.cbr);
  const PanelChange audio =
      change_audio_encoding(busy, audio_entry_writing("copy"), 0, EditorEnvironment{}, nullptr);
  EXPECT_EQ(audio.values.sample_rate, "Original");
  EXPECT_EQ(audio.values.audio_channels, 0);
}

TEST(EditorPanel, CbrNeedsAVideoBitRate) {
  struct Case {
    const char* bitrate;
    bool asked, on;
  };
  const Case cases[] = {
      {"Default", true, false}, {"-200", true, false}, {"1200", true, true}, {"0", false, false}};
  for (const Case& c : cases) {
    EditorValues shown = udp_values();
    shown.video_bitrate = c.bitrate;
    const PanelChange change = change_cbr(shown, c.asked);
    EXPECT_EQ(change.values.cbr, c.on) << c.bitrate;
    const bool warned = c.asked && !c.on;
    ASSERT_EQ(change.message.has_value(), warned) << c.bitrate;
    if (warned) {
      EXPECT_EQ(change.message->title, "Warning");
      EXPECT_EQ(change.message->text, "Cannot enable CBR with ZERO video bitrate!");
      EXPECT_EQ(change.message->icon, MessageIcon::warning);
    }
  }
}

TEST(EditorPanel, ControlsFollowTheValuesAndTheEditingSituation) {
  const EditingSituation viewing{true, false, false};
  const EditingSituation editing{true, true, true};
  const EditingSituation other_row{true, true, false};
  EditorValues values = udp_values();
  EditorControls shown = editor_controls(values, viewing);
  EXPECT_FALSE(shown.target_format.enabled);
  EXPECT_TRUE(shown.target_url_read_only);
  EXPECT_TRUE(shown.video_enable.enabled);
  EXPECT_TRUE(shown.edit.enabled && shown.new_channel.enabled && !shown.apply.enabled);
  EXPECT_TRUE(shown.mux_bitrate.visible && shown.target_tabs.visible);

  shown = editor_controls(values, other_row);
  EXPECT_FALSE(shown.apply.enabled || shown.video_encoding.enabled || shown.edit.enabled);
  EXPECT_TRUE(shown.cancel.enabled);

  values.frame_size = kFrameSizeOther;
  shown = editor_controls(values, editing);
  EXPECT_TRUE(shown.frame_width_height.enabled && shown.cbr.enabled && shown.apply.enabled);
  EXPECT_FALSE(shown.quality.visible);
  values.video_encoding = video_entry_writing("copy");
  values.audio_enable = false;
  shown = editor_controls(values, editing);
  EXPECT_TRUE(shown.video_encoding.enabled);
  EXPECT_FALSE(shown.frame_width_height.enabled || shown.frame_rate.enabled || shown.cbr.enabled ||
               shown.audio_encoding.enabled);

  values.target_format = kFormat(TargetFormatEntry::dash);
  shown = editor_controls(values, editing);
  EXPECT_TRUE(shown.browse.visible && shown.target_url_narrow);
  EXPECT_FALSE(shown.mux_bitrate.visible || shown.cbr.visible);
  EXPECT_TRUE(shown.target_tabs.visible) << "DASH targets each write a folder of their own";
  values.target_format = kFormat(TargetFormatEntry::rtsp);
  EXPECT_FALSE(editor_controls(values, editing).target_tabs.visible);
}

}  // namespace
}  // namespace vx
