#include "settings/editor_checks.h"

#include <algorithm>
#include <array>
#include <utility>

#include "config/document.h"
#include "platform/encoder_list.h"
#include "settings/target_address.h"
#include "vocabulary/codecs.h"

namespace vx {
namespace {

constexpr const char* kSettingsError = "Settings Error";

constexpr std::array<std::string_view, 3> kVpCodecs = {"vp8", "vp9", "qsvvp9"};
constexpr std::array<std::string_view, 12> kRtmpVideoCodecs = {
    "flv",  "h264",   "qsv264", "nv264",  "amf264", "omx264",
    "h265", "qsv265", "nv265",  "amf265", "omx265", "copy"};
constexpr std::array<std::string_view, 4> kRtmpAudioCodecs = {"mp3", "aac", "heaac", "copy"};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view codec) {
  return !codec.empty() && std::find(list.begin(), list.end(), codec) != list.end();
}

EditRefusal refusal(std::string text, const char* focus, const char* title = kSettingsError) {
  return {{title, std::move(text), MessageIcon::error}, focus};
}

// The check each format makes of the address when it is empty, with its message.
const char* empty_address_message(TargetFormatEntry format) {
  switch (format) {
    case TargetFormatEntry::html5:
    case TargetFormatEntry::rtsp:
    case TargetFormatEntry::httpmjpg:
      return nullptr;
    case TargetFormatEntry::hls:
    case TargetFormatEntry::dash:
      return "Target file name invalid!";
    case TargetFormatEntry::local_file:
    case TargetFormatEntry::ftp:
      return "Please enter valid file name";
    case TargetFormatEntry::decklink:
      return "Please enter valid Decklink card name";
    case TargetFormatEntry::ndi:
      return "Please enter valid NDI name";
    case TargetFormatEntry::rtmp:
    case TargetFormatEntry::udp:
    case TargetFormatEntry::http:
    case TargetFormatEntry::rtpts:
    case TargetFormatEntry::omxts:
    case TargetFormatEntry::srt:
      break;
  }
  return "Target URL invalid!";
}

bool checks_mux_bitrate(TargetFormatEntry format) {
  switch (format) {
    case TargetFormatEntry::udp:
    case TargetFormatEntry::http:
    case TargetFormatEntry::rtpts:
    case TargetFormatEntry::omxts:
    case TargetFormatEntry::srt:
      return true;
    default:
      return false;
  }
}

std::optional<EditRefusal> format_refusal(const EditorValues& values, TargetFormatEntry format) {
  const char* empty_message = empty_address_message(format);
  if (empty_message == nullptr) return std::nullopt;
  if (target_url_without_blanks(values.target_url).empty())
    return refusal(empty_message, kTargetUrlControl);
  if (format == TargetFormatEntry::rtmp) {
    if (!listed(kRtmpVideoCodecs, video_codec_of(values.video_encoding))) {
      return refusal(
          "Only FLV/H.264/HEVC video encodings are supported for RTMP format!\nPlease choose "
          "either one of them.",
          kVideoEncodingControl);
    }
    if (!listed(kRtmpAudioCodecs, audio_codec_of(values.audio_encoding))) {
      return refusal(
          "Only MP3 and AAC audio encodings are supported for RTMP format!\nPlease choose "
          "either one of them.",
          kAudioEncodingControl);
    }
  }
  if (checks_mux_bitrate(format)) {
    const std::int64_t mux = config_int_from_text(values.mux_bitrate);
    const std::int64_t streams = std::int64_t{config_int_from_text(values.video_bitrate)} +
                                 config_int_from_text(values.audio_bitrate);
    if (mux > 0 && mux <= streams) {
      return refusal("Mux Bitrate must be higher than Video Bitrate plus Audio Bitrate!",
                     kMuxBitrateControl);
    }
  }
  return std::nullopt;
}

// The MainConcept encoders run only through the plug-in named in the global settings.
bool needs_plugin(std::string_view codec) {
  return codec == "omx264" || codec == "omx265";
}

}  // namespace

std::optional<DialogMessage> encoder_refusal(std::string_view codec, std::string_view entry_text,
                                             std::string_view plugin_core_path,
                                             const std::set<std::string>& encoders) {
  if (needs_plugin(codec) && plugin_core_path.empty()) {
    return DialogMessage{kSettingsError,
                         "Please make sure to install MainConcept FFmpeg Plugin and\nconfigure "
                         "plugin core file path in Global Settings to use MainConcept encoder.",
                         MessageIcon::error};
  }
  const char* encoder = codec_encoder_name(codec_id_from_name(codec));
  if (encoder == nullptr || encoder_is_available(encoders, encoder))
    return std::nullopt;
  std::string text = "The ffmpeg on this system has no encoder \"";
  text += encoder;
  text += "\" for ";
  while (!entry_text.empty() && entry_text.back() == ' ')
    entry_text.remove_suffix(1);
  text += entry_text;
  text += ".\nPlease choose another encoding.";
  return DialogMessage{kSettingsError, std::move(text), MessageIcon::error};
}


std::optional<EditRefusal> validate_editor_values(
    const EditorValues& values, const std::vector<std::string>& other_stream_names) {
  const std::optional<TargetFormatEntry> format = target_format_entry(values.target_format);
  if (listed(kVpCodecs, video_codec_of(values.video_encoding)) &&
      format != TargetFormatEntry::local_file && format != TargetFormatEntry::dash) {
    return refusal("VP8/VP9 encodings are ONLY supported by FILE(.mkv/.webm) and DASH formats.",
                   kVideoEncodingControl);
  }
  if (!format) return std::nullopt;
  if (std::optional<EditRefusal> refused = format_refusal(values, *format)) return refused;
  if (!kTargetFormatChoices[static_cast<std::size_t>(*format)].multi_bitrate) return std::nullopt;
  const std::string url = normalised_target_url(*format, values.target_url);
  if (!target_address_has_stream_name(url)) return std::nullopt;
  const std::string name = target_stream_name(url);
  if (std::find(other_stream_names.begin(), other_stream_names.end(), name) ==
      other_stream_names.end()) {
    return std::nullopt;
  }
  return refusal(
      "Duplicated stream names found.\nPlease modify target url to make stream name unique for "
      "each multi bitrate channel.",
      kTargetUrlControl, "Setting Error");
}

std::set<std::string> available_encoders() {
  return ffmpeg_encoders(ffmpeg_program());
}

std::optional<DialogMessage> cbr_refusal(bool on, std::string_view video_bitrate) {
  if (!on || config_int_from_text(video_bitrate) > 0) return std::nullopt;
  return DialogMessage{"Warning", "Cannot enable CBR with ZERO video bitrate!",
                       MessageIcon::warning};
}

}  // namespace vx
