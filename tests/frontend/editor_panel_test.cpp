#include "frontend/editor_panel.h"

#include <gtest/gtest.h>

#include "config/document.h"
#include "config/json.h"
#include "dialogs/audio_settings.h"
#include "frontend/editor_controls.h"

namespace vx {
namespace {

constexpr int kFormat(TargetFormatEntry format) {
  return static_cast<int>(format);
}

const cJSON* target_of(const cJSON* channel, int index) {
  return cJSON_GetArrayItem(config_array(config_object(channel, "output"), "targets"), index);
}

std::string stored(const cJSON* channel, int target, const char* object, const char* key) {
  const cJSON* holder =
      object ? config_object(target_of(channel, target), object) : target_of(channel, target);
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(holder, key);
  if (cJSON_IsString(item)) return item->valuestring;
  const auto text = json_print_unformatted(item);
  return text ? *text : "";
}

int target_count(const cJSON* channel) {
  return cJSON_GetArraySize(config_array(config_object(channel, "output"), "targets"));
}

// A channel of `count` targets of `format`, each sending to ".../s<n>".
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
  values.target_format = kFormat(TargetFormatEntry::udp);
  values.target_url = "udp://127.0.0.1:1234";
  return values;
}

TEST(EditorPanel, AddressesAreTidiedAndNamedByFormat) {
  struct Case {
    TargetFormatEntry format;
    std::string typed, stored;
  };
  const Case cases[] = {
      {TargetFormatEntry::udp, "  10.0.0.5:1234 \t", "udp://10.0.0.5:1234"},
      {TargetFormatEntry::udp, "rtp://10.0.0.5:1234", "udp://10.0.0.5:1234"},
      {TargetFormatEntry::omxts, "udp://h:1", "udp://h:1"},
      {TargetFormatEntry::rtmp, "server/live/a", "rtmp://server/live/a"},
      {TargetFormatEntry::rtmp, "rtmps://server/live/a", "rtmps://server/live/a"},
      {TargetFormatEntry::rtpts, "h:5004", "rtp://h:5004"},
      {TargetFormatEntry::hls, " /media/a.m3u8 ", "/media/a.m3u8"},
      {TargetFormatEntry::srt, "h:1", "h:1"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(normalised_target_url(c.format, c.typed), c.stored) << c.typed;

  // What is saved is the tidied address.
  const JsonPtr channel = channel_with_targets("udp", 1);
  EditorValues values = udp_values();
  values.target_url = " 10.0.0.5:1234 ";
  save_editor_values(values, channel.get(), 0);
  EXPECT_EQ(stored(channel.get(), 0, nullptr, "url"), "udp://10.0.0.5:1234");

  struct NameCase {
    std::string address, name;
  };
  const NameCase names[] = {
      {"C:\\media\\a.m3u8", "a.m3u8"},
      {"rtmp://h/live/cam?key=1", "cam"},
      {"NDI name", "NDI name"},
      {"/media/" + std::string(120, 'x'), std::string(99, 'x')},
  };
  for (const NameCase& c : names)
    EXPECT_EQ(target_stream_name(c.address), c.name) << c.address;
}

TEST(EditorPanel, LoadAndSaveKeepWhatTheControlsCannotShow) {
  // "channels" 8 shows as "7.1" and goes back as 8; 6 is "5.1"; a count the list lacks stays.
  struct ChannelsCase {
    const char* stored;
    int entry;
    const char* saved;
  };
  const ChannelsCase counts[] = {
      {"8", 7, "8"}, {"6", 6, "6"}, {"7", 6, "6"}, {"12", -1, "12"}, {"null", 0, "0"}};
  for (const ChannelsCase& c : counts) {
    const JsonPtr channel = json_parse(
        std::string(R"({"output": {"targets": [{"format": "udp", "audio": {"channels": )") +
        c.stored + "}}]}}");
    const EditorValues values = editor_values_from_channel(channel.get(), 0);
    EXPECT_EQ(values.audio_channels, c.entry) << c.stored;
    save_editor_values(values, channel.get(), 0);
    EXPECT_EQ(stored(channel.get(), 0, "audio", "channels"), c.saved) << c.stored;
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
  save_editor_values(values, channel.get(), 0);
  EXPECT_EQ(stored(channel.get(), 0, "video", "frameRate"), "29.97");
  EXPECT_EQ(stored(channel.get(), 0, "video", "codec"), "h264");   // no entry selected
  EXPECT_EQ(stored(channel.get(), 0, "audio", "codec"), "G711A");  // the PCM variant stays
  EXPECT_EQ(stored(channel.get(), 0, nullptr, "url"), "udp://127.0.0.1:1234");
  EXPECT_EQ(json_print_unformatted(config_object(channel.get(), "output")->child).value(),
            R"(["-a"])");  // MPEG-TS keeps its options

  // A target format the list does not offer is kept with its targets and options.
  const JsonPtr odd = channel_with_targets("rtp_native", 2);
  EditorValues shown = editor_values_from_channel(odd.get(), 1);
  EXPECT_EQ(shown.target_format, -1);
  save_editor_values(shown, odd.get(), 1);
  EXPECT_EQ(stored(odd.get(), 0, nullptr, "format"), "rtp_native");
  EXPECT_EQ(target_count(odd.get()), 2);

  // "Original" video drops the video options and the picture filters.
  const JsonPtr copied = channel_with_targets("udp", 1);
  EditorValues original = udp_values();
  original.video_encoding = video_entry_writing("copy");
  original.audio_encoding = kAudioEncodingPcm;
  save_editor_values(original, copied.get(), 0);
  EXPECT_EQ(stored(copied.get(), 0, "audio", "codec"), "pcm16s");  // over AAC
  EXPECT_EQ(stored(copied.get(), 0, "video", "options"), "[]");
  EXPECT_EQ(json_print_unformatted(config_object(copied.get(), "input")).value(),
            R"({"filters":[]})");
}

TEST(EditorPanel, SingleTargetFormatsKeepOneTarget) {
  const EditorEnvironment environment = editor_environment(nullptr, 3, "10.1.1.1", {});
  const JsonPtr channel = channel_with_targets("hls", 3);
  EditorPanel panel;
  panel.load(channel.get(), 2);
  ASSERT_EQ(panel.target(), 2);
  // Saving an HLS tab keeps every target; the format goes into target 0 only.
  panel.save(channel.get(), 2);
  EXPECT_EQ(target_count(channel.get()), 3);

  const PanelChange change =
      panel.choose_target_format(kFormat(TargetFormatEntry::dash), environment, channel.get());
  EXPECT_TRUE(change.targets_reset);
  EXPECT_EQ(panel.target(), 0);
  EXPECT_EQ(change.values.target_url, "/media/morv_ch3.mpd");
  EXPECT_EQ(target_count(channel.get()), 1);
  panel.save(channel.get(), panel.target());
  EXPECT_EQ(stored(channel.get(), 0, nullptr, "format"), "dash");
  EXPECT_EQ(stored(channel.get(), 0, nullptr, "url"), "/media/morv_ch3.mpd");
  EXPECT_EQ(json_print_unformatted(config_object(channel.get(), "output")->child).value(), "[]");

  // Back to a multi-bit-rate format: still one target.
  const JsonPtr again = channel_with_targets("hls", 3);
  panel.load(again.get(), 1);
  panel.choose_target_format(kFormat(TargetFormatEntry::hls), environment, again.get());
  EXPECT_EQ(target_count(again.get()), 1);

  // A single-target format shown on a later tab is written into the one target left.
  const JsonPtr tabbed = channel_with_targets("hls", 3);
  EditorValues dash = editor_values_from_channel(tabbed.get(), 2);
  dash.target_format = kFormat(TargetFormatEntry::dash);
  save_editor_values(dash, tabbed.get(), 2);
  EXPECT_EQ(target_count(tabbed.get()), 1);
  EXPECT_EQ(stored(tabbed.get(), 0, nullptr, "url"), "/media/s2.m3u8");
}

TEST(EditorPanel, FormatDefaults) {
  const JsonPtr global = json_parse(R"({"sslEnable": true, "httpPort": 9600})");
  struct Case {
    TargetFormatEntry format;
    std::string host, url, video_codec, audio_codec;
    bool audio_enable;
    std::string stored_audio_codec;  // target 0's codec in the working copy afterwards
  };
  const Case cases[] = {
      {TargetFormatEntry::rtmp, "", "rtmp://127.0.0.1/live/morv_ch4", "h264", "aac", true, "aac"},
      {TargetFormatEntry::html5, "10.0.0.9", "https://10.0.0.9:9600/morv_ch4", "h264", "aac", true,
       "aac"},
      {TargetFormatEntry::http, "", "https://127.0.0.1:9600/morv_ch4", "h264", "aac", true, "aac"},
      {TargetFormatEntry::httpmjpg, "10.0.0.9", "https://10.0.0.9:9600/morv_ch4", "mjpeg", "aac",
       false, "aac"},
      {TargetFormatEntry::ndi, "", "morv_ch4", "h264", "pcm16s", true, "pcm16s"},
      {TargetFormatEntry::local_file, "", "/media/morv_ch4_recorded.mp4", "h264", "aac", true,
       "aac"},
      {TargetFormatEntry::srt, "", "srt://0.0.0.0:1234", "h264", "aac", true, "aac"},
  };
  for (const Case& c : cases) {
    const JsonPtr channel = channel_with_targets("udp", 2);
    EditorValues shown = udp_values();
    shown.cbr = true;
    shown.mux_bitrate = "5000";
    shown.audio_channels = 1;
    const PanelChange change = change_target_format(
        shown, kFormat(c.format), editor_environment(global.get(), 4, c.host, {}), channel.get());
    const int format = kFormat(c.format);
    EXPECT_EQ(change.values.target_url, c.url) << format;
    EXPECT_EQ(video_codec_of(change.values.video_encoding), c.video_codec) << format;
    EXPECT_EQ(audio_codec_of(change.values.audio_encoding),
              c.audio_codec == "pcm16s" ? "pcm16s" : c.audio_codec)
        << format;
    EXPECT_EQ(change.values.audio_enable, c.audio_enable) << format;
    EXPECT_FALSE(change.values.cbr) << format;
    EXPECT_EQ(change.values.mux_bitrate, "0") << format;
    EXPECT_EQ(change.values.audio_channels, 2) << format;
    EXPECT_EQ(stored(channel.get(), 0, "audio", "codec"), c.stored_audio_codec) << format;
    EXPECT_FALSE(change.message) << format;
  }
  // RTMP runs the encoding change: the advanced video options start again.
  const JsonPtr channel = channel_with_targets("udp", 1);
  change_target_format(udp_values(), kFormat(TargetFormatEntry::rtmp),
                       editor_environment(nullptr, 1, "", {}), channel.get());
  EXPECT_EQ(stored(channel.get(), 0, "video", "options"), "[]");
}

TEST(EditorPanel, EncodersTheSystemCannotRunAreRefused) {
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
       "The ffmpeg on this system has no encoder \"h264_nvenc\" for "
       "H.264 (NVENC).\n"},
      {"nv264", nullptr, {}, nullptr},
      {"h264", nullptr, encoders, nullptr},
  };
  for (const Case& c : cases) {
    const JsonPtr channel = channel_with_targets("udp", 1);
    EditorValues shown = udp_values();
    const PanelChange change =
        change_video_encoding(shown, video_entry_writing(c.codec), 0,
                              editor_environment(c.global, 1, "", c.encoders), channel.get());
    if (c.message_start == nullptr) {
      EXPECT_FALSE(change.message) << c.codec;
      EXPECT_EQ(video_codec_of(change.values.video_encoding), c.codec);
      EXPECT_EQ(stored(channel.get(), 0, "video", "codec"), c.codec);
      EXPECT_EQ(stored(channel.get(), 0, "video", "options"), "[]");
      continue;
    }
    ASSERT_TRUE(change.message) << c.codec;
    EXPECT_EQ(change.message->title, "Settings Error");
    EXPECT_EQ(change.message->text.rfind(c.message_start, 0), 0u) << change.message->text;
    EXPECT_EQ(change.values.video_encoding, shown.video_encoding) << c.codec;
    EXPECT_EQ(stored(channel.get(), 0, "video", "codec"), "h264") << c.codec;
  }
  // The same for sound: HE-AAC needs an encoder Debian's ffmpeg lacks.
  const JsonPtr channel = channel_with_targets("udp", 1);
  const PanelChange heaac =
      change_audio_encoding(udp_values(), audio_entry_writing("heaac"), 0,
                            editor_environment(nullptr, 1, "", encoders), channel.get());
  EXPECT_TRUE(heaac.message);
  EXPECT_EQ(stored(channel.get(), 0, "audio", "codec"), "aac");

  // "Original" resets the picture and the sound settings.
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
    bool asked, on, warned;
  };
  const Case cases[] = {{"Default", true, false, true},
                        {"0", true, false, true},
                        {"-200", true, false, true},
                        {"1200", true, true, false},
                        {"Default", false, false, false}};
  for (const Case& c : cases) {
    EditorValues shown = udp_values();
    shown.video_bitrate = c.bitrate;
    const PanelChange change = change_cbr(shown, c.asked);
    EXPECT_EQ(change.values.cbr, c.on) << c.bitrate;
    ASSERT_EQ(change.message.has_value(), c.warned) << c.bitrate;
    if (c.warned) {
      EXPECT_EQ(change.message->title, "Warning");
      EXPECT_EQ(change.message->text, "Cannot enable CBR with ZERO video bitrate!");
      EXPECT_EQ(change.message->icon, MessageIcon::warning);
    }
  }
}

TEST(EditorPanel, MuxBitrateMustExceedTheStreams) {
  struct Case {
    TargetFormatEntry format;
    const char *mux, *video, *audio;
    bool refused;
  };
  const Case cases[] = {
      {TargetFormatEntry::udp, "3000", "2000", "128", false},
      {TargetFormatEntry::udp, "3000", "3000", "128", true},
      {TargetFormatEntry::srt, "2128", "2000", "128", true},
      {TargetFormatEntry::udp, "", "3000", "128", false},
      {TargetFormatEntry::udp, "0", "3000", "128", false},
      {TargetFormatEntry::udp, "100", "Default", "Default", false},
      {TargetFormatEntry::html5, "100", "3000", "128", false},
      {TargetFormatEntry::udp, "2147483647", "2147483647", "2147483647", true},
  };
  for (const Case& c : cases) {
    EditorValues values = udp_values();
    values.target_format = kFormat(c.format);
    values.mux_bitrate = c.mux;
    values.video_bitrate = c.video;
    values.audio_bitrate = c.audio;
    const std::optional<EditRefusal> refusal = validate_editor_values(values, {});
    EXPECT_EQ(refusal.has_value(), c.refused) << c.mux << " " << c.video;
    if (refusal) {
      EXPECT_EQ(refusal->focus, kMuxBitrateControl);
    }
  }
}

TEST(EditorPanel, ValidationNamesTheRuleAndTheControl) {
  using F = TargetFormatEntry;
  struct Case {
    F format;
    std::string url, video, audio;
    std::vector<std::string> others;
    std::string text;  // "" when accepted
    const char* focus;
    const char* title = "Settings Error";
  };
  const Case cases[] = {
      {F::hls,
       "/media/a.m3u8",
       "vp9",
       "aac",
       {},
       "VP8/VP9 encodings are ONLY supported by "
       "FILE(.mkv/.webm) and DASH formats.",
       kVideoEncodingControl},
      {F::local_file, "/media/a.webm", "vp9", "opus", {}, "", nullptr},
      {F::dash, "/media/a.mpd", "vp8", "opus", {}, "", nullptr},
      {F::rtmp, " ", "h264", "aac", {}, "Target URL invalid!", kTargetUrlControl},
      {F::rtmp,
       "rtmp://h/live/a",
       "ni264",
       "aac",
       {},
       "Only FLV/H.264/HEVC video encodings are "
       "supported for RTMP format!\nPlease choose either one of them.",
       kVideoEncodingControl},
      {F::rtmp,
       "rtmp://h/live/a",
       "copy",
       "opus",
       {},
       "Only MP3 and AAC audio encodings are "
       "supported for RTMP format!\nPlease choose either one of them.",
       kAudioEncodingControl},
      {F::udp, "", "h264", "aac", {}, "Target URL invalid!", kTargetUrlControl},
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
      {F::hls,
       "/media/a.m3u8",
       "h264",
       "aac",
       {"b.m3u8", "a.m3u8"},
       "Duplicated stream names "
       "found.\nPlease modify target url to make stream name unique for each multi bitrate "
       "channel.",
       kTargetUrlControl,
       "Setting Error"},
      {F::rtmp,
       "rtmp://h/live/a?k=2",
       "h264",
       "aac",
       {"a"},
       "Duplicated stream names found.\n"
       "Please modify target url to make stream name unique for each multi bitrate channel.",
       kTargetUrlControl,
       "Setting Error"},
      {F::hls, "/media/a.m3u8", "h264", "aac", {"b.m3u8"}, "", nullptr},
      {F::srt, "h:1234", "h264", "aac", {"h:1234"}, "", nullptr},  // no stream name to compare
      {F::dash, "/media/a.mpd", "h264", "aac", {"a.mpd"}, "", nullptr},  // one target only
  };
  for (const Case& c : cases) {
    EditorValues values = udp_values();
    values.target_format = kFormat(c.format);
    values.target_url = c.url;
    values.video_encoding = video_entry_writing(c.video);
    values.audio_encoding = audio_entry_writing(c.audio);
    const std::optional<EditRefusal> refusal = validate_editor_values(values, c.others);
    if (c.text.empty()) {
      EXPECT_FALSE(refusal) << c.url << " " << c.video;
      continue;
    }
    ASSERT_TRUE(refusal) << c.text;
    EXPECT_EQ(refusal->message.text, c.text);
    EXPECT_EQ(refusal->message.title, c.title) << c.text;
    EXPECT_EQ(refusal->message.icon, MessageIcon::error) << c.text;
    EXPECT_EQ(refusal->focus, c.focus) << c.text;
  }

  // The panel compares with its channel's other targets.
  const JsonPtr copied = channel_with_targets("hls", 2);
  config_set_string(
      cJSON_GetArrayItem(config_array(config_object(copied.get(), "output"), "targets"), 1), "url",
      "/media/s0.m3u8");
  EditorPanel panel;
  panel.load(copied.get(), 1);
  EXPECT_TRUE(panel.validate());
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
  EXPECT_FALSE(shown.mux_bitrate.visible || shown.cbr.visible || shown.target_tabs.visible);
}

}  // namespace
}  // namespace vx
