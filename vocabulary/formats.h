// The one numbering of source kinds and target formats, and the names the configuration
// stores for them.
#pragma once

#include <cstdint>
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

}  // namespace vx
