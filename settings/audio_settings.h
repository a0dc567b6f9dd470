// The audio settings dialog without its window: which PCM or G.711 variant a target encodes when
// the channel editor's audio encoding is "PCM", kept in the target's "audio" "codec".
#pragma once

#include <cjson/cJSON.h>

#include <array>
#include <string_view>

#include "vocabulary/codecs.h"

namespace vx {

inline constexpr const char* kAudioSettingsTitle = "Audio Settings";
inline constexpr const char* kPcmSettingsTab = "PCM Settings";

struct PcmVariant {
  std::string_view text;   // the list text
  std::string_view codec;  // the configuration name stored
  CodecId id;
};

// In list order.
inline constexpr std::array<PcmVariant, 4> kPcmVariants = {{
    {"G.711 muLaw", "g711u", 0},
    {"G.711 aLaw", "g711a", 1},
    {"PCM 16 bit signed", "pcm16s", 2},
    {"PCM 24 bit signed", "pcm24s", 3},
}};
// The row chosen for a codec that is none of the four.
inline constexpr int kPcmDefaultRow = 2;

// The channel editor's audio encoding position that means "PCM".
inline constexpr int kAudioEncodingPcm = 0;

struct AudioSettings {
  bool enabled = false;  // false while the editor's audio encoding is not "PCM"
  int selected = -1;     // row of kPcmVariants, -1 for none
};

// Opening the page for target `target` of the channel (0 when the editor shows no target tabs),
// given the editor's audio encoding position. A missing target or "audio" object reads as an
// empty codec.
AudioSettings open_audio_settings(const cJSON* channel, int audio_encoding, int target);

// OK: writes the selected row's codec into the target's "audio" object (made when missing).
// Returns whether anything was stored: never without a selection or a target at that index.
bool audio_settings_ok(const AudioSettings& settings, cJSON* channel, int target);

}  // namespace vx
