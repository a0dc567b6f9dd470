#include "config/standby_sources.h"

#include <cmath>
#include <vector>

#include "config/document.h"
#include "vocabulary/codecs.h"
#include "vocabulary/formats.h"
#include "vocabulary/input_switch_report.h"

namespace vx {
namespace {

// The source formats a standby input is opened with as the first source would be: a URL, a
// capture device, a DeckLink card or an NDI source. Native RTP needs a session file of its own
// and yt-dlp resolves only the first source; the rest are target formats.
bool opens_as_standby(FormatId format) {
  switch (format) {
    case FormatId::file:
    case FormatId::rtmp:
    case FormatId::udp:
    case FormatId::http:
    case FormatId::rtpts:
    case FormatId::srt:
    case FormatId::rtsp:
    case FormatId::device:
    case FormatId::decklink:
    case FormatId::ndi:
      return true;
    default:
      return false;
  }
}

bool has_member(const cJSON* object, const char* key) {
  return cJSON_GetObjectItemCaseSensitive(object, key) != nullptr;
}

// Absent or null is off; otherwise a JSON number holding whole seconds in range.
bool switch_on_value_is_valid(const cJSON* switch_on, const char* key) {
  const cJSON* value = cJSON_GetObjectItemCaseSensitive(switch_on, key);
  if (value == nullptr || cJSON_IsNull(value)) return true;
  return cJSON_IsNumber(value) && value->valuedouble >= 0 &&
         value->valuedouble <= kMaxSwitchOnSeconds &&
         value->valuedouble == std::floor(value->valuedouble);
}

std::string switch_on_problem(const cJSON* input) {
  const cJSON* switch_on = cJSON_GetObjectItemCaseSensitive(input, "switchOn");
  if (switch_on == nullptr || cJSON_IsNull(switch_on)) return {};
  if (!cJSON_IsObject(switch_on)) {
    return "input.switchOn must be an object of seconds (\"black\", \"silence\", \"frozen\")";
  }
  for (const char* key : kSwitchOnKeys) {
    if (!switch_on_value_is_valid(switch_on, key)) {
      return "input.switchOn." + std::string(key) + " must be whole seconds from 0 to " +
             std::to_string(kMaxSwitchOnSeconds);
    }
  }
  return {};
}

std::string standby_list_problem(const cJSON* input) {
  const cJSON* standby = cJSON_GetObjectItemCaseSensitive(input, "standby");
  if (standby == nullptr || cJSON_IsNull(standby)) return {};
  if (!cJSON_IsArray(standby)) return "input.standby must be a list of sources";
  const int count = cJSON_GetArraySize(standby);
  if (count > kMaxStandbySources) {
    return "a channel takes at most " + std::to_string(kMaxStandbySources) +
           " standby sources, this one lists " + std::to_string(count);
  }
  int number = 1;
  const cJSON* source = nullptr;
  cJSON_ArrayForEach(source, standby) {
    if (std::string problem = standby_source_problem(source); !problem.empty()) {
      return "standby source " + std::to_string(number) + " " + problem;
    }
    ++number;
  }
  return {};
}

bool has_standby_or_switch_on(const cJSON* channel) {
  const cJSON* input = config_object(channel, "input");
  return cJSON_GetArraySize(config_array(input, "standby")) > 0 || switch_on_limits(channel).any();
}

// A target that copies a codec passes the input's packets on; the failover has only pictures
// and sound to switch between.
std::string copying_target_problem(const cJSON* channel) {
  int number = 1;
  const cJSON* target = nullptr;
  cJSON_ArrayForEach(target, config_array(config_object(channel, "output"), "targets")) {
    for (const char* stream : {"video", "audio"}) {
      if (codec_id_from_name(config_string(config_object(target, stream), "codec")) == kCodecCopy) {
        return "a channel with standby sources or switchOn must re-encode, but target " +
               std::to_string(number) + " copies the " + stream + " codec";
      }
    }
    ++number;
  }
  return {};
}

// Several HLS targets fold into one multi-bit-rate output whose variants map the encoder's
// streams by the inputs' numbers, which the switch replaces.
std::string multibitrate_problem(const cJSON* channel) {
  std::vector<FormatId> formats;
  const cJSON* target = nullptr;
  cJSON_ArrayForEach(target, config_array(config_object(channel, "output"), "targets")) {
    formats.push_back(format_id_from_name(config_string(target, "format")));
  }
  if (!targets_fold_into_multibitrate_hls(formats)) return {};
  return "a channel with standby sources or switchOn cannot fold its HLS targets into one "
         "multi-bit-rate output";
}

std::string bound_channels_problem(const cJSON* channel) {
  const int entries = cJSON_GetArraySize(config_array(config_object(channel, "input"), "sources"));
  if (entries <= 1) return {};
  return "a channel with standby sources or switchOn cannot carry bound channels (it lists " +
         std::to_string(entries) + " source entries)";
}

}  // namespace

std::string standby_source_problem(const cJSON* source) {
  if (!cJSON_IsObject(source)) return "is not a source object";
  const std::string url = config_string(source, "url");
  if (url.find_first_not_of(" \t") == std::string::npos) return "has no URL";
  const std::string format = config_string(source, "format");
  const FormatId id = format_id_from_name(format);
  if (id == FormatId::rtp_native) {
    return "cannot be native RTP: it would need a session file of its own";
  }
  if (id == FormatId::ytdlp) {
    return "cannot be a page resolved by yt-dlp: only the first source is resolved";
  }
  if (!opens_as_standby(id)) return "has no source format to be read with (\"" + format + "\")";
  return {};
}

std::string channel_standby_problem(const cJSON* channel, int number) {
  const cJSON* input = config_object(channel, "input");
  std::string problem = standby_list_problem(input);
  if (problem.empty()) problem = switch_on_problem(input);
  if (problem.empty() && has_standby_or_switch_on(channel)) {
    problem = copying_target_problem(channel);
    if (problem.empty()) problem = bound_channels_problem(channel);
    if (problem.empty()) problem = multibitrate_problem(channel);
  }
  return problem.empty() ? problem : "channel " + std::to_string(number) + ": " + problem;
}

std::string standby_problem(const cJSON* document) {
  int number = 1;
  const cJSON* channel = nullptr;
  cJSON_ArrayForEach(channel, config_array(document, "channels")) {
    if (std::string problem = channel_standby_problem(channel, number); !problem.empty()) {
      return problem;
    }
    ++number;
  }
  return {};
}

SwitchOnLimits switch_on_limits(const cJSON* channel) {
  const cJSON* switch_on = config_object(config_object(channel, "input"), "switchOn");
  SwitchOnLimits limits;
  for (std::size_t k = 0; k < kSwitchOnKeys.size(); ++k) {
    const char* key = kSwitchOnKeys[k];
    if (cJSON_IsObject(switch_on) && has_member(switch_on, key) &&
        switch_on_value_is_valid(switch_on, key)) {
      limits.at(k) = config_int(switch_on, key);
    }
  }
  return limits;
}

}  // namespace vx
