// The one numbering of source kinds and target formats, and the names the configuration
// stores for them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vx {

enum class FormatId : std::int32_t {
  file = 0,
  rtmp = 1,
  udp = 2,
  http = 3,
  ytdlp = 4,
  html5 = 5,
  rtpts = 6,
  omxts = 7,
  srt = 8,
  hls = 9,
  dash = 10,
  device = 11,
  rtp_native = 12,
  rtsp = 13,
  decklink = 14,
  ndi = 15,
  httpmjpg = 16,
  unknown = 255,
};

// A source's kind and a target's format share the numbering.
using SourceKind = FormatId;
using TargetFormat = FormatId;

// Case-insensitive; every accepted alias ("mpegts", "udpts", "ftp", ...) maps to its number.
// An empty or unrecognised name gives FormatId::unknown.
FormatId format_id_from_name(std::string_view name);

// The canonical name of a number ("udp" for 2), or nullptr for a number outside the table.
const char* format_name_from_id(FormatId id);
const char* format_name_from_id(std::int32_t id);

// Whether a channel whose first target has this format may list several targets. Each such
// target becomes an output of its own at its own address (RTMP, SRT and MPEG-TS peers; HLS
// folders, which fold into one multi-bit-rate playlist; DASH folders, each with its own
// manifest). The rest keep one target: HTTP, HTML5 and MJPEG outputs are all served on the
// channel's one port, a card output drives one card, and a file or RTSP target stands alone
// in the channel editor's lists.
constexpr bool format_takes_several_targets(FormatId format) {
  switch (format) {
    case FormatId::rtmp:
    case FormatId::udp:
    case FormatId::rtpts:
    case FormatId::omxts:
    case FormatId::srt:
    case FormatId::hls:
    case FormatId::dash:
      return true;
    default:
      return false;
  }
}

// Several targets, every one of them HLS, are written as one multi-bit-rate HLS output: each
// encodes a variant of one master playlist.
constexpr bool targets_fold_into_multibitrate_hls(std::span<const FormatId> formats) {
  for (const FormatId format : formats) {
    if (format != FormatId::hls) return false;
  }
  return formats.size() >= 2;
}

}  // namespace vx
