#include "window_logic/editor_controls.h"

#include <algorithm>
#include <array>

namespace vx {
namespace {

// The formats whose multiplex has a bit rate of its own to set.
constexpr std::array<TargetFormatEntry, 7> kFormatsWithMuxRate = {
    TargetFormatEntry::udp,   TargetFormatEntry::http,  TargetFormatEntry::html5,
    TargetFormatEntry::rtpts, TargetFormatEntry::omxts, TargetFormatEntry::hls,
    TargetFormatEntry::srt};

// The formats that write a file or a card, for which an address is picked rather than typed.
constexpr std::array<TargetFormatEntry, 4> kFormatsWithBrowse = {
    TargetFormatEntry::hls, TargetFormatEntry::dash, TargetFormatEntry::local_file,
    TargetFormatEntry::decklink};

template <std::size_t N>
bool format_in(const std::array<TargetFormatEntry, N>& formats, int entry) {
  return std::any_of(formats.begin(), formats.end(), [entry](TargetFormatEntry format) {
    return static_cast<int>(format) == entry;
  });
}

bool is_multi_bitrate(int entry) {
  const std::optional<TargetFormatEntry> format = target_format_entry(entry);
  return format && kTargetFormatChoices[static_cast<std::size_t>(*format)].multi_bitrate;
}

ControlState enabled_when(bool enabled) {
  return {enabled, true};
}

}  // namespace

EditorControls editor_controls(const EditorValues& values, const EditingSituation& situation) {
  const bool e = situation.editing_selected_row;
  const bool s = situation.row_selected;
  const bool w = situation.working_copy;
  const bool video = e && values.video_enable;
  const bool picture = video && video_codec_of(values.video_encoding) != "copy";
  const bool audio = e && values.audio_enable;
  const bool sound = audio && audio_codec_of(values.audio_encoding) != "copy";
  const bool browses = w && format_in(kFormatsWithBrowse, values.target_format);
  const bool mux_shown = format_in(kFormatsWithMuxRate, values.target_format);

  EditorControls controls;
  controls.target_format = enabled_when(e);
  controls.format_advanced = enabled_when(e);
  controls.target_url = enabled_when(true);
  controls.target_url_read_only = !e;
  controls.target_url_narrow = browses;
  controls.browse = {browses, browses};
  controls.video_enable = enabled_when(s);
  controls.video_encoding = enabled_when(video);
  controls.video_advanced = enabled_when(picture);
  controls.frame_size = enabled_when(picture);
  controls.frame_width_height = enabled_when(picture && values.frame_size == kFrameSizeOther);
  controls.frame_rate = enabled_when(picture);
  controls.quality = {picture, false};
  controls.video_bitrate = enabled_when(picture);
  controls.key_frame_interval = enabled_when(picture);
  controls.mux_bitrate = {e, mux_shown};
  controls.cbr = {picture, mux_shown};
  controls.audio_enable = enabled_when(s);
  controls.audio_encoding = enabled_when(audio);
  controls.audio_advanced = enabled_when(sound);
  controls.sample_rate = enabled_when(sound);
  controls.audio_channels = enabled_when(sound);
  controls.audio_bitrate = enabled_when(sound);
  const bool tabs = s && is_multi_bitrate(values.target_format);
  controls.target_tabs = {tabs, tabs};
  controls.new_channel = enabled_when(!w);
  controls.edit = enabled_when(s && !w);
  controls.remove_channel = enabled_when(s && !w);
  controls.apply = enabled_when(e);
  controls.cancel = enabled_when(w);
  return controls;
}

}  // namespace vx
