#include "settings/editor_values.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "config/document.h"
#include "settings/audio_settings.h"
#include "settings/json_fields.h"
#include "settings/target_address.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

template <std::size_t N>
int entry_writing(const std::array<CodecChoice, N>& table, std::string_view codec) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i].codec == codec) return static_cast<int>(i);
  }
  return -1;
}

const cJSON* target_at(const cJSON* channel, int index) {
  return cJSON_GetArrayItem(config_array(config_object(channel, "output"), "targets"), index);
}

int target_count(const cJSON* channel) {
  return cJSON_GetArraySize(config_array(config_object(channel, "output"), "targets"));
}

// The "targets" array of the channel's output, made when missing or of another type.
cJSON* targets_for_writing(cJSON* channel) {
  cJSON* output = object_member(channel, "output");
  if (output == nullptr) return nullptr;
  cJSON* targets = config_array(output, "targets");
  if (!cJSON_IsArray(targets)) {
    cJSON_DeleteItemFromObjectCaseSensitive(output, "targets");
    targets = cJSON_AddArrayToObject(output, "targets");
  }
  return targets;
}

// Target `index`, appended when it is the first missing one; nullptr for any other missing one.
cJSON* target_for_writing(cJSON* targets, int index) {
  if (index < 0 || index >= kMaxChannelTargets) return nullptr;
  if (index == cJSON_GetArraySize(targets)) cJSON_AddItemToArray(targets, cJSON_CreateObject());
  cJSON* target = cJSON_GetArrayItem(targets, index);
  return cJSON_IsObject(target) ? target : nullptr;
}

// ----- numbers as the controls show them -----

std::string count_or(std::int32_t value, const char* zero_text) {
  return value > 0 ? std::to_string(value) : zero_text;
}

std::string frame_rate_text(double rate) {
  if (!(rate > 0)) return std::string(kFrameRateChoices[0]);
  return general_number_text(rate);
}

// The text read as a decimal number, as far as it is one; 0 for none or for a number that is
// not finite.
double frame_rate_from_text(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '+'))
    text.remove_prefix(1);
  double rate = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), rate);
  if (result.ec != std::errc() || !std::isfinite(rate)) return 0;
  return rate;
}

// ----- loading -----

void load_video(const cJSON* video, EditorValues& values) {
  values.video_enable = config_bool(video, "enable");
  values.video_encoding = video_encoding_choice_for(config_string(video, "codec"));
  const std::int32_t width = config_int(video, "width");
  const std::int32_t height = config_int(video, "height");
  values.frame_size = frame_size_choice_for(width, height);
  values.width = std::to_string(width);
  values.height = std::to_string(height);
  values.frame_rate = frame_rate_text(config_float(video, "frameRate"));
  values.key_frame_interval = std::to_string(config_int(video, "keyFrameInterval"));
  values.quality = count_or(config_int(video, "quality"), "Default");
  values.video_bitrate = count_or(config_int(video, "bitRate"), "Default");
}

void load_audio(const cJSON* audio, EditorValues& values) {
  values.audio_enable = config_bool(audio, "enable");
  values.audio_encoding = audio_encoding_choice_for(config_string(audio, "codec"));
  values.sample_rate = count_or(config_int(audio, "sampleRate"), "Original");
  values.audio_channels = audio_channel_choice_for(config_int(audio, "channels"));
  values.audio_bitrate = count_or(config_int(audio, "bitRate"), "Default");
}

// ----- saving -----

void save_video(const EditorValues& values, cJSON* channel, cJSON* target) {
  cJSON* video = object_member(target, "video");
  const std::string_view chosen = video_codec_of(values.video_encoding);
  const std::string_view codec = chosen.empty() ? kVideoCodecWhenNoneSelected : chosen;
  config_set_bool(video, "enable", values.video_enable);
  config_set_string(video, "codec", codec);
  config_set_int(video, "width", config_int_from_text(values.width));
  config_set_int(video, "height", config_int_from_text(values.height));
  config_set_number(video, "frameRate", frame_rate_from_text(values.frame_rate));
  config_set_int(video, "keyFrameInterval", config_int_from_text(values.key_frame_interval));
  config_set_int(video, "quality", config_int_from_text(values.quality));
  config_set_int(video, "bitRate", config_int_from_text(values.video_bitrate));
  if (codec == "copy") {
    set_string_array(video, "options", {});
    set_string_array(object_member(channel, "input"), "filters", {});
  }
}

void save_audio_and_mux(const EditorValues& values, cJSON* target) {
  cJSON* audio = object_member(target, "audio");
  config_set_bool(audio, "enable", values.audio_enable);
  config_set_string(audio, "codec",
                    audio_codec_to_write(values.audio_encoding, config_string(audio, "codec")));
  config_set_int(audio, "sampleRate", config_int_from_text(values.sample_rate));
  // A stored count the list does not offer stays as it is.
  if (is_choice(kAudioChannelChoices, values.audio_channels))
    config_set_int(audio, "channels", kAudioChannelChoices[values.audio_channels].channels);
  config_set_int(audio, "bitRate", config_int_from_text(values.audio_bitrate));
  cJSON* mux = object_member(target, "mux");
  config_set_int(mux, "bitRate", config_int_from_text(values.mux_bitrate));
  config_set_bool(mux, "cbr", values.cbr);
}

}  // namespace

