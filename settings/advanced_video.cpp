#include "settings/advanced_video.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/document.h"
#include "settings/json_fields.h"

namespace vx {
namespace {

constexpr std::string_view kX264Names[] = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                           "medium",    "slow",      "slower",   "veryslow"};
constexpr std::string_view kNvencNames[] = {"fast",   "llhp", "hp",   "default", "bd",
                                            "medium", "hq",   "llhq", "ll"};
constexpr std::string_view kAmfNames[] = {"speed", "balanced", "quality"};

using PV = PresetValue;
const PresetRange kPresetRanges[] = {
    {"h264", 0, 8, 3, PV::name, kX264Names, 0, "-preset:v ", ""},
    {"nv264", 0, 8, 3, PV::name, kNvencNames, 0, "-preset:v ", ""},
    {"qsv264", 2, 8, 5, PV::name, kX264Names, 0, "-preset:v ", ""},
    {"amf264", 0, 2, 0, PV::name, kAmfNames, 0, "-quality:v ", ""},
    {"omx264", 1, 15, 9, PV::position, {}, 0, "-omx_param 'perf_level=", "'"},
    {"h265", 0, 8, 3, PV::name, kX264Names, 0, "-preset:v ", ""},
    {"nv265", 0, 8, 3, PV::name, kNvencNames, 0, "-preset:v ", ""},
    {"qsv265", 4, 6, 5, PV::name, kX264Names, 0, "-preset:v ", ""},
    {"amf265", 0, 2, 0, PV::name, kAmfNames, 0, "-quality:v ", ""},
    {"omx265", 1, 30, 15, PV::none, {}, 0, "", ""},
    {"vp8", 0, 16, 13, PV::reversed, {}, 16, "-cpu-used ", ""},
    {"vp9", 0, 8, 5, PV::reversed, {}, 8, "-cpu-used ", ""},
    {"av1", 0, 13, 0, PV::reversed, {}, 13, "-preset:v ", ""},
};

constexpr std::string_view kH264Profiles[] = {"baseline", "main",    "high",
                                              "high10",   "high422", "high444"};
constexpr std::string_view kNv264Profiles[] = {"baseline", "main", "high", "high444p"};
constexpr std::string_view kQsv264Profiles[] = {"baseline", "main", "high"};
constexpr std::string_view kAmf264Profiles[] = {"constrained_baseline", "main", "constrained_high",
                                                "high"};
constexpr std::string_view kOmx264Profiles[] = {"baseline", "main",    "high",   "extended",
                                                "high10",   "high422", "high444"};
constexpr std::string_view kH265Profiles[] = {"main",       "main10", "main444-8",  "main422-10",
                                              "main444-10", "main12", "main422-12", "main444-12"};
constexpr std::string_view kNv265Profiles[] = {"main", "main10"};
constexpr std::string_view kQsv265Profiles[] = {"main", "main10", "mainsp"};
constexpr std::string_view kAmf265Profiles[] = {"main"};
constexpr std::string_view kOmx265Profiles[] = {"main", "main10", "main422-10"};

const ProfileList kProfileLists[] = {
    {"h264", kH264Profiles},     {"nv264", kNv264Profiles},   {"qsv264", kQsv264Profiles},
    {"amf264", kAmf264Profiles}, {"omx264", kOmx264Profiles}, {"h265", kH265Profiles},
    {"nv265", kNv265Profiles},   {"qsv265", kQsv265Profiles}, {"amf265", kAmf265Profiles},
    {"omx265", kOmx265Profiles},
};

constexpr PixelFormatRule kPixelFormatRules[] = {
    {"444-12", "yuv444p12"}, {"444-10", "yuv444p10"}, {"444", "yuv444p"},
    {"422-12", "yuv422p12"}, {"422-10", "yuv422p10"}, {"422", "yuv422p"},
    {"high10", "yuv420p10"}, {"main10", "yuv420p10"}, {"main12", "yuv420p12"},
    {"", "yuv420p"},
};

constexpr std::string_view kLevelChoices[] = {"default", "1",   "1.1", "1.2", "1.3", "2",
                                              "2.1",     "2.2", "3",   "3.1", "3.2", "4",
                                              "4.1",     "4.2", "5",   "5.1"};
constexpr std::string_view kThreadChoices[] = {"Auto", "1", "2", "4", "8"};

// Which codecs take which option at all.
constexpr std::string_view kLevelCodecs[] = {"h264",   "h265",   "nv264",  "nv265",
                                             "qsv264", "qsv265", "amf264", "amf265",
                                             "omx264", "omx265", "vp9"};
constexpr std::string_view kThreadCodecs[] = {"h264", "h265", "vp8", "vp9", "av1"};
constexpr std::string_view kPixelFormatCodecs[] = {"h264", "h265"};

// Option keys searched in stored entries; the value follows the key.
constexpr std::string_view kProfileKeys[] = {"-profile ", "-vprofile ", "-profile:v "};
constexpr std::string_view kLevelKeys[] = {"-level ", "-level:v "};
constexpr std::string_view kThreadKeys[] = {"-threads ", "-threads:v "};
constexpr std::string_view kPresetKeys[] = {"-preset ", "-preset:v ", "-quality:v ", "-cpu-used "};
constexpr std::string_view kPerfLevelKey = "perf_level=";
constexpr std::string_view kAspectKeys[] = {"-aspect ", "-aspect:v "};
constexpr std::string_view kGpuKeys[] = {"-gpu ", "-gpu:v "};

const DecoderChoice kDecoderChoices[] = {
    {0, "Disabled", "none", DecoderFamily::none},
    {1, "H.264 (NVDEC/CUVID)", "-c:v h264_cuvid", DecoderFamily::cuda},
    {2, "H.264 (Quick Sync)", "-c:v h264_qsv", DecoderFamily::qsv},
    {3, "H.264 (NETINT Quadra)", "-c:v h264_ni_quadra_dec", DecoderFamily::netint},
    {4, "HEVC (NVDEC/CUVID)", "-c:v hevc_cuvid", DecoderFamily::cuda},
    {5, "HEVC (Quick Sync)", "-c:v hevc_qsv", DecoderFamily::qsv},
    {6, "HEVC (NETINT Quadra)", "-c:v h265_ni_quadra_dec", DecoderFamily::netint},
    {7, "MPEG2 (NVDEC/CUVID)", "-c:v mpeg2_cuvid", DecoderFamily::cuda},
};

constexpr std::string_view kScanTypeTexts[] = {
    "Keep Original", "Interlaced => Progressive (Deinterlace)",
    "Progressive => Interlaced (Top Bottom)", "Progressive => Interlaced (Bottom Top)"};

constexpr std::string_view kCudaDecoding = "-hwaccel cuda -hwaccel_output_format cuda";
constexpr std::string_view kQsvDecoding = "-hwaccel qsv -hwaccel_output_format qsv";

CodecId codec_of(const cJSON* video) {
  return codec_id_from_name(config_string(video, "codec"));
}

bool codec_in(std::span<const std::string_view> names, CodecId codec) {
  return std::any_of(names.begin(), names.end(),
                     [&](std::string_view name) { return codec_id_from_name(name) == codec; });
}

bool is_space(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The whitespace-free token after the first of the keys the entry contains (leading blanks
// skipped); nothing when no key occurs or nothing follows it.
std::optional<std::string> token_after(std::string_view entry,
                                       std::span<const std::string_view> keys) {
  for (std::string_view key : keys) {
    std::string word = word_after(entry, key);
    if (!word.empty()) return word;
  }
  return std::nullopt;
}

// A leading integer in C syntax with automatic base ("0x1f", "017", "-3"), saturated to 32 bits;
// nothing when the text does not start with one.
std::optional<std::int32_t> c_integer(std::string_view text) {
  const std::string copy(text);  // strtol needs the terminating zero
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(copy.c_str(), &end, 0);
  if (end == copy.c_str()) return std::nullopt;
  return static_cast<std::int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

std::optional<std::int32_t> number_after(std::string_view entry,
                                         std::span<const std::string_view> keys) {
  for (std::string_view key : keys) {
    const std::size_t at = entry.find(key);
    if (at == std::string_view::npos) continue;
    if (auto number = c_integer(entry.substr(at + key.size()))) return number;
  }
  return std::nullopt;
}

bool contains_any(std::string_view entry, std::span<const std::string_view> keys) {
  return std::any_of(keys.begin(), keys.end(), [&](std::string_view key) {
    return entry.find(key) != std::string_view::npos;
  });
}

// Writers over option arrays; anything that is not an array is left alone, so a missing or
// damaged array loses nothing and gains nothing.
void clear_array(cJSON* array) {
  if (!cJSON_IsArray(array)) return;
  while (array->child != nullptr)
    cJSON_DeleteItemFromArray(array, 0);
}

void append(cJSON* array, std::string_view text) {
  if (!cJSON_IsArray(array)) return;
  cJSON_AddItemToArray(array, cJSON_CreateString(std::string(text).c_str()));
}

void prepend(cJSON* array, std::string_view text) {
  if (!cJSON_IsArray(array)) return;
  cJSON* item = cJSON_CreateString(std::string(text).c_str());
  if (array->child == nullptr) {
    cJSON_AddItemToArray(array, item);
  } else {
    cJSON_InsertItemInArray(array, 0, item);
  }
}

cJSON* array_member(cJSON* object, const char* key) {
  cJSON* item = cJSON_IsObject(object) ? cJSON_GetObjectItemCaseSensitive(object, key) : nullptr;
  return cJSON_IsArray(item) ? item : nullptr;
}

cJSON* object_child(cJSON* object, const char* key) {
  cJSON* item = cJSON_IsObject(object) ? cJSON_GetObjectItemCaseSensitive(object, key) : nullptr;
  return cJSON_IsObject(item) ? item : nullptr;
}

cJSON* array_item(cJSON* array, std::int32_t index) {
  if (!cJSON_IsArray(array) || index < 0 || index >= cJSON_GetArraySize(array)) return nullptr;
  return cJSON_GetArrayItem(array, index);
}

// The name of the row for position p; empty when the row writes no names. A position from
// elsewhere (a perf_level number, another codec's range) never indexes: it takes the nearest.
std::string_view name_at(const PresetRange& row, std::int32_t p) {
  if (row.value != PresetValue::name || row.names.empty()) return {};
  const auto top = std::min<std::int32_t>(row.maximum, std::ssize(row.names) - 1);
  const std::int32_t index = std::clamp(p, std::min(row.minimum, top), top);
  return row.names[static_cast<std::size_t>(index)];
}

// The preset text of the row for position p, or nothing.
std::optional<std::string> preset_text(const PresetRange& row, std::int32_t p) {
  switch (row.value) {
    case PresetValue::none:
      return std::nullopt;
    case PresetValue::name: {
      const std::string_view name = name_at(row, p);
      if (name.empty()) return std::nullopt;
      return std::string(row.prefix) + std::string(name);
    }
    case PresetValue::position:
      if (p == 0) return std::nullopt;
      return std::string(row.prefix) + std::to_string(p) + std::string(row.suffix);
    case PresetValue::reversed:
      return std::string(row.prefix) +
             std::to_string(static_cast<std::int64_t>(row.reverse_base) - p) +
             std::string(row.suffix);
  }
  return std::nullopt;
}

}  // namespace

std::span<const std::string_view> x264_preset_names() {
  return kX264Names;
}
std::span<const std::string_view> nvenc_preset_names() {
  return kNvencNames;
}
std::span<const std::string_view> amf_preset_names() {
  return kAmfNames;
}
std::span<const PresetRange> preset_range_table() {
  return kPresetRanges;
}

const PresetRange* preset_range(CodecId codec) {
  for (const PresetRange& row : kPresetRanges) {
    if (codec_id_from_name(row.codec) == codec) return &row;
  }
  return nullptr;
}

std::span<const ProfileList> profile_list_table() {
  return kProfileLists;
}
std::span<const PixelFormatRule> pixel_format_rules() {
  return kPixelFormatRules;
}

std::string_view pixel_format_for_profile(std::string_view profile) {
  for (const PixelFormatRule& rule : kPixelFormatRules) {
    if (profile.find(rule.profile_part) != std::string_view::npos) return rule.pixel_format;
  }
  return kPixelFormatRules[std::size(kPixelFormatRules) - 1].pixel_format;
}

std::span<const std::string_view> level_choices() {
  return kLevelChoices;
}
std::span<const std::string_view> thread_choices() {
  return kThreadChoices;
}

std::int32_t threads_to_write(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && is_space(text[at]))
    ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  std::int64_t n = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    n = std::min<std::int64_t>(n * 10 + (text[at] - '0'), 1'000'000);
  }
  if (negative) return 0;
  return static_cast<std::int32_t>(std::min<std::int64_t>(n, 8));
}

void VideoEncoderSettings::load(cJSON* video_object) {
  reset();
  video = video_object;
  const CodecId codec = codec_of(video_object);
  const PresetRange* range = preset_range(codec);
  controls_enabled = range != nullptr;

  for (const ProfileList& row : kProfileLists) {
    if (codec_id_from_name(row.codec) == codec) profile_choices = row.profiles;
  }
  profile_list_enabled = controls_enabled && !profile_choices.empty();
  level_enabled = controls_enabled && codec_in(kLevelCodecs, codec);
  threads_enabled = controls_enabled && codec_in(kThreadCodecs, codec);

  const std::vector<std::string> options = string_array(video_object, "options");
  for (const std::string& entry : options) {
    if (auto token = token_after(entry, kProfileKeys)) profile = *token;
  }
  if (codec_in(kLevelCodecs, codec)) {
    for (const std::string& entry : options) {
      if (auto token = token_after(entry, kLevelKeys)) level = *token;
    }
  }
  if (codec_in(kThreadCodecs, codec)) {
    for (const std::string& entry : options) {
      if (auto n = number_after(entry, kThreadKeys)) threads = std::to_string(*n);
    }
  }

  if (range == nullptr) return;
  slider_minimum = range->minimum;
  slider_maximum = range->maximum;
  preset_position = range->default_position;

  // The first entry naming a preset decides; perf_level numbers are positions as they stand.
  std::optional<std::string> token;
  for (const std::string& entry : options) {
    if ((token = token_after(entry, kPresetKeys))) break;
    const std::size_t at = entry.find(kPerfLevelKey);
    if (at == std::string::npos) continue;
    if (auto n = c_integer(std::string_view(entry).substr(at + kPerfLevelKey.size()))) {
      preset_position = *n;
      break;
    }
  }
  if (!token) return;
  if (range->value == PresetValue::name) {
    for (std::size_t i = 0; i < range->names.size(); ++i) {
      if (equal_ignoring_case(range->names[i], *token)) {
        preset_position = static_cast<std::int32_t>(i);
      }
    }
  } else if (range->value == PresetValue::reversed) {
    if (auto n = c_integer(*token)) {
      preset_position = static_cast<std::int32_t>(
          std::clamp<std::int64_t>(std::int64_t{range->reverse_base} - *n, INT32_MIN, INT32_MAX));
    }
  }
}

void VideoEncoderSettings::save() const {
  if (video == nullptr) return;
  const CodecId codec = codec_of(video);
  cJSON* options = array_member(video, "options");
  clear_array(options);
  if (!profile.empty() && !equal_ignoring_case(profile, "default")) {
    append(options, "-profile:v " + profile);
  }
  if (!level.empty() && !equal_ignoring_case(level, "default")) {
    append(options, "-level:v " + level);
  }
  if (codec_in(kPixelFormatCodecs, codec)) {
    append(options, "-pix_fmt:v " + std::string(pixel_format_for_profile(profile)));
  }
  if (const PresetRange* range = preset_range(codec)) {
    if (auto text = preset_text(*range, preset_position)) append(options, *text);
  }
  if (codec_in(kThreadCodecs, codec)) {
    const std::int32_t n = threads_to_write(threads);
    if (n > 0) append(options, "-threads:v " + std::to_string(n));
  }
}

std::string_view VideoEncoderSettings::preset_name() const {
  const PresetRange* range = preset_range(codec_of(video));
  return range == nullptr ? std::string_view{} : name_at(*range, preset_position);
}

std::span<const DecoderChoice> decoder_choice_table() {
  return kDecoderChoices;
}

const DecoderChoice& decoder_choice_row(std::int32_t index) {
  const auto last = static_cast<std::int32_t>(std::size(kDecoderChoices)) - 1;
  return kDecoderChoices[static_cast<std::size_t>(std::clamp(index, 0, last))];
}

std::span<const std::string_view> scan_type_texts() {
  return kScanTypeTexts;
}

void VideoMiscSettings::load(cJSON* source_options_array, cJSON* video_object,
                             cJSON* filters_array) {
  reset();
  source_options = source_options_array;
  video = video_object;
  filters = filters_array;

  const auto last_scan = static_cast<std::int32_t>(std::size(kScanTypeTexts)) - 1;
  scan_type = std::clamp(config_int(video_object, "scanType"), 0, last_scan);

  const bool nvenc = codec_is_nvenc(codec_of(video_object));
  for (const std::string& entry : string_array(video_object, "options")) {
    if (contains_any(entry, kAspectKeys)) aspect_override = true;
    if (!nvenc) continue;
    if (auto n = number_after(entry, kGpuKeys)) {
      gpu_number = static_cast<std::uint32_t>(std::clamp<std::int64_t>(*n, 0, kMaxGpuNumber));
    }
  }

  for (const std::string& entry : string_array(source_options_array)) {
    for (const DecoderChoice& row : kDecoderChoices) {
      if (entry.find(row.option_text) != std::string::npos) decoder_choice = row.index;
    }
  }
  gpu_number_enabled = nvenc;
}

std::optional<DialogWarning> VideoMiscSettings::save() {
  if (!cJSON_IsArray(source_options) || !cJSON_IsObject(video) || !cJSON_IsArray(filters)) {
    return std::nullopt;
  }
  std::optional<DialogWarning> warning;
  const std::int32_t w = config_int(video, "width");
  const std::int32_t h = config_int(video, "height");
  const bool sized = w != 0 && h != 0;
  cJSON* video_options = array_member(video, "options");

  if (aspect_override) {
    if (sized) {
      append(video_options, "-aspect:v " + std::to_string(w) + ":" + std::to_string(h));
    } else {
      warning = kAspectWarning;
    }
  }
  config_set_int(video, "scanType", scan_type);
  const std::uint32_t gpu = std::min(gpu_number, kMaxGpuNumber);
  if (gpu != 0) append(video_options, "-gpu:v " + std::to_string(gpu));

  clear_array(source_options);
  // A software filter from the filter tabs needs the frames in system memory.
  if (cJSON_GetArraySize(filters) > 0) decoder_choice = 0;
  const DecoderChoice& choice = decoder_choice_row(decoder_choice);
  const bool deinterlace = scan_type == kScanTypeDeinterlace;
  const std::string size_text = std::to_string(w) + "x" + std::to_string(h);

  switch (choice.family) {
    case DecoderFamily::cuda:
      append(source_options, kCudaDecoding);
      if (deinterlace) {
        append(source_options, "-deint adaptive");
        append(source_options, "-surfaces 9");
      }
      if (sized) append(source_options, "-resize " + size_text);
      if (gpu != 0) {
        append(source_options, "-hwaccel_device " + std::to_string(gpu));
        append(source_options, "-gpu " + std::to_string(gpu));
      }
      break;
    case DecoderFamily::qsv: {
      append(source_options, kQsvDecoding);
      std::string filter = deinterlace ? "vpp_qsv=deinterlace=2" : "";
      if (sized) {
        const std::string scale = "w=" + std::to_string(w) + ":h=" + std::to_string(h);
        filter = filter.empty() ? "vpp_qsv=" + scale : filter + ":" + scale;
      }
      if (!filter.empty()) prepend(filters, filter);
      break;
    }
    case DecoderFamily::none:
    case DecoderFamily::netint:
      if (deinterlace) prepend(filters, "yadif");
      break;
  }

  if (choice.index != 0) {
    append(source_options, choice.option_text);
    // Hardware encoders take the decoder's frames as they are; the others need them downloaded.
    const CodecFamily family = codec_family(codec_of(video));
    if (family != CodecFamily::nvenc && family != CodecFamily::qsv && family != CodecFamily::amf) {
      prepend(filters, "format=nv12");
      prepend(filters, "hwdownload");
    }
  }
  return warning;
}

void AdvancedVideoSettings::load_channel(cJSON* channel, std::int32_t target_index) {
  channel_ = channel;
  target_index_ = target_index;
  last_warning_.reset();
  encoder_.reset();
  misc_.reset();
  for (VideoFilterTab* tab : {crop_pad_, blur_sharpen_, overlay_}) {
    if (tab != nullptr) tab->reset();
  }
  attach_tabs();
  encoder_.load(encoder_.video);

  for (const std::string& filter : string_array(misc_.filters)) {
    for (VideoFilterTab* tab : {crop_pad_, blur_sharpen_, overlay_}) {
      if (tab != nullptr) tab->parse_filter(filter);
    }
  }
  misc_.load(misc_.source_options, misc_.video, misc_.filters);
}

// Finds the objects again from the channel, so that a save after the editor replaced a part of
// the channel writes into the current tree rather than into a deleted one.
void AdvancedVideoSettings::attach_tabs() {
  cJSON* input = object_child(channel_, "input");
  cJSON* output = object_child(channel_, "output");
  cJSON* target = array_item(array_member(output, "targets"), target_index_);
  cJSON* video = object_child(target, "video");
  cJSON* source = array_item(array_member(input, "sources"), 0);
  encoder_.video = video;
  misc_.video = video;
  misc_.source_options = array_member(object_child(source, "video"), "options");
  misc_.filters = array_member(input, "filters");
}

bool AdvancedVideoSettings::save_channel() {
  if (channel_ == nullptr) return true;
  attach_tabs();
  encoder_.save();

  cJSON* filters = misc_.filters;
  clear_array(filters);
  for (VideoFilterTab* tab : {crop_pad_, blur_sharpen_}) {
    if (tab == nullptr) continue;
    if (auto filter = tab->build_filter()) append(filters, cut_to_bytes(*filter, kMaxFilterBytes));
  }
  // The overlay filter chain carries its own picture work, so it stands alone.
  if (overlay_ != nullptr) {
    if (auto filter = overlay_->build_filter()) {
      clear_array(filters);
      append(filters, cut_to_bytes(*filter, kMaxFilterBytes));
    }
  }
  last_warning_ = misc_.save();
  return true;
}

}  // namespace vx
