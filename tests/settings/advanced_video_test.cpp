// The advanced video settings: encoder options and presets, the Misc tab's decoding and filter
// rules, and the host's load and save order over whole channels.
#include "settings/advanced_video.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/document.h"
#include "config/json.h"
#include "settings/json_fields.h"

namespace vx {
namespace {

using Texts = std::vector<std::string>;

JsonPtr parse(const std::string& text) {
  JsonPtr root = json_parse(text);
  EXPECT_NE(root, nullptr) << text;
  return root;
}

JsonPtr video_object(const std::string& codec, const std::string& options_json) {
  return parse(R"({"codec": ")" + codec + R"(", "options": )" + options_json + "}");
}

// ----- Encoder tab ------------------------------------------------------------------------

TEST(AdvancedVideoEncoder, SaveWritesTheOptionsInOrder) {
  struct Case {
    const char* codec;
    const char* profile;
    const char* level;
    std::int32_t position;
    const char* threads;
    Texts expected;
  };
  const Case cases[] = {
      {"h265",
       "main422-10",
       "default",
       3,
       "4",
       {"-profile:v main422-10", "-pix_fmt:v yuv422p10", "-preset:v faster", "-threads:v 4"}},
      {"h264",
       "default",
       "4.1",
       5,
       "auto",
       {"-level:v 4.1", "-pix_fmt:v yuv420p", "-preset:v medium"}},
      {"h264", "", "", 3, "16", {"-pix_fmt:v yuv420p", "-preset:v faster", "-threads:v 8"}},
      {"h264",
       "high10",
       "DEFAULT",
       3,
       "0",
       {"-profile:v high10", "-pix_fmt:v yuv420p10", "-preset:v faster"}},
      {"nv264", "high", "default", 6, "4", {"-profile:v high", "-preset:v hq"}},
      {"amf265", "default", "default", 2, "auto", {"-quality:v quality"}},
      {"omx264", "default", "default", 9, "auto", {"-omx_param 'perf_level=9'"}},
      {"omx264", "default", "default", 0, "auto", {}},
      {"omx265", "default", "default", 15, "auto", {}},
      {"vp8", "default", "default", 13, "2", {"-cpu-used 3", "-threads:v 2"}},
      {"vp9", "default", "default", 5, "Auto", {"-cpu-used 3"}},
      {"av1", "default", "default", 0, "-3", {"-preset:v 13"}},
      {"copy", "default", "default", 3, "8", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    JsonPtr video = video_object(c.codec, R"(["-old 1", 5])");
    VideoEncoderSettings tab;
    tab.load(video.get());
    tab.profile = c.profile;
    tab.level = c.level;
    tab.preset_position = c.position;
    tab.threads = c.threads;
    tab.save();
    EXPECT_EQ(string_array(video.get(), "options"), c.expected);
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(video.get(), "options")),
              static_cast<int>(c.expected.size()))
        << "non-text entries are removed too";
  }
}

TEST(AdvancedVideoEncoder, LoadReadsProfileLevelThreadsAndPreset) {
  struct Case {
    const char* codec;
    const char* options;
    const char* profile;
    const char* level;
    const char* threads;
    std::int32_t position;
  };
  const Case cases[] = {
      {"h264", R"(["-profile main", "-vprofile high", "-level 3.1", "-threads 0x10",
                   "-preset:v SLOW", "-preset:v fast"])",
       "high", "3.1", "16", 6},
      {"h264", R"(["-profile:v baseline", "-level:v 4", "-threads:v 010", "-threads:v 2"])",
       "baseline", "4", "2", 3},
      {"vp9", R"(["-cpu-used 3", "-level 1"])", "default", "1", "auto", 5},
      {"vp8", R"(["-cpu-used 16"])", "default", "default", "auto", 0},
      {"av1", R"(["-preset:v 13", "-threads 6"])", "default", "default", "6", 0},
      {"av1", R"(["-level 5"])", "default", "default", "auto", 0},  // no levels for av1
      {"nv265", R"(["-preset:v llhq", "-threads 4"])", "default", "default", "auto", 7},
      {"nv264", R"(["-preset:v faster"])", "default", "default", "auto", 3},  // not an NVENC name
      {"av1", R"(["-preset:v 3"])", "default", "default", "auto", 10},
      {"amf264", R"(["-quality:v Balanced"])", "default", "default", "auto", 1},
      {"omx264", R"(["-omx_param 'perf_level=12'"])", "default", "default", "auto", 12},
      {"omx265", R"(["-omx_param 'perf_level=0x1e'"])", "default", "default", "auto", 30},
      {"h264", R"(["-preset:v nosuch", "-preset:v slow"])", "default", "default", "auto", 3},
      {"vp9", R"(["-cpu-used x"])", "default", "default", "auto", 5},
      {"h265", R"(["-profile:v ", "-level:v", "-threads:v auto"])", "default", "default", "auto",
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.codec) + " " + c.options);
    JsonPtr video = video_object(c.codec, c.options);
    VideoEncoderSettings tab;
    tab.load(video.get());
    EXPECT_EQ(tab.profile, c.profile);
    EXPECT_EQ(tab.level, c.level);
    EXPECT_EQ(tab.threads, c.threads);
    EXPECT_EQ(tab.preset_position, c.position);
  }
}

