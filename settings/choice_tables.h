// The choices the channel editor offers, in list order, with the configuration names each one
// stands for: one copy of the data for the windows and the tests. The source cells' types are
// settings/source_address.h's.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "vocabulary/formats.h"

namespace vx {

// Target Format list. Two entries write "file" (Local File and FTP/SFTP); loading picks by the
// format's number, so an FTP target comes back as Local File.
struct TargetFormatChoice {
  std::string_view text;
  std::string_view format;    // written into target 0
  bool multi_bitrate;         // extra targets kept (else deleted on save)
  bool keeps_format_options;  // output "formatOptions" kept on save (else emptied)
};

// multi_bitrate is the format's own rule (format_takes_several_targets), read here by the lists.
inline constexpr std::array<TargetFormatChoice, 15> kTargetFormatChoices = {{
    {"RTMP", "rtmp", format_takes_several_targets(FormatId::rtmp), false},
    {"MPEG-TS over UDP", "udp", format_takes_several_targets(FormatId::udp), true},
    {"MPEG-TS over HTTP", "http", format_takes_several_targets(FormatId::http), true},
    {"HTML5 Video", "html5", format_takes_several_targets(FormatId::html5), false},
    {"MPEG-TS over RTP", "rtpts", format_takes_several_targets(FormatId::rtpts), true},
    {"MainConcept MPEG-TS", "omxts", format_takes_several_targets(FormatId::omxts), true},
    {"m3u8 Playlist (HLS)", "hls", format_takes_several_targets(FormatId::hls), true},
    {"MPEG-DASH", "dash", format_takes_several_targets(FormatId::dash), false},
    {"SRT (Secure Reliable Transport)", "srt", format_takes_several_targets(FormatId::srt), true},
    {"RTSP", "rtsp", format_takes_several_targets(FormatId::rtsp), false},
    {"Local File", "file", format_takes_several_targets(FormatId::file), false},
    {"FTP/SFTP", "file", format_takes_several_targets(FormatId::file), false},
    {"Decklink Playback Card", "decklink", format_takes_several_targets(FormatId::decklink), false},
    {"NewTek NDI", "ndi", format_takes_several_targets(FormatId::ndi), false},
    {"MJPEG over HTTP", "httpmjpg", format_takes_several_targets(FormatId::httpmjpg), false},
}};

// The positions of kTargetFormatChoices, for rules that name an entry.
enum class TargetFormatEntry {
  rtmp,
  udp,
  http,
  html5,
  rtpts,
  omxts,
  hls,
  dash,
  srt,
  rtsp,
  local_file,
  ftp,
  decklink,
  ndi,
  httpmjpg,
};
static_assert(static_cast<std::size_t>(TargetFormatEntry::httpmjpg) + 1 ==
              kTargetFormatChoices.size());

// An encoding entry and the "codec" it writes.
struct CodecChoice {
  std::string_view text;
  std::string_view codec;
};

// The NVENC H.264 text ends with a blank, as the operators know it.
inline constexpr std::array<CodecChoice, 29> kVideoEncodingChoices = {{
    {"H.264 (x264)", "h264"},
    {"H.264 (NVENC) ", "nv264"},
    {"H.264 (Quick Sync)", "qsv264"},
    {"H.264 (AMF)", "amf264"},
    {"H.264 (MainConcept)", "omx264"},
    {"H.264 (NETINT Quadra)", "ni264"},
    {"HEVC (x265)", "h265"},
    {"HEVC (NVENC)", "nv265"},
    {"HEVC (Quick Sync)", "qsv265"},
    {"HEVC (AMF)", "amf265"},
    {"HEVC (MainConcept)", "omx265"},
    {"HEVC (NETINT Quadra)", "ni265"},
    {"MPEG-1 Video", "mp1v"},
    {"MPEG-2 Video", "mp2v"},
    {"MPEG-2 Video (Quick Sync)", "qsvmp2v"},
    {"MPEG-2 Video (MainConcept)", "omxmp2v"},
    {"MPEG-4 Visual", "mp4v"},
    {"AV1 (SVT)", "av1"},
    {"AV1 (NVENC)", "nvav1"},
    {"AV1 (Quick Sync)", "qsvav1"},
    {"AV1 (AMF)", "amfav1"},
    {"AV1 (NETINT Quadra)", "niav1"},
    {"VP8", "vp8"},
    {"VP9", "vp9"},
    {"VP9 (Quick Sync)", "qsvvp9"},
    {"FLV", "flv"},
    {"Apple ProRes", "prores"},
    {"MJPEG", "mjpeg"},
    {"Original", "copy"},
}};
// Saving with no video entry selected writes this codec.
inline constexpr std::string_view kVideoCodecWhenNoneSelected = "h264";

// "PCM" writes "pcm16s" unless the target already holds one of kPcmAudioCodecs (a variant
// chosen in the audio settings survives Apply).
inline constexpr std::array<CodecChoice, 9> kAudioEncodingChoices = {{
    {"PCM", "pcm16s"},
    {"MP2", "mp2a"},
    {"MP3", "mp3"},
    {"AAC-LC", "aac"},
    {"HE-AAC", "heaac"},
    {"OPUS", "opus"},
    {"AC-3", "ac3"},
    {"E-AC-3", "eac3"},
    {"Original", "copy"},
}};
inline constexpr std::array<std::string_view, 6> kPcmAudioCodecs = {"g711u",  "g711a",  "pcm16s",
                                                                    "pcm24s", "pcm16u", "pcm24u"};
inline constexpr std::string_view kAudioCodecWhenNoneSelected = "aac";

struct FrameSizeChoice {
  std::string_view text;
  std::int32_t width;
  std::int32_t height;
};

// "Other" (the last entry) takes the two edits as they are; its size here is never matched.
inline constexpr std::array<FrameSizeChoice, 10> kFrameSizeChoices = {{
    {"Original", 0, 0},
    {"QVGA", 320, 240},
    {"nHD", 640, 360},
    {"VGA", 640, 480},
    {"SDTV", 720, 576},
    {"HD", 1280, 720},
    {"FullHD", 1920, 1080},
    {"2K", 2048, 1080},
    {"4K", 3840, 2160},
    {"Other", -1, -1},
}};
inline constexpr int kFrameSizeOther = 9;

// The editable combos: the first entry stands for 0 ("Original" or "Default").
inline constexpr std::array<std::string_view, 10> kFrameRateChoices = {
    "Original", "15", "20", "23.976", "24", "25", "29.97", "30", "59.94", "60"};
inline constexpr std::array<std::string_view, 6> kQualityChoices = {"Default", "20", "40",
                                                                    "60",      "80", "100"};
inline constexpr std::array<std::string_view, 8> kVideoBitrateChoices = {
    "Default", "200", "500", "800", "1200", "1600", "2000", "4000"};
inline constexpr std::array<std::string_view, 8> kSampleRateChoices = {
    "Original", "8000", "11025", "22050", "24000", "32000", "44100", "48000"};
inline constexpr std::array<std::string_view, 4> kAudioBitrateChoices = {"Default", "64", "128",
                                                                         "256"};

struct AudioChannelChoice {
  std::string_view text;
  std::int32_t channels;  // the "channels" number saved
};

// "7.1" saves 8; every other entry saves its position.
inline constexpr std::array<AudioChannelChoice, 8> kAudioChannelChoices = {{
    {"Original", 0},
    {"Mono", 1},
    {"Stereo", 2},
    {"2.1", 3},
    {"4", 4},
    {"5", 5},
    {"5.1", 6},
    {"7.1", 8},
}};

// Loading lookups; -1 means "no entry" (the control keeps or shows no selection).

// The Target Format entry for a target's "format"; -1 for ytdlp, device, rtp_native and unknown
// names, for which the entry does not change.
int target_format_choice_for(std::string_view format);

// The video entry whose codec has the same number (so "qsvmpg" shows as the Quick Sync MPEG-2
// entry); -1 for an unknown codec.
int video_encoding_choice_for(std::string_view codec);

// "PCM" for any of kPcmAudioCodecs, else the entry with the same codec number; -1 when none.
int audio_encoding_choice_for(std::string_view codec);

// The entry whose size equals the two numbers, else kFrameSizeOther.
int frame_size_choice_for(std::int32_t width, std::int32_t height);

// The entry of a stored "channels" number (0 to 6 by position, 7 and 8 one lower); -1 outside.
int audio_channel_choice_for(std::int32_t channels);

}  // namespace vx
