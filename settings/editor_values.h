// What the editor panel shows for one target of a channel, as one record, and how it is read
// from and written into the channel JSON. The lists the entries point into are those of
// settings/choice_tables.h.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/choice_tables.h"

namespace vx {

// Every value the panel shows, as its controls hold it. Entries are positions in the lists of
// settings/choice_tables.h, -1 when none is selected; edits and editable combos hold their text as
// typed ("Original" and "Default" stand for 0).
struct EditorValues {
  int target_format = -1;  // kTargetFormatChoices
  std::string target_url;
  bool video_enable = true;
  int video_encoding = 0;  // kVideoEncodingChoices
  int frame_size = 0;      // kFrameSizeChoices
  std::string width = "0";
  std::string height = "0";
  std::string frame_rate = "Original";
  std::string quality = "Default";  // never shown, kept from load to save
  std::string video_bitrate = "Default";
  std::string key_frame_interval = "0";
  std::string mux_bitrate = "0";
  bool cbr = false;
  bool audio_enable = true;
  int audio_encoding = 3;  // kAudioEncodingChoices
  std::string sample_rate = "Original";
  int audio_channels = 2;  // kAudioChannelChoices
  std::string audio_bitrate = "Default";
};

// ----- entries -----

template <typename Table>
bool is_choice(const Table& table, int entry) {
  return entry >= 0 && static_cast<std::size_t>(entry) < table.size();
}

// What an entry stands for: nullopt or "" for none.
std::optional<TargetFormatEntry> target_format_entry(int entry);
std::string_view video_codec_of(int entry);
std::string_view audio_codec_of(int entry);

// The entry writing `codec`, -1 when none does.
int video_entry_writing(std::string_view codec);
int audio_entry_writing(std::string_view codec);

// The audio "codec" an entry writes over the stored one: "PCM" keeps a PCM or G.711 variant
// chosen in the audio settings, no entry writes AAC.
std::string audio_codec_to_write(int entry, std::string_view stored);

// ----- the channel's targets -----

// Target `index` of the channel when it is an object, else nullptr.
cJSON* channel_target(cJSON* channel, int index);

// Deletes every target after the first.
void keep_first_target_only(cJSON* channel);

// Whether the target format entry keeps one target: saving it deletes every target after the
// first. False for no entry (a stored format the list does not offer keeps its targets).
bool target_format_keeps_one_target(int entry);

// ----- loading and saving -----

// The target a channel shows for `target`: `target` itself, or 0 when the channel has no such
// target.
int shown_target_index(const cJSON* channel, int target);

// The values of the shown target. A format the list does not offer selects no entry, and saving
// then keeps the stored format, targets and format options.
EditorValues editor_values_from_channel(const cJSON* channel, int target);

// The stream names of the channel's targets other than `target`: what the duplicate check
// compares the shown address with.
std::vector<std::string> other_target_stream_names(const cJSON* channel, int target);

// Writes the values into target `target` (target 0 for a format that keeps one target); missing
// objects and keys are added. The format goes into target 0; a single-target format drops the
// targets after the first, and the formats that carry no MPEG-TS or HLS options empty the output
// "formatOptions". "Original" video empties the video options and the input filters. A PCM entry
// keeps the PCM or G.711 variant already stored. Nothing is written for a target index outside
// the five a channel may have, or beyond the first missing one.
void save_editor_values(const EditorValues& values, cJSON* channel, int target);

}  // namespace vx