TEST(AdvancedVideoEncoder, RoundTripsAndOutOfRangePositions) {
  // vp9 -cpu-used 3 is position 5 and is written back unchanged.
  JsonPtr vp9 = video_object("vp9", R"(["-cpu-used 3"])");
  VideoEncoderSettings tab;
  tab.load(vp9.get());
  EXPECT_EQ(tab.preset_position, 5);
  tab.save();
  EXPECT_EQ(string_array(vp9.get(), "options"), Texts{"-cpu-used 3"});

  // A number outside the slider stays as stored until the slider moves.
  JsonPtr far = video_object("vp9", R"(["-cpu-used -4"])");
  tab.load(far.get());
  EXPECT_EQ(tab.preset_position, 12);
  tab.save();
  EXPECT_EQ(string_array(far.get(), "options"), Texts{"-cpu-used -4"});

  // Name tables are never indexed outside themselves: the position is clamped to the slider,
  // and the name shown for it is the one written.
  struct Case {
    const char* codec;
    const char* options;
    const char* written;
    const char* name;
  };
  const Case cases[] = {
      {"h264", R"(["-omx_param 'perf_level=42'"])", "-preset:v veryslow", "veryslow"},
      {"h264", R"(["perf_level=-7"])", "-preset:v ultrafast", "ultrafast"},
      {"amf264", R"(["perf_level=9"])", "-quality:v quality", "quality"},
      {"qsv264", R"(["-preset:v ultrafast"])", "-preset:v veryfast", "veryfast"},
      {"qsv265", R"(["-preset:v veryslow"])", "-preset:v slow", "slow"},
      {"nv265", R"(["-preset:v llhq"])", "-preset:v llhq", "llhq"},
      {"vp9", R"(["-cpu-used 3"])", "-cpu-used 3", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    JsonPtr video = video_object(c.codec, c.options);
    tab.load(video.get());
    EXPECT_EQ(tab.preset_name(), c.name);
    tab.save();
    const Texts written = string_array(video.get(), "options");
    EXPECT_NE(std::find(written.begin(), written.end(), c.written), written.end());
  }
  tab.load(vp9.get());
  tab.preset_position = -1000;
  tab.save();  // reversed numbers are not indexes; they stay exact
  EXPECT_EQ(string_array(vp9.get(), "options"), Texts{"-cpu-used 1008"});
}

TEST(AdvancedVideoEncoder, ControlsFollowTheCodec) {
  struct Case {
    const char* codec;
    bool controls, profiles, level, threads;
    std::int32_t minimum, maximum, position;
    std::size_t profile_count;
  };
  const Case cases[] = {
      {"h264", true, true, true, true, 0, 8, 3, 6},
      {"QSV264", true, true, true, false, 2, 8, 5, 3},
      {"qsv265", true, true, true, false, 4, 6, 5, 3},
      {"vp9", true, false, true, true, 0, 8, 5, 0},
      {"av1", true, false, false, true, 0, 13, 0, 0},
      {"omx265", true, true, true, false, 1, 30, 15, 3},
      {"copy", false, false, false, false, 0, 0, 0, 0},
      {"", false, false, false, false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    JsonPtr video = video_object(c.codec, "[]");
    VideoEncoderSettings tab;
    tab.load(video.get());
    EXPECT_EQ(tab.controls_enabled, c.controls);
    EXPECT_EQ(tab.profile_list_enabled, c.profiles);
    EXPECT_EQ(tab.level_enabled, c.level);
    EXPECT_EQ(tab.threads_enabled, c.threads);
    EXPECT_EQ(tab.slider_minimum, c.minimum);
    EXPECT_EQ(tab.slider_maximum, c.maximum);
    EXPECT_EQ(tab.preset_position, c.position);
    EXPECT_EQ(tab.profile_choices.size(), c.profile_count);
  }
}

TEST(AdvancedVideoEncoder, TablesAndRules) {
  EXPECT_EQ(preset_range_table().size(), 13u);
  EXPECT_EQ(profile_list_table().size(), 10u);
  EXPECT_EQ(x264_preset_names().size(), 9u);
  EXPECT_EQ(nvenc_preset_names()[3], "default");
  EXPECT_EQ(amf_preset_names().size(), 3u);
  for (const PresetRange& row : preset_range_table()) {
    SCOPED_TRACE(row.codec);
    EXPECT_LE(row.minimum, row.default_position);
    EXPECT_LE(row.default_position, row.maximum);
    if (row.value == PresetValue::name) {
      EXPECT_LT(row.maximum, static_cast<std::int32_t>(row.names.size()));
    }
  }
  const std::pair<const char*, const char*> formats[] = {
      {"main444-12", "yuv444p12"},
      {"main444-10", "yuv444p10"},
      {"high444", "yuv444p"},
      {"main444-8", "yuv444p"},
      {"main422-12", "yuv422p12"},
      {"main422-10", "yuv422p10"},
      {"high422", "yuv422p"},
      {"high10", "yuv420p10"},
      {"main10", "yuv420p10"},
      {"main12", "yuv420p12"},
      {"MAIN10", "yuv420p"},
      {"default", "yuv420p"},
      {"", "yuv420p"},
  };
  for (const auto& [profile, format] : formats) {
    EXPECT_EQ(pixel_format_for_profile(profile), format) << profile;
  }
  const std::pair<const char*, std::int32_t> threads[] = {
      {"16", 8},   {"8", 8},  {"7", 7},
      {" +3x", 3}, {"0", 0},  {"auto", 0},
      {"Auto", 0}, {"-5", 0}, {"99999999999999999999", 8},
      {"", 0},
  };
  for (const auto& [text, n] : threads)
    EXPECT_EQ(threads_to_write(text), n) << text;
}

TEST(AdvancedVideoEncoder, DamagedVideoObjectsLoseNothing) {
  VideoEncoderSettings tab;
  tab.save();  // nothing loaded: nothing happens
  tab.load(nullptr);
  tab.save();

  JsonPtr no_options = parse(R"({"codec": "h264"})");
  tab.load(no_options.get());
  tab.save();
  EXPECT_EQ(cJSON_GetObjectItem(no_options.get(), "options"), nullptr) << "nothing is created";

  JsonPtr text_options = parse(R"({"codec": 7, "options": "-preset:v slow"})");
  tab.load(text_options.get());
  EXPECT_FALSE(tab.controls_enabled);
  tab.save();
  EXPECT_STREQ(cJSON_GetObjectItem(text_options.get(), "options")->valuestring, "-preset:v slow");
}

// ----- Misc tab ---------------------------------------------------------------------------

struct MiscJson {
  JsonPtr source;
  JsonPtr video;
  JsonPtr filters;
};

MiscJson misc_json(const std::string& source, const std::string& video,
                   const std::string& filters) {
  return {parse(source), parse(video), parse(filters)};
}

TEST(AdvancedVideoMisc, DecoderChoiceLastMatchWins) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {R"(["-c:v h264_qsv"])", 2},
      {R"(["-c:v hevc_cuvid", "-c:v h264_cuvid"])", 1},
      {R"(["-hwaccel qsv -hwaccel_output_format qsv", "-c:v hevc_qsv"])", 5},
      {R"(["-c:v mpeg2_cuvid", "-hwaccel none"])", 0},
      {R"(["-c:v h265_ni_quadra_dec", 4, null])", 6},
      {R"([])", 0},
  };
  for (const auto& [source, choice] : cases) {
    MiscJson json = misc_json(source, R"({"codec": "h264"})", "[]");
    VideoMiscSettings tab;
    tab.load(json.source.get(), json.video.get(), json.filters.get());
    EXPECT_EQ(tab.decoder_choice, choice) << source;
  }
  EXPECT_EQ(decoder_choice_table().size(), 8u);
  EXPECT_EQ(decoder_choice_row(-3).index, 0);
  EXPECT_EQ(decoder_choice_row(99).index, 7);
}

