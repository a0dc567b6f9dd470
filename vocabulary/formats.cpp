#include "vocabulary/formats.h"

#include <array>
#include <initializer_list>

#include "vocabulary/ascii.h"

namespace vx {
namespace {

struct FormatEntry {
  FormatId id;
  const char* canonical;
  std::initializer_list<const char*> accepted;
};

// The canonical name is always among the accepted ones.
const std::array<FormatEntry, 17> kFormats = {{
    {FormatId::file, "file", {"file", "ftp"}},
    {FormatId::rtmp, "rtmp", {"rtmp"}},
    {FormatId::udp, "udp", {"mpegts", "udp", "udpts"}},
    {FormatId::http, "http", {"http", "httpts"}},
    {FormatId::ytdlp, "ytdlp", {"ytdlp"}},
    {FormatId::html5, "html5", {"html5"}},
    {FormatId::rtpts, "rtpts", {"rtp", "rtpts"}},
    {FormatId::omxts, "omxts", {"omxts"}},
    {FormatId::srt, "srt", {"srt"}},
    {FormatId::hls, "hls", {"hls"}},
    {FormatId::dash, "dash", {"dash"}},
    {FormatId::device, "device", {"device"}},
    {FormatId::rtp_native, "rtp_native", {"rtp_native"}},
    {FormatId::rtsp, "rtsp", {"rtsp"}},
    {FormatId::decklink, "decklink", {"decklink"}},
    {FormatId::ndi, "ndi", {"ndi"}},
    {FormatId::httpmjpg, "httpmjpg", {"httpmjpg"}},
}};

}  // namespace

FormatId format_id_from_name(std::string_view name) {
  for (const FormatEntry& entry : kFormats) {
    for (const char* accepted : entry.accepted) {
      if (iequals(name, accepted)) return entry.id;
    }
  }
  return FormatId::unknown;
}

const char* format_name_from_id(FormatId id) {
  for (const FormatEntry& entry : kFormats) {
    if (entry.id == id) return entry.canonical;
  }
  return nullptr;
}

const char* format_name_from_id(std::int32_t id) {
  return format_name_from_id(static_cast<FormatId>(id));
}

}  // namespace vx
