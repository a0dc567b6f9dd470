#include "window_logic/editor_panel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/store.h"
#include "settings/audio_settings.h"
#include "settings/json_fields.h"
#include "platform/host.h"
#include "vocabulary/codecs.h"
#include "vocabulary/product.h"

namespace vx {
namespace {

// ----- changes -----

constexpr int kStereo = 2;
static_assert(kAudioChannelChoices[kStereo].text == "Stereo");

// The working copy's object `key` of target `target`, made when missing; nullptr without such a
// target.
cJSON* target_member(cJSON* channel, int target, const char* key) {
  cJSON* shown = channel_target(channel, target);
  return shown != nullptr ? object_member(shown, key) : nullptr;
}

void reset_picture_settings(EditorValues& values) {
  values.width = "0";
  values.height = "0";
  values.frame_size = 0;
  values.frame_rate = kFrameRateChoices[0];
  values.quality = kQualityChoices[0];
  values.video_bitrate = kVideoBitrateChoices[0];
  values.cbr = false;
}

void reset_sound_settings(EditorValues& values) {
  values.sample_rate = kSampleRateChoices[0];
  values.audio_channels = 0;
  values.audio_bitrate = kAudioBitrateChoices[0];
}

// The values every new target format starts from.
void reset_for_new_format(EditorValues& values) {
  values.video_enable = true;
  values.video_encoding = video_entry_writing("h264");
  values.quality = kQualityChoices[0];
  values.mux_bitrate = "0";
  values.cbr = false;
  values.audio_enable = true;
  values.audio_encoding = audio_entry_writing("aac");
  values.sample_rate = kSampleRateChoices[0];
  values.audio_channels = kStereo;
}

}  // namespace

// ----- changes -----

EditorEnvironment editor_environment(const cJSON* global, int channel_number,
                                     std::string local_address, std::set<std::string> encoders) {
  EditorEnvironment environment;
  environment.channel_number = channel_number;
  environment.served = served_address_base(global, std::move(local_address));
  environment.plugin_core_path = config_string(global, "omxPath");
  environment.output_folder = new_output_folder();
  environment.encoders = std::move(encoders);
  return environment;
}

EditorEnvironment current_editor_environment(int channel_number, std::set<std::string> encoders) {
  std::string address = local_ipv4_address();
  const CoreLock lock = core_lock();
  return editor_environment(config_object(config_document(), "global"), channel_number,
                            std::move(address), std::move(encoders));
}

PanelChange change_target_format(const EditorValues& shown, int format,
                                 const EditorEnvironment& environment, cJSON* editing_channel) {
  PanelChange change{shown, std::nullopt, false};
  const std::optional<TargetFormatEntry> entry = target_format_entry(format);
  if (!entry) return change;
  EditorValues& values = change.values;
  values.target_format = format;
  reset_for_new_format(values);
  keep_first_target_only(editing_channel);
  change.targets_reset = true;
  values.target_url = target_format_default_url(*entry, environment.channel_number,
                                                environment.served, environment.output_folder);
  switch (*entry) {
    case TargetFormatEntry::rtmp: {
      PanelChange encoding =
          change_video_encoding(values, values.video_encoding, 0, environment, editing_channel);
      values = std::move(encoding.values);
      change.message = std::move(encoding.message);
      break;
    }
    case TargetFormatEntry::ndi:
      values.audio_encoding = kAudioEncodingPcm;
      config_set_string(target_member(editing_channel, 0, "audio"), "codec", "pcm16s");
      break;
    case TargetFormatEntry::httpmjpg:
      values.video_encoding = video_entry_writing("mjpeg");
      values.audio_enable = false;
      break;
    default:
      break;
  }
  return change;
}

PanelChange change_video_encoding(const EditorValues& shown, int encoding, int target,
                                  const EditorEnvironment& environment, cJSON* editing_channel) {
  PanelChange change{shown, std::nullopt, false};
  const std::string_view codec = video_codec_of(encoding);
  if (codec.empty()) return change;
  change.message = encoder_refusal(codec, kVideoEncodingChoices[encoding].text,
                                   environment.plugin_core_path, environment.encoders);
  if (change.message) return change;
  change.values.video_encoding = encoding;
  cJSON* video = target_member(editing_channel, target, "video");
  config_set_string(video, "codec", codec);
  set_string_array(video, "options", {});
  if (codec == "copy") reset_picture_settings(change.values);
  return change;
}

PanelChange change_audio_encoding(const EditorValues& shown, int encoding, int target,
                                  const EditorEnvironment& environment, cJSON* editing_channel) {
  PanelChange change{shown, std::nullopt, false};
  cJSON* audio = target_member(editing_channel, target, "audio");
  const std::string codec = audio_codec_to_write(encoding, config_string(audio, "codec"));
  const std::string_view text =
      is_choice(kAudioEncodingChoices, encoding) ? kAudioEncodingChoices[encoding].text : codec;
  change.message =
      encoder_refusal(codec, text, environment.plugin_core_path, environment.encoders);
  if (change.message) return change;
  change.values.audio_encoding = is_choice(kAudioEncodingChoices, encoding) ? encoding : -1;
  config_set_string(audio, "codec", codec);
  if (codec == "copy") reset_sound_settings(change.values);
  return change;
}

PanelChange change_frame_size(const EditorValues& shown, int frame_size, int target,
                              cJSON* editing_channel) {
  PanelChange change{shown, std::nullopt, false};
  if (!is_choice(kFrameSizeChoices, frame_size)) return change;
  EditorValues& values = change.values;
  values.frame_size = frame_size;
  if (frame_size != kFrameSizeOther) {
    values.width = std::to_string(kFrameSizeChoices[frame_size].width);
    values.height = std::to_string(kFrameSizeChoices[frame_size].height);
  }
  cJSON* video = target_member(editing_channel, target, "video");
  config_set_int(video, "width", config_int_from_text(values.width));
  config_set_int(video, "height", config_int_from_text(values.height));
  return change;
}

PanelChange change_cbr(const EditorValues& shown, bool on) {
  PanelChange change{shown, std::nullopt, false};
  change.message = cbr_refusal(on, shown.video_bitrate);
  change.values.cbr = on && !change.message;
  return change;
}

// ----- the panel -----

void EditorPanel::load(const cJSON* channel, int target) {
  target_ = shown_target_index(channel, target);
  values_ = editor_values_from_channel(channel, target_);
  other_stream_names_ = other_target_stream_names(channel, target_);
}

std::optional<EditRefusal> EditorPanel::validate() const {
  return validate_editor_values(values_, other_stream_names_);
}

void EditorPanel::save(cJSON* channel, int target) const {
  save_editor_values(values_, channel, target);
}

PanelChange EditorPanel::taken(PanelChange change) {
  values_ = change.values;
  if (change.targets_reset) {
    target_ = 0;
    other_stream_names_.clear();
  }
  return change;
}

PanelChange EditorPanel::choose_target_format(int format, const EditorEnvironment& environment,
                                              cJSON* editing_channel) {
  return taken(change_target_format(values_, format, environment, editing_channel));
}

PanelChange EditorPanel::choose_video_encoding(int encoding, const EditorEnvironment& environment,
                                               cJSON* editing_channel) {
  return taken(change_video_encoding(values_, encoding, target_, environment, editing_channel));
}

PanelChange EditorPanel::choose_audio_encoding(int encoding, const EditorEnvironment& environment,
                                               cJSON* editing_channel) {
  return taken(change_audio_encoding(values_, encoding, target_, environment, editing_channel));
}

PanelChange EditorPanel::choose_frame_size(int frame_size, cJSON* editing_channel) {
  return taken(change_frame_size(values_, frame_size, target_, editing_channel));
}

PanelChange EditorPanel::set_cbr(bool on) {
  return taken(change_cbr(values_, on));
}

}  // namespace vx