TEST(AdvancedVideoMisc, LoadReadsAspectScanTypeAndGpu) {
  struct Case {
    const char* video;
    bool aspect;
    std::int32_t scan;
    std::uint32_t gpu;
    bool gpu_enabled;
  };
  const Case cases[] = {
      {R"({"codec": "nv264", "scanType": 1, "options": ["-aspect:v 16:9", "-gpu 0x2"]})", true, 1,
       2, true},
      {R"({"codec": "h264", "scanType": "2x", "options": ["-aspect 4:3", "-gpu:v 3"]})", true, 2, 0,
       false},
      {R"({"codec": "nvav1", "scanType": true, "options": ["-gpu:v 99999"]})", false, 1, 32767,
       true},
      {R"({"codec": "nv265", "scanType": 9, "options": ["-gpu:v -1"]})", false, 3, 0, true},
      {R"({"codec": "nv265", "scanType": [1], "options": {"a": "-aspect 1:1"}})", false, 0, 0,
       true},
      {R"({"scanType": -4})", false, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.video);
    MiscJson json = misc_json("[]", c.video, "[]");
    VideoMiscSettings tab;
    tab.load(json.source.get(), json.video.get(), json.filters.get());
    EXPECT_EQ(tab.aspect_override, c.aspect);
    EXPECT_EQ(tab.scan_type, c.scan);
    EXPECT_EQ(tab.gpu_number, c.gpu);
    EXPECT_EQ(tab.gpu_number_enabled, c.gpu_enabled);
  }
}

