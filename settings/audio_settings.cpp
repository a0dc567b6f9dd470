#include "settings/audio_settings.h"

#include <string>

#include "config/document.h"
#include "settings/json_fields.h"

namespace vx {
namespace {

template <typename Json>
Json* target_at(Json* channel, int target) {
  if (target < 0) return nullptr;
  Json* targets = config_array(config_object(channel, "output"), "targets");
  Json* item = cJSON_GetArrayItem(targets, target);
  return cJSON_IsObject(item) ? item : nullptr;
}

}  // namespace

AudioSettings open_audio_settings(const cJSON* channel, int audio_encoding, int target) {
  AudioSettings settings;
  if (audio_encoding != kAudioEncodingPcm) return settings;
  settings.enabled = true;
  const cJSON* audio = config_object(target_at(channel, target), "audio");
  const CodecId id = codec_id_from_name(config_string(audio, "codec"));
  settings.selected = kPcmDefaultRow;
  for (std::size_t row = 0; row < kPcmVariants.size(); ++row) {
    if (kPcmVariants[row].id == id) settings.selected = static_cast<int>(row);
  }
  return settings;
}

bool audio_settings_ok(const AudioSettings& settings, cJSON* channel, int target) {
  if (!settings.enabled || settings.selected < 0 ||
      settings.selected >= static_cast<int>(kPcmVariants.size()))
    return false;
  cJSON* audio = object_member(target_at(channel, target), "audio");
  if (audio == nullptr) return false;
  return config_set_string(audio, "codec",
                           kPcmVariants[static_cast<std::size_t>(settings.selected)].codec);
}

}  // namespace vx