std::optional<TargetFormatEntry> target_format_entry(int entry) {
  if (!is_choice(kTargetFormatChoices, entry)) return std::nullopt;
  return static_cast<TargetFormatEntry>(entry);
}

std::string_view video_codec_of(int entry) {
  return is_choice(kVideoEncodingChoices, entry) ? kVideoEncodingChoices[entry].codec
                                                 : std::string_view();
}

std::string_view audio_codec_of(int entry) {
  return is_choice(kAudioEncodingChoices, entry) ? kAudioEncodingChoices[entry].codec
                                                 : std::string_view();
}

int video_entry_writing(std::string_view codec) {
  return entry_writing(kVideoEncodingChoices, codec);
}

int audio_entry_writing(std::string_view codec) {
  return entry_writing(kAudioEncodingChoices, codec);
}

// "PCM" keeps a stored codec that loading shows as "PCM"; no entry writes AAC.
std::string audio_codec_to_write(int entry, std::string_view stored) {
  if (entry == kAudioEncodingPcm && audio_encoding_choice_for(stored) == kAudioEncodingPcm)
    return std::string(stored);
  const std::string_view chosen = audio_codec_of(entry);
  return std::string(chosen.empty() ? kAudioCodecWhenNoneSelected : chosen);
}

cJSON* channel_target(cJSON* channel, int index) {
  cJSON* target =
      cJSON_GetArrayItem(config_array(config_object(channel, "output"), "targets"), index);
  return cJSON_IsObject(target) ? target : nullptr;
}

void keep_first_target_only(cJSON* channel) {
  cJSON* targets = config_array(config_object(channel, "output"), "targets");
  while (cJSON_GetArraySize(targets) > 1)
    cJSON_DeleteItemFromArray(targets, cJSON_GetArraySize(targets) - 1);
}

bool target_format_keeps_one_target(int entry) {
  const std::optional<TargetFormatEntry> format = target_format_entry(entry);
  return format && !kTargetFormatChoices[static_cast<std::size_t>(*format)].multi_bitrate;
}

// ----- loading and saving -----

int shown_target_index(const cJSON* channel, int target) {
  return target >= 0 && target < target_count(channel) ? target : 0;
}

EditorValues editor_values_from_channel(const cJSON* channel, int target) {
  const cJSON* shown = target_at(channel, shown_target_index(channel, target));
  EditorValues values;
  values.target_format = target_format_choice_for(config_string(shown, "format"));
  values.target_url = config_string(shown, "url");
  const std::optional<TargetFormatEntry> format = target_format_entry(values.target_format);
  if (values.target_url.empty() && format) values.target_url = empty_target_url_shown(*format);
  load_video(config_object(shown, "video"), values);
  load_audio(config_object(shown, "audio"), values);
  const cJSON* mux = config_object(shown, "mux");
  values.mux_bitrate = std::to_string(config_int(mux, "bitRate"));
  values.cbr = config_bool(mux, "cbr");
  return values;
}

std::vector<std::string> other_target_stream_names(const cJSON* channel, int target) {
  const int shown = shown_target_index(channel, target);
  std::vector<std::string> names;
  for (int i = 0; i < target_count(channel); ++i) {
    if (i != shown)
      names.push_back(target_stream_name(config_string(target_at(channel, i), "url")));
  }
  return names;
}

void save_editor_values(const EditorValues& values, cJSON* channel, int target) {
  if (!cJSON_IsObject(channel)) return;
  cJSON* targets = targets_for_writing(channel);
  const std::optional<TargetFormatEntry> format = target_format_entry(values.target_format);
  const bool single_target = target_format_keeps_one_target(values.target_format);
  const int written = single_target ? 0 : target;
  if (targets == nullptr || written < 0 || written >= kMaxChannelTargets ||
      written > cJSON_GetArraySize(targets)) {
    return;
  }
  if (format) {
    const TargetFormatChoice& choice = kTargetFormatChoices[static_cast<std::size_t>(*format)];
    if (!choice.keeps_format_options)
      set_string_array(object_member(channel, "output"), "formatOptions", {});
    if (single_target) keep_first_target_only(channel);
    config_set_string(target_for_writing(targets, 0), "format", choice.format);
  }
  cJSON* shown = target_for_writing(targets, written);
  if (shown == nullptr) return;
  save_video(values, channel, shown);
  save_audio_and_mux(values, shown);
  config_set_string(shown, "url",
                    format ? normalised_target_url(*format, values.target_url)
                           : std::string(target_url_without_blanks(values.target_url)));
}

}  // namespace vx