TEST(AdvancedVideoMisc, SaveByDecoderFamily) {
  struct Case {
    const char* name;
    const char* codec;
    std::int32_t choice;
    std::int32_t scan;
    std::int32_t width, height;
    std::uint32_t gpu;
    const char* filters_before;
    Texts source;
    Texts filters;
  };
  const Case cases[] = {
      {"qsv hevc example",
       "h264",
       5,
       1,
       1280,
       720,
       0,
       "[]",
       {"-hwaccel qsv -hwaccel_output_format qsv", "-c:v hevc_qsv"},
       {"hwdownload", "format=nv12", "vpp_qsv=deinterlace=2:w=1280:h=720"}},
      {"qsv size only, qsv encoder",
       "qsv264",
       2,
       0,
       640,
       360,
       0,
       "[]",
       {"-hwaccel qsv -hwaccel_output_format qsv", "-c:v h264_qsv"},
       {"vpp_qsv=w=640:h=360"}},
      {"qsv nothing to filter",
       "amf265",
       5,
       0,
       0,
       0,
       0,
       "[]",
       {"-hwaccel qsv -hwaccel_output_format qsv", "-c:v hevc_qsv"},
       {}},
      {"cuda everything",
       "nv264",
       4,
       1,
       1920,
       1080,
       2,
       "[]",
       {"-hwaccel cuda -hwaccel_output_format cuda", "-deint adaptive", "-surfaces 9",
        "-resize 1920x1080", "-hwaccel_device 2", "-gpu 2", "-c:v hevc_cuvid"},
       {}},
      {"cuda software encoder",
       "h265",
       7,
       0,
       0,
       720,
       0,
       "[]",
       {"-hwaccel cuda -hwaccel_output_format cuda", "-c:v mpeg2_cuvid"},
       {"hwdownload", "format=nv12"}},
      {"netint deinterlace",
       "h264",
       3,
       1,
       0,
       0,
       0,
       "[]",
       {"-c:v h264_ni_quadra_dec"},
       {"hwdownload", "format=nv12", "yadif"}},
      {"none deinterlace", "h264", 0, 1, 0, 0, 0, "[]", {}, {"yadif"}},
      {"a filter switches decoding off",
       "h264",
       4,
       1,
       1280,
       720,
       0,
       R"(["crop=10:10"])",
       {},
       {"yadif", "crop=10:10"}},
      {"choice out of the table",
       "nv264",
       42,
       0,
       0,
       0,
       0,
       "[]",
       {"-hwaccel cuda -hwaccel_output_format cuda", "-c:v mpeg2_cuvid"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MiscJson json = misc_json(R"(["-c:v old"])",
                              R"({"codec": ")" + std::string(c.codec) + R"(", "width": )" +
                                  std::to_string(c.width) + R"(, "height": )" +
                                  std::to_string(c.height) + R"(, "options": []})",
                              c.filters_before);
    VideoMiscSettings tab;
    tab.load(json.source.get(), json.video.get(), json.filters.get());
    tab.decoder_choice = c.choice;
    tab.scan_type = c.scan;
    tab.gpu_number = c.gpu;
    EXPECT_FALSE(tab.save().has_value());
    EXPECT_EQ(string_array(json.source.get()), c.source);
    EXPECT_EQ(string_array(json.filters.get()), c.filters);
    EXPECT_EQ(config_int(json.video.get(), "scanType"), c.scan);
  }
}

TEST(AdvancedVideoMisc, SaveAspectGpuAndMissingParts) {
  MiscJson json = misc_json("[]", R"({"codec": "nv265", "width": "1280", "height": 720,
                                      "options": ["-preset:v hq"]})",
                            "[]");
  VideoMiscSettings tab;
  tab.load(json.source.get(), json.video.get(), json.filters.get());
  tab.aspect_override = true;
  tab.gpu_number = 3;
  EXPECT_FALSE(tab.save().has_value());
  EXPECT_EQ(string_array(json.video.get(), "options"),
            (Texts{"-preset:v hq", "-aspect:v 1280:720", "-gpu:v 3"}));

  MiscJson unsized = misc_json("[]", R"({"codec": "h264", "width": 1280, "options": []})", "[]");
  tab.load(unsized.source.get(), unsized.video.get(), unsized.filters.get());
  tab.aspect_override = true;
  tab.scan_type = 2;
  const auto warning = tab.save();
  ASSERT_TRUE(warning.has_value());
  EXPECT_EQ(warning->title, "Video Aspect Ratio");
  EXPECT_TRUE(string_array(unsized.video.get(), "options").empty());
  EXPECT_EQ(config_int(unsized.video.get(), "scanType"), 2) << "the rest of the save happens";

  // Any of the three missing: nothing at all is written.
  MiscJson partial = misc_json(R"(["-c:v h264_qsv"])", R"({"codec": "h264"})", "[]");
  tab.load(partial.source.get(), partial.video.get(), nullptr);
  tab.scan_type = 1;
  tab.save();
  EXPECT_EQ(string_array(partial.source.get()), Texts{"-c:v h264_qsv"});
  EXPECT_EQ(cJSON_GetObjectItem(partial.video.get(), "scanType"), nullptr);
}

