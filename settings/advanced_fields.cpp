#include "settings/advanced_fields.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include "config/document.h"
#include "settings/advanced_video.h"
#include "settings/picture_filters.h"
#include "vocabulary/product.h"

namespace vx {
namespace {

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kUint32Max = std::numeric_limits<std::uint32_t>::max();

// ---- writing ----

void add_text(cJSON* object, const char* key, std::string_view text) {
  cJSON_AddItemToObject(object, key, cJSON_CreateString(std::string(text).c_str()));
}

void add_number(cJSON* object, const char* key, std::int64_t value) {
  cJSON_AddItemToObject(object, key, cJSON_CreateNumber(static_cast<double>(value)));
}

void add_flag(cJSON* object, const char* key, bool value) {
  cJSON_AddItemToObject(object, key, cJSON_CreateBool(value));
}

template <typename Texts>
void add_texts(cJSON* object, const char* key, const Texts& texts) {
  cJSON* array = cJSON_AddArrayToObject(object, key);
  for (const auto& text : texts)
    cJSON_AddItemToArray(array, cJSON_CreateString(std::string(text).c_str()));
}

std::string color_text(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", red, green, blue);
  return text;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* side_name(SrtSettings::Side side) {
  switch (side) {
    case SrtSettings::Side::input:
      return "input";
    case SrtSettings::Side::output:
      return "output";
    case SrtSettings::Side::none:
      break;
  }
  return "none";
}

// ---- reading ----

// Reads the members of one object of the posted fields; the first problem met is kept, with the
// member's path, and every later read does nothing.
class FieldReader {
 public:
  FieldReader(const cJSON* object, std::string path, std::string* problem)
      : object_(object), path_(std::move(path)), problem_(problem) {}

  // The member as an object to read from; a reader that reads nothing when it is absent.
  FieldReader object(const char* key) {
    const cJSON* item = member(key);
    if (item != nullptr && !cJSON_IsObject(item)) {
      refuse(key, "an object is expected");
      item = nullptr;
    }
    return FieldReader(item, path_ + "." + key, problem_);
  }

  void text(const char* key, std::string& out) {
    const cJSON* item = member(key);
    if (item == nullptr) return;
    if (!cJSON_IsString(item) || item->valuestring == nullptr)
      return refuse(key, "a text is expected");
    out = item->valuestring;
  }

  void flag(const char* key, bool& out) {
    const cJSON* item = member(key);
    if (item == nullptr) return;
    if (!cJSON_IsBool(item)) return refuse(key, "true or false is expected");
    out = cJSON_IsTrue(item);
  }

  template <typename Number>
  void number(const char* key, Number& out, std::int64_t minimum, std::int64_t maximum) {
    if (const std::optional<std::int64_t> value = whole_number(key, minimum, maximum))
      out = static_cast<Number>(*value);
  }

  std::optional<std::int64_t> whole_number(const char* key, std::int64_t minimum,
                                           std::int64_t maximum) {
    const cJSON* item = member(key);
    if (item == nullptr) return std::nullopt;
    const double value = cJSON_IsNumber(item) ? item->valuedouble : std::nan("");
    if (!std::isfinite(value) || std::trunc(value) != value || value < double(minimum) ||
        value > double(maximum)) {
      refuse(key, "a whole number from " + std::to_string(minimum) + " to " +
                      std::to_string(maximum) + " is expected");
      return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
  }

  // "#rrggbb" into three bytes.
  void color(const char* key, std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue) {
    const cJSON* item = member(key);
    if (item == nullptr) return;
    const std::string_view text = cJSON_IsString(item) && item->valuestring != nullptr
                                      ? std::string_view(item->valuestring)
                                      : std::string_view();
    bool valid = text.size() == 7 && text[0] == '#';
    for (std::size_t i = 1; valid && i < 7; ++i)
      valid = hex_value(text[i]) >= 0;
    if (!valid) return refuse(key, "a colour written \"#rrggbb\" is expected");
    const auto byte = [&](std::size_t at) {
      return static_cast<std::uint8_t>(hex_value(text[at]) * 16 + hex_value(text[at + 1]));
    };
    red = byte(1);
    green = byte(3);
    blue = byte(5);
  }

  // The member as an array of objects, each read by `row`; false when it is absent or refused.
  template <typename Row>
  bool rows(const char* key, Row row) {
    const cJSON* item = member(key);
    if (item == nullptr) return false;
    if (!cJSON_IsArray(item)) {
      refuse(key, "an array is expected");
      return false;
    }
    int index = 0;
    for (const cJSON* entry = item->child; entry != nullptr; entry = entry->next, ++index) {
      const std::string at = path_ + "." + key + "[" + std::to_string(index) + "]";
      if (!cJSON_IsObject(entry)) {
        if (problem_->empty()) *problem_ = at + ": an object is expected";
        return false;
      }
      FieldReader reader(entry, at, problem_);
      row(reader);
    }
    return !failed();
  }

  bool failed() const { return !problem_->empty(); }

 private:
  const cJSON* member(const char* key) const {
    if (object_ == nullptr || failed()) return nullptr;
    return cJSON_GetObjectItemCaseSensitive(object_, key);
  }
  void refuse(const char* key, const std::string& what) {
    if (problem_->empty()) *problem_ = path_ + "." + key + ": " + what;
  }

  const cJSON* object_;
  std::string path_;
  std::string* problem_;
};

// ---- the body of a request ----

struct TranslationBody {
  JsonPtr tree;
  cJSON* channel = nullptr;
  int target = 0;
  const cJSON* fields = nullptr;
};

AdvancedTranslation refused(std::string reason) {
  return {false, std::move(reason)};
}

AdvancedTranslation answered(const cJSON* answer) {
  std::optional<std::string> text = json_print_unformatted(answer);
  if (!text) return refused("the answer could not be written");
  return {true, std::move(*text)};
}

// "" and the body's parts, or why the body cannot be translated.
std::string read_body(std::string_view text, AdvancedStep step, TranslationBody& body) {
  body.tree = json_parse(text);
  if (!cJSON_IsObject(body.tree.get())) return "the body must be a JSON object";
  body.channel = cJSON_GetObjectItemCaseSensitive(body.tree.get(), "channel");
  if (!cJSON_IsObject(body.channel)) return "\"channel\" must be a JSON object";
  const cJSON* targets = config_array(config_object(body.channel, "output"), "targets");
  const int count = cJSON_IsArray(targets) ? cJSON_GetArraySize(targets) : 0;
  // A channel without targets still shows its tabs, for its first target to come.
  const int highest = std::clamp(count, 1, kMaxChannelTargets) - 1;
  const cJSON* target = cJSON_GetObjectItemCaseSensitive(body.tree.get(), "target");
  if (target != nullptr) {
    const double value = cJSON_IsNumber(target) ? target->valuedouble : -1;
    if (!(value >= 0 && value <= highest && std::trunc(value) == value)) {
      return "\"target\" must be the position of one of the channel's targets, from 0 to " +
             std::to_string(highest);
    }
    body.target = static_cast<int>(value);
  }
  if (step != AdvancedStep::load) {
    body.fields = cJSON_GetObjectItemCaseSensitive(body.tree.get(), "fields");
    if (!cJSON_IsObject(body.fields)) return "\"fields\" must be a JSON object";
  }
  return {};
}

// {"channel": the translated channel}, taken out of the body's tree.
JsonPtr channel_answer(TranslationBody& body) {
  JsonPtr answer(cJSON_CreateObject());
  cJSON_AddItemToObject(answer.get(), "channel",
                        cJSON_DetachItemFromObjectCaseSensitive(body.tree.get(), "channel"));
  return answer;
}

AdvancedTranslation translate_format(AdvancedStep step, TranslationBody& body) {
  AdvancedFormatSettings settings;
  settings.load_channel(body.channel, body.target);
  if (step == AdvancedStep::load) {
    JsonPtr answer(cJSON_CreateObject());
    cJSON_AddItemToObject(answer.get(), "fields", advanced_format_fields(settings).release());
    return answered(answer.get());
  }
  if (std::string problem = read_advanced_format_fields(body.fields, settings); !problem.empty())
    return refused(std::move(problem));
  if (step == AdvancedStep::add_source_stream || step == AdvancedStep::add_program) {
    if (step == AdvancedStep::add_source_stream) settings.mpegts_in.add_row();
    if (step == AdvancedStep::add_program) settings.mpegts_out.add_program();
    JsonPtr answer(cJSON_CreateObject());
    cJSON_AddItemToObject(answer.get(), "fields", advanced_format_fields(settings).release());
    return answered(answer.get());
  }
  if (!settings.save_channel()) {
    return refused(settings.rejection ? settings.rejection->text
                                      : std::string("the settings could not be saved"));
  }
  return answered(channel_answer(body).get());
}

AdvancedTranslation translate_video(AdvancedStep step, TranslationBody& body) {
  if (step != AdvancedStep::load && step != AdvancedStep::save) {
    return refused("the video panel has no table to add a row to");
  }
  VideoSettingsTabs tabs;
  tabs.host.load_channel(body.channel, body.target);
  if (step == AdvancedStep::load) {
    JsonPtr answer(cJSON_CreateObject());
    cJSON_AddItemToObject(answer.get(), "fields", advanced_video_fields(tabs).release());
    cJSON_AddItemToObject(answer.get(), "choices", advanced_video_choices(tabs).release());
    return answered(answer.get());
  }
  if (std::string problem = read_advanced_video_fields(body.fields, tabs); !problem.empty())
    return refused(std::move(problem));
  tabs.host.save_channel();
  JsonPtr answer = channel_answer(body);
  if (const std::optional<DialogWarning>& warning = tabs.host.last_warning()) {
    cJSON* said = cJSON_AddObjectToObject(answer.get(), "warning");
    add_text(said, "title", warning->title);
    add_text(said, "text", warning->text);
  }
  return answered(answer.get());
}

}  // namespace

// ---- the advanced format settings ----

JsonPtr advanced_format_fields(const AdvancedFormatSettings& settings) {
  JsonPtr fields(cJSON_CreateObject());

  cJSON* input = cJSON_AddObjectToObject(fields.get(), "mpegtsInput");
  cJSON* streams = cJSON_AddArrayToObject(input, "sourceStreams");
  for (const MpegTsInputSettings::Row& row : settings.mpegts_in.SourceStreamList) {
    cJSON* entry = cJSON_CreateObject();
    add_text(entry, "program", row.program);
    add_text(entry, "pid", row.pid);
    cJSON_AddItemToArray(streams, entry);
  }

  const MpegTsOutputSettings& ts = settings.mpegts_out;
  cJSON* output = cJSON_AddObjectToObject(fields.get(), "mpegtsOutput");
  add_flag(output, "enabled", ts.enabled);
  add_flag(output, "fecEnabled", ts.fec_enabled);
  cJSON* programs = cJSON_AddArrayToObject(output, "programs");
  for (const MpegTsOutputSettings::Row& row : ts.ProgramList) {
    cJSON* entry = cJSON_CreateObject();
    add_text(entry, "program", row.program);
    add_text(entry, "name", row.name);
    add_text(entry, "source", row.source);
    cJSON_AddItemToArray(programs, entry);
  }
  add_text(output, "pmtPid", ts.pmt_pid);
  add_text(output, "provider", ts.provider);
  add_text(output, "videoPid", ts.video_pid);
  add_text(output, "audioPid", ts.audio_pid);
  add_text(output, "subtitlePid", ts.subtitle_pid);
  add_flag(output, "fec", ts.fec_on);
  add_number(output, "fecColumns", ts.fec_columns);
  add_number(output, "fecRows", ts.fec_rows);

  const RtmpSettings& rtmp = settings.rtmp;
  cJSON* rtmp_fields = cJSON_AddObjectToObject(fields.get(), "rtmp");
  add_flag(rtmp_fields, "enabled", rtmp.enabled);
  add_text(rtmp_fields, "flashVer", rtmp.flash_ver);
  add_text(rtmp_fields, "swfUrl", rtmp.swf_url);
  add_text(rtmp_fields, "user", rtmp.user);
  add_text(rtmp_fields, "passwd", rtmp.passwd);

  const HlsSettings& hls = settings.hls;
  cJSON* hls_fields = cJSON_AddObjectToObject(fields.get(), "hls");
  add_flag(hls_fields, "enabled", hls.enabled);
  add_flag(hls_fields, "masterEnabled", hls.master_enabled);
  add_number(hls_fields, "segmentFormat", hls.segment_format);
  add_number(hls_fields, "segmentLength", hls.segment_length);
  add_number(hls_fields, "playlistSize", hls.playlist_size);
  add_number(hls_fields, "indexStart", hls.index_start);
  add_text(hls_fields, "baseUrl", hls.base_url);
  add_text(hls_fields, "keyInfoFile", hls.key_info_file);
  add_text(hls_fields, "masterName", hls.master_name);

  const SrtSettings& srt = settings.srt;
  cJSON* srt_fields = cJSON_AddObjectToObject(fields.get(), "srt");
  add_flag(srt_fields, "enabled", srt.enabled);
  add_text(srt_fields, "side", side_name(srt.side));
  add_number(srt_fields, "mode", srt.mode);
  add_text(srt_fields, "remote1", srt.remote1);
  add_text(srt_fields, "local1", srt.local1);
  add_text(srt_fields, "remote2", srt.remote2);
  add_text(srt_fields, "local2", srt.local2);
  add_number(srt_fields, "bonding", srt.bonding);
  add_number(srt_fields, "minstableTimeout", srt.minstable_timeout);

  cJSON* custom = cJSON_AddObjectToObject(fields.get(), "custom");
  add_text(custom, "sourceParams", settings.custom.source_params);
  add_text(custom, "targetParams", settings.custom.target_params);
  return fields;
}

std::string read_advanced_format_fields(const cJSON* fields, AdvancedFormatSettings& settings) {
  std::string problem;
  FieldReader all(fields, "fields", &problem);

  FieldReader input = all.object("mpegtsInput");
  std::vector<MpegTsInputSettings::Row> streams;
  if (input.rows("sourceStreams", [&](FieldReader& row) {
        MpegTsInputSettings::Row& added = streams.emplace_back();
        row.text("program", added.program);
        row.text("pid", added.pid);
      })) {
    settings.mpegts_in.SourceStreamList = std::move(streams);
  }

  MpegTsOutputSettings& ts = settings.mpegts_out;
  FieldReader output = all.object("mpegtsOutput");
  std::vector<MpegTsOutputSettings::Row> programs;
  if (output.rows("programs", [&](FieldReader& row) {
        MpegTsOutputSettings::Row& added = programs.emplace_back();
        row.text("program", added.program);
        row.text("name", added.name);
        row.text("source", added.source);
      })) {
    ts.ProgramList = std::move(programs);
  }
  output.text("pmtPid", ts.pmt_pid);
  output.text("provider", ts.provider);
  output.text("videoPid", ts.video_pid);
  output.text("audioPid", ts.audio_pid);
  output.text("subtitlePid", ts.subtitle_pid);
  output.flag("fec", ts.fec_on);
  output.number("fecColumns", ts.fec_columns, kInt32Min, kInt32Max);
  output.number("fecRows", ts.fec_rows, kInt32Min, kInt32Max);

  FieldReader rtmp = all.object("rtmp");
  rtmp.text("flashVer", settings.rtmp.flash_ver);
  rtmp.text("swfUrl", settings.rtmp.swf_url);
  rtmp.text("user", settings.rtmp.user);
  rtmp.text("passwd", settings.rtmp.passwd);

  HlsSettings& hls = settings.hls;
  FieldReader hls_fields = all.object("hls");
  hls_fields.number("segmentFormat", hls.segment_format, 0, 1);
  hls_fields.number("segmentLength", hls.segment_length, 0, kUint32Max);
  hls_fields.number("playlistSize", hls.playlist_size, 0, kUint32Max);
  hls_fields.number("indexStart", hls.index_start, kInt32Min, kInt32Max);
  hls_fields.text("baseUrl", hls.base_url);
  hls_fields.text("keyInfoFile", hls.key_info_file);
  hls_fields.text("masterName", hls.master_name);

  SrtSettings& srt = settings.srt;
  FieldReader srt_fields = all.object("srt");
  srt_fields.number("mode", srt.mode, 0, 1);
  srt_fields.text("remote1", srt.remote1);
  srt_fields.text("local1", srt.local1);
  srt_fields.text("remote2", srt.remote2);
  srt_fields.text("local2", srt.local2);
  srt_fields.number("bonding", srt.bonding, 0, 1);
  srt_fields.number("minstableTimeout", srt.minstable_timeout, 0, kUint32Max);

  FieldReader custom = all.object("custom");
  custom.text("sourceParams", settings.custom.source_params);
  custom.text("targetParams", settings.custom.target_params);
  return problem;
}

// ---- the advanced video settings ----

JsonPtr advanced_video_fields(VideoSettingsTabs& tabs) {
  JsonPtr fields(cJSON_CreateObject());

  const VideoEncoderSettings& encoder = tabs.host.encoder();
  cJSON* encoder_fields = cJSON_AddObjectToObject(fields.get(), "encoder");
  add_flag(encoder_fields, "enabled", encoder.controls_enabled);
  add_flag(encoder_fields, "profileEnabled", encoder.profile_list_enabled);
  add_flag(encoder_fields, "levelEnabled", encoder.level_enabled);
  add_flag(encoder_fields, "threadsEnabled", encoder.threads_enabled);
  add_text(encoder_fields, "profile", encoder.profile);
  add_text(encoder_fields, "level", encoder.level);
  add_text(encoder_fields, "threads", encoder.threads);
  add_number(encoder_fields, "preset", encoder.preset_position);
  add_number(encoder_fields, "presetMinimum", encoder.slider_minimum);
  add_number(encoder_fields, "presetMaximum", encoder.slider_maximum);

  const CropPadFilter& crop = tabs.crop_pad.record;
  cJSON* crop_fields = cJSON_AddObjectToObject(fields.get(), "cropPad");
  add_flag(crop_fields, "enabled", crop.enabled);
  add_number(crop_fields, "mode", crop.mode);
  add_number(crop_fields, "left", crop.left);
  add_number(crop_fields, "top", crop.top);
  add_number(crop_fields, "right", crop.right);
  add_number(crop_fields, "bottom", crop.bottom);

  const BlurSharpenFilter& blur = tabs.blur_sharpen.record;
  cJSON* blur_fields = cJSON_AddObjectToObject(fields.get(), "blurSharpen");
  add_flag(blur_fields, "enabled", blur.enabled);
  add_number(blur_fields, "mode", blur.mode);
  add_number(blur_fields, "radius", blur.radius);
  add_number(blur_fields, "strength", blur.strength);

  const OverlayFilter& overlay = tabs.overlay.record;
  cJSON* overlay_fields = cJSON_AddObjectToObject(fields.get(), "overlay");
  add_flag(overlay_fields, "enabled", overlay.enabled);
  add_text(overlay_fields, "file", overlay.file);
  add_text(overlay_fields, "text", overlay.text);
  add_number(overlay_fields, "fontSize", overlay.font_size);
  add_text(overlay_fields, "color", color_text(overlay.red, overlay.green, overlay.blue));
  add_flag(overlay_fields, "rightAligned", overlay.right_aligned);
  add_number(overlay_fields, "horizontalOffset", overlay.horizontal_offset);
  add_flag(overlay_fields, "bottomAligned", overlay.bottom_aligned);
  add_number(overlay_fields, "verticalOffset", overlay.vertical_offset);

  const VideoMiscSettings& misc = tabs.host.misc();
  cJSON* misc_fields = cJSON_AddObjectToObject(fields.get(), "misc");
  add_flag(misc_fields, "aspectOverride", misc.aspect_override);
  add_number(misc_fields, "scanType", misc.scan_type);
  add_number(misc_fields, "gpuNumber", misc.gpu_number);
  add_flag(misc_fields, "gpuNumberEnabled", misc.gpu_number_enabled);
  add_number(misc_fields, "decoderChoice", misc.decoder_choice);
  return fields;
}

JsonPtr advanced_video_choices(VideoSettingsTabs& tabs) {
  JsonPtr choices(cJSON_CreateObject());
  VideoEncoderSettings& encoder = tabs.host.encoder();
  std::vector<std::string_view> profiles{kDefaultProfile};
  profiles.insert(profiles.end(), encoder.profile_choices.begin(), encoder.profile_choices.end());
  add_texts(choices.get(), "profiles", profiles);
  add_texts(choices.get(), "levels", level_choices());
  add_texts(choices.get(), "threads", thread_choices());
  // What the slider shows at each of its positions, from its minimum: the preset's name, or ""
  // where the encoder's presets are numbers.
  VideoEncoderSettings probe = encoder;
  std::vector<std::string> names;
  for (std::int32_t position = encoder.slider_minimum; position <= encoder.slider_maximum;
       ++position) {
    probe.preset_position = position;
    names.emplace_back(probe.preset_name());
  }
  add_texts(choices.get(), "presetNames", names);
  add_texts(choices.get(), "scanTypes", scan_type_texts());
  cJSON* decoders = cJSON_AddArrayToObject(choices.get(), "decoders");
  for (const DecoderChoice& row : decoder_choice_table()) {
    cJSON* entry = cJSON_CreateObject();
    add_number(entry, "choice", row.index);
    add_text(entry, "text", row.list_text);
    cJSON_AddItemToArray(decoders, entry);
  }
  return choices;
}

std::string read_advanced_video_fields(const cJSON* fields, VideoSettingsTabs& tabs) {
  std::string problem;
  FieldReader all(fields, "fields", &problem);

  VideoEncoderSettings& encoder = tabs.host.encoder();
  FieldReader encoder_fields = all.object("encoder");
  encoder_fields.text("profile", encoder.profile);
  encoder_fields.text("level", encoder.level);
  encoder_fields.text("threads", encoder.threads);
  encoder_fields.number("preset", encoder.preset_position, kInt32Min, kInt32Max);

  CropPadFilter& crop = tabs.crop_pad.record;
  FieldReader crop_fields = all.object("cropPad");
  crop_fields.flag("enabled", crop.enabled);
  crop_fields.number("mode", crop.mode, CropPadFilter::kCrop, CropPadFilter::kPad);
  crop_fields.number("left", crop.left, kInt32Min, kInt32Max);
  crop_fields.number("top", crop.top, kInt32Min, kInt32Max);
  crop_fields.number("right", crop.right, kInt32Min, kInt32Max);
  crop_fields.number("bottom", crop.bottom, kInt32Min, kInt32Max);

  BlurSharpenFilter& blur = tabs.blur_sharpen.record;
  FieldReader blur_fields = all.object("blurSharpen");
  blur_fields.flag("enabled", blur.enabled);
  blur_fields.number("mode", blur.mode, BlurSharpenFilter::kBlur, BlurSharpenFilter::kSharpen);
  // Typed numbers land on the sliders as the window's boxes put them there.
  if (const auto radius = blur_fields.whole_number("radius", kInt32Min, kInt32Max))
    set_blur_radius(blur, static_cast<std::int32_t>(*radius));
  if (const auto strength = blur_fields.whole_number("strength", kInt32Min, kInt32Max))
    set_blur_strength(blur, static_cast<std::int32_t>(*strength));

  OverlayFilter& overlay = tabs.overlay.record;
  FieldReader overlay_fields = all.object("overlay");
  overlay_fields.flag("enabled", overlay.enabled);
  overlay_fields.text("file", overlay.file);
  overlay_fields.text("text", overlay.text);
  overlay_fields.number("fontSize", overlay.font_size, kOverlayFontSizeMin, kOverlayFontSizeMax);
  overlay_fields.color("color", overlay.red, overlay.green, overlay.blue);
  overlay_fields.flag("rightAligned", overlay.right_aligned);
  overlay_fields.number("horizontalOffset", overlay.horizontal_offset, kInt32Min, kInt32Max);
  overlay_fields.flag("bottomAligned", overlay.bottom_aligned);
  overlay_fields.number("verticalOffset", overlay.vertical_offset, kInt32Min, kInt32Max);

  VideoMiscSettings& misc = tabs.host.misc();
  FieldReader misc_fields = all.object("misc");
  misc_fields.flag("aspectOverride", misc.aspect_override);
  misc_fields.number("scanType", misc.scan_type, 0,
                     static_cast<std::int64_t>(scan_type_texts().size()) - 1);
  misc_fields.number("gpuNumber", misc.gpu_number, 0, kMaxGpuNumber);
  misc_fields.number("decoderChoice", misc.decoder_choice, 0,
                     static_cast<std::int64_t>(decoder_choice_table().size()) - 1);
  return problem;
}

// ---- the request ----

AdvancedTranslation translate_advanced_settings(AdvancedPanel panel, AdvancedStep step,
                                                std::string_view text) {
  TranslationBody body;
  if (std::string problem = read_body(text, step, body); !problem.empty())
    return refused(std::move(problem));
  return panel == AdvancedPanel::format ? translate_format(step, body)
                                        : translate_video(step, body);
}

}  // namespace vx
