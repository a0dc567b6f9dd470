#include "config/target_mix.h"

#include <array>
#include <string_view>
#include <utility>

#include "config/document.h"
#include "vocabulary/ascii.h"
#include "vocabulary/codecs.h"
#include "vocabulary/formats.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

enum class Container { none, mpegts, flv };

// What ffmpeg 5.1's muxers take; a codec not listed (copy, unknown names) is not judged. MPEG-TS
// writes anything else as a data stream no player decodes, and FLV refuses it at the header.
struct Carriage {
  CodecId codec;
  bool mpegts;
  bool flv;  // PCM and G.711 only at FLV's own sample rates, which a target may keep
};

// clang-format off
constexpr std::array<Carriage, 45> kCarriage = {{
    {0, false, true},     // g711u
    {1, false, true},     // g711a
    {2, false, true},     // pcm16s
    {3, false, false},    // pcm24s
    {4, false, false},    // pcm16u
    {5, false, false},    // pcm24u
    {6, true, false},     // mp2a
    {7, true, true},      // mp3
    {8, true, true},      // aac
    {9, true, true},      // heaac
    {10, true, false},    // opus
    {11, true, false},    // ac3
    {12, true, false},    // eac3
    {128, false, false},  // h261
    {129, false, false},  // h263
    {130, false, false},  // h263+
    {131, true, false},   // mp1v
    {132, true, false},   // mp2v
    {133, true, false},   // mp4v
    {134, false, true},   // flv
    {135, true, true},    // h264
    {136, true, false},   // h265
    {137, true, true},    // nv264
    {138, true, false},   // nv265
    {139, false, false},  // nvav1
    {140, true, true},    // qsv264
    {141, true, false},   // qsv265
    {142, false, false},  // qsvvp9
    {143, true, false},   // qsvmp2v
    {144, false, false},  // qsvav1
    {145, true, true},    // amf264
    {146, true, false},   // amf265
    {147, false, false},  // amfav1
    {148, true, true},    // omx264
    {149, true, false},   // omx265
    {150, true, false},   // omxmp2v
    {151, true, true},    // ni264
    {152, true, false},   // ni265
    {153, false, false},  // niav1
    {154, false, false},  // prores
    {155, false, false},  // mjpeg
    {156, false, false},  // vp8
    {157, false, false},  // vp9
    {158, false, false},  // av1
    {kCodecCopy, true, true},
}};
// clang-format on

bool carries(Container container, CodecId codec) {
  for (const Carriage& carriage : kCarriage) {
    if (carriage.codec == codec) {
      return container == Container::mpegts ? carriage.mpegts : carriage.flv;
    }
  }
  return true;
}

const char* container_name(Container container) {
  return container == Container::flv ? "FLV (RTMP)" : "MPEG-TS";
}

// Recordings whose muxer ffmpeg picks by the file's extension.
constexpr std::array<std::pair<std::string_view, Container>, 4> kFileContainers = {{
    {".ts", Container::mpegts},
    {".m2ts", Container::mpegts},
    {".mts", Container::mpegts},
    {".flv", Container::flv},
}};

Container file_container(std::string_view url) {
  for (const auto& [extension, container] : kFileContainers) {
    if (iends_with(url, extension)) return container;
  }
  return Container::none;
}

// The output's own options, as the engine writes them after the muxer's.
std::string output_options(const cJSON* output) {
  std::string options = " ";
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, config_array(output, "formatOptions")) {
    if (cJSON_IsString(item) && item->valuestring != nullptr)
      options += std::string(item->valuestring) + " ";
  }
  return options + config_string(output, "customOptions") + " ";
}

// The container a target's streams travel in. In a channel of several targets an RTSP target
// reaches its relay through an MPEG-TS pipe.
Container container_of(const cJSON* target, const std::string& options, int target_count) {
  switch (format_id_from_name(config_string(target, "format"))) {
    case FormatId::rtmp:
      return Container::flv;
    case FormatId::udp:
    case FormatId::rtpts:
    case FormatId::http:
    case FormatId::omxts:
      return Container::mpegts;
    case FormatId::srt:
      return contains(options, " -f ") ? Container::none : Container::mpegts;
    case FormatId::hls:
      return contains(options, "-hls_segment_type fmp4") ? Container::none : Container::mpegts;
    case FormatId::rtsp:
      return target_count > 1 ? Container::mpegts : Container::none;
    case FormatId::file:
      return file_container(config_string(target, "url"));
    default:
      return Container::none;
  }
}

std::string uncarried_stream(const cJSON* target, const char* stream, Container container) {
  const cJSON* settings = config_object(target, stream);
  const char* name = config_string(settings, "codec");
  if (!config_bool(settings, "enable") || carries(container, codec_id_from_name(name))) return {};
  return std::string("the ") + stream + " codec \"" + name + "\" cannot be carried in " +
         container_name(container);
}

std::string folder_of(std::string_view url) {
  const std::size_t slash = url.rfind('/');
  return std::string(slash == std::string_view::npos ? std::string_view() : url.substr(0, slash));
}

// ffmpeg names a DASH output's segments after their stream, not after the manifest: two DASH
// targets in one folder write the same files.
std::string shared_dash_folder(const cJSON* targets, int number, int count) {
  const cJSON* target = cJSON_GetArrayItem(targets, number - 1);
  if (format_id_from_name(config_string(target, "format")) != FormatId::dash) return {};
  const std::string folder = folder_of(config_string(target, "url"));
  for (int other = number + 1; other <= count; ++other) {
    const cJSON* later = cJSON_GetArrayItem(targets, other - 1);
    if (format_id_from_name(config_string(later, "format")) == FormatId::dash &&
        folder_of(config_string(later, "url")) == folder) {
      return "DASH targets " + std::to_string(number) + " and " + std::to_string(other) +
             " write their segments into one folder (\"" + folder +
             "\") and would overwrite each other's";
    }
  }
  return {};
}

}  // namespace

std::string channel_target_mix_problem(const cJSON* channel, int number) {
  const cJSON* output = config_object(channel, "output");
  const cJSON* targets = config_array(output, "targets");
  const int count = cJSON_GetArraySize(targets);
  const std::string options = output_options(output);
  const std::string owner = "channel " + std::to_string(number) + ": ";
  for (int k = 1; k <= count; ++k) {
    const cJSON* target = cJSON_GetArrayItem(targets, k - 1);
    const Container container = container_of(target, options, count);
    std::string problem;
    if (container != Container::none) {
      problem = uncarried_stream(target, "video", container);
      if (problem.empty()) problem = uncarried_stream(target, "audio", container);
      if (!problem.empty()) return owner + problem + " (target " + std::to_string(k) + ")";
    }
    problem = shared_dash_folder(targets, k, count);
    if (!problem.empty()) return owner + problem;
  }
  return {};
}

std::string target_mix_problem(const cJSON* document) {
  int number = 1;
  const cJSON* channel = nullptr;
  cJSON_ArrayForEach(channel, config_array(document, "channels")) {
    if (std::string problem = channel_target_mix_problem(channel, number); !problem.empty()) {
      return problem;
    }
    ++number;
  }
  return {};
}

}  // namespace vx