// ----- Host -------------------------------------------------------------------------------

// A filter tab that recognises filters starting with its own prefix and builds one back.
class FakeFilterTab : public VideoFilterTab {
 public:
  explicit FakeFilterTab(std::string prefix) : prefix_(std::move(prefix)) {}
  void reset() override { filter.reset(); }
  void parse_filter(std::string_view text) override {
    offered.emplace_back(text);
    if (text.starts_with(prefix_)) filter = std::string(text);
  }
  std::optional<std::string> build_filter() const override { return filter; }

  std::optional<std::string> filter;
  Texts offered;

 private:
  std::string prefix_;
};

constexpr const char* kChannelA = R"({
  "input": {"sources": [{"format": "file", "url": "a.ts",
                         "video": {"options": ["-c:v hevc_qsv"]}}],
            "filters": ["crop=1:2", "unsharp=5", "yadif"]},
  "output": {"targets": [
    {"format": "udp", "video": {"codec": "h264", "options": ["-preset:v fast"]}},
    {"format": "udp", "video": {"codec": "nv264", "width": 1280, "height": 720, "scanType": 1,
     "options": ["-profile:v high", "-level:v 4.2", "-preset:v hq", "-aspect:v 16:9",
                 "-gpu:v 1"]}}]}
})";

constexpr const char* kChannelB = R"({
  "input": {"sources": [{"format": "file", "url": "b.ts", "video": {"options": []}}],
            "filters": []},
  "output": {"targets": [{"format": "udp", "video": {"codec": "vp9", "options": []}}]}
})";

TEST(AdvancedVideoHost, LoadsTheSelectedTargetAndLeavesNothingOfTheLastChannel) {
  FakeFilterTab crop("crop"), blur("unsharp"), overlay("overlay");
  AdvancedVideoSettings dialog(&crop, &blur, &overlay);
  JsonPtr a = parse(kChannelA);
  JsonPtr b = parse(kChannelB);

  dialog.load_channel(a.get(), 1);
  EXPECT_EQ(dialog.encoder().profile, "high");
  EXPECT_EQ(dialog.encoder().level, "4.2");
  EXPECT_EQ(dialog.encoder().preset_position, 6);
  EXPECT_TRUE(dialog.misc().aspect_override);
  EXPECT_EQ(dialog.misc().gpu_number, 1u);
  EXPECT_EQ(dialog.misc().scan_type, 1);
  EXPECT_EQ(dialog.misc().decoder_choice, 5);
  EXPECT_EQ(crop.filter, "crop=1:2");
  EXPECT_EQ(blur.filter, "unsharp=5");
  EXPECT_EQ(overlay.offered, (Texts{"crop=1:2", "unsharp=5", "yadif"})) << "every tab sees all";

  dialog.load_channel(b.get(), 0);
  EXPECT_EQ(dialog.encoder().profile, "default");
  EXPECT_EQ(dialog.encoder().level, "default");
  EXPECT_EQ(dialog.encoder().preset_position, 5);
  EXPECT_FALSE(dialog.misc().aspect_override);
  EXPECT_EQ(dialog.misc().gpu_number, 0u);
  EXPECT_EQ(dialog.misc().scan_type, 0);
  EXPECT_EQ(dialog.misc().decoder_choice, 0);
  EXPECT_FALSE(crop.filter.has_value());
  EXPECT_FALSE(blur.filter.has_value());

  dialog.save_channel();
  EXPECT_EQ(string_array(config_array(config_object(b.get(), "input"), "filters")), Texts{});
  const cJSON* b_video = cJSON_GetObjectItem(
      cJSON_GetArrayItem(cJSON_GetObjectItem(cJSON_GetObjectItem(b.get(), "output"), "targets"), 0),
      "video");
  EXPECT_EQ(string_array(b_video, "options"), Texts{"-cpu-used 3"}) << "nothing of channel A";
}

TEST(AdvancedVideoHost, SaveOrderAndFilters) {
  FakeFilterTab crop("crop"), blur("unsharp"), overlay("overlay");
  AdvancedVideoSettings dialog(&crop, &blur, &overlay);
  JsonPtr a = parse(kChannelA);
  cJSON* input = config_object(a.get(), "input");
  cJSON* source_video =
      config_object(cJSON_GetArrayItem(config_array(input, "sources"), 0), "video");

  dialog.load_channel(a.get(), 1);
  EXPECT_TRUE(dialog.save_channel());
  cJSON* target_video = config_object(
      cJSON_GetArrayItem(config_array(config_object(a.get(), "output"), "targets"), 1), "video");
  EXPECT_EQ(
      string_array(target_video, "options"),
      (Texts{"-profile:v high", "-level:v 4.2", "-preset:v hq", "-aspect:v 1280:720", "-gpu:v 1"}));
  // The crop and blur filters switch the QSV decoding off; the deinterlace becomes yadif.
  EXPECT_EQ(string_array(input, "filters"), (Texts{"yadif", "crop=1:2", "unsharp=5"}));
  EXPECT_EQ(string_array(source_video, "options"), Texts{});
  EXPECT_EQ(dialog.misc().decoder_choice, 0);

  // An overlay replaces the other filters.
  dialog.load_channel(a.get(), 1);
  overlay.filter = std::string(1200, 'o');
  dialog.misc().scan_type = 0;
  dialog.save_channel();
  const Texts filters = string_array(input, "filters");
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0].size(), kMaxFilterBytes);

  // Without filters the decoder choice survives the save.
  JsonPtr b = parse(kChannelB);
  dialog.load_channel(b.get(), 0);
  dialog.misc().decoder_choice = 2;
  dialog.save_channel();
  EXPECT_EQ(string_array(config_array(config_object(b.get(), "input"), "filters")),
            (Texts{"hwdownload", "format=nv12"}));
}

TEST(AdvancedVideoHost, MissingChannelPartsAndTargetsOutsideTheList) {
  AdvancedVideoSettings dialog;
  EXPECT_TRUE(dialog.save_channel()) << "nothing loaded";

  const char* damaged[] = {
      "{}",
      "[]",
      R"({"input": 3, "output": {"targets": "x"}})",
      R"({"input": {"sources": [7], "filters": {}}, "output": {"targets": [{"video": []}]}})",
  };
  for (const char* text : damaged) {
    JsonPtr channel = parse(text);
    const std::string before = json_print_unformatted(channel.get()).value_or("");
    dialog.load_channel(channel.get(), 0);
    dialog.misc().aspect_override = true;
    dialog.misc().scan_type = 1;
    dialog.save_channel();
    EXPECT_EQ(json_print_unformatted(channel.get()).value_or(""), before) << text;
  }

  JsonPtr a = parse(kChannelA);
  for (std::int32_t index : {-1, 2, 1000}) {
    dialog.load_channel(a.get(), index);
    EXPECT_FALSE(dialog.encoder().controls_enabled);
    dialog.misc().decoder_choice = 0;
  }
  // Without a target the Misc tab has no video object and writes nothing; the encoder neither.
  dialog.save_channel();
  const Texts filters = string_array(config_array(config_object(a.get(), "input"), "filters"));
  EXPECT_TRUE(filters.empty()) << "the host still rewrites the filter list";
  cJSON* targets = config_array(config_object(a.get(), "output"), "targets");
  EXPECT_EQ(string_array(config_object(cJSON_GetArrayItem(targets, 0), "video"), "options"),
            Texts{"-preset:v fast"})
      << "no other target is written instead";
  EXPECT_EQ(string_array(config_object(cJSON_GetArrayItem(targets, 1), "video"), "options").size(),
            5u);
}

}  // namespace
}  // namespace vx
