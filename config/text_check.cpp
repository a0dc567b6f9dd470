#include "config/text_check.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "config/document.h"

namespace vx {
namespace {

std::optional<unsigned char> first_control_byte(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return byte;
  }
  return std::nullopt;
}

std::string described(const std::string& owner, const std::string& key, unsigned char byte) {
  char code[8];
  std::snprintf(code, sizeof code, "0x%02x", byte);
  return owner + " " + key + " holds a control character (" + code + ")";
}

// The problem with object[key] when it is a text holding a control byte, else "".
std::string text_problem(const cJSON* object, const char* key, const std::string& owner,
                         const std::string& shown_key) {
  const std::optional<unsigned char> byte = first_control_byte(config_string(object, key));
  return byte ? described(owner, shown_key, *byte) : std::string();
}

std::string indexed(const char* list, int index, const char* key) {
  return std::string(list) + "[" + std::to_string(index) + "]" + (*key != '\0' ? "." : "") + key;
}

std::string list_problem(const cJSON* array, const std::string& owner, const char* list) {
  int index = 0;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, array) {
    const std::optional<unsigned char> byte =
        cJSON_IsString(item) ? first_control_byte(item->valuestring) : std::nullopt;
    if (byte) return described(owner, indexed(list, index, ""), *byte);
    ++index;
  }
  return {};
}

constexpr const char* kTargetRtmpNames[] = {"user", "passwd", "flashVer", "swfUrl"};

// The address and format parameters of a source's or target's RTP streams, which go into the
// session description a line each.
std::string stream_problem(const cJSON* item, const std::string& owner, const char* list,
                           int index) {
  for (const char* stream : {"video", "audio"}) {
    for (const char* key : {"IP", "fmtp"}) {
      const std::string shown = indexed(list, index, (std::string(stream) + "." + key).c_str());
      std::string problem = text_problem(config_object(item, stream), key, owner, shown);
      if (!problem.empty()) return problem;
    }
  }
  return {};
}

std::string target_problem(const cJSON* target, const std::string& owner, int index) {
  std::string problem = text_problem(target, "url", owner, indexed("output.targets", index, "url"));
  const cJSON* rtmp = config_object(target, "rtmp");
  for (const char* key : kTargetRtmpNames) {
    if (!problem.empty()) break;
    problem = text_problem(rtmp, key, owner,
                           indexed("output.targets", index, (std::string("rtmp.") + key).c_str()));
  }
  return problem.empty() ? stream_problem(target, owner, "output.targets", index) : problem;
}

}  // namespace

std::string channel_control_character_problem(const cJSON* channel, int number) {
  const std::string owner = "channel " + std::to_string(number);
  if (std::string problem = text_problem(channel, "memo", owner, "memo"); !problem.empty()) {
    return problem;
  }
  const cJSON* input = config_object(channel, "input");
  int index = 0;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, config_array(input, "sources")) {
    std::string problem = text_problem(item, "url", owner, indexed("input.sources", index, "url"));
    if (problem.empty()) problem = stream_problem(item, owner, "input.sources", index);
    if (!problem.empty()) return problem;
    ++index;
  }
  index = 0;
  cJSON_ArrayForEach(item, config_array(input, "standby")) {
    std::string problem = text_problem(item, "url", owner, indexed("input.standby", index, "url"));
    if (!problem.empty()) return problem;
    ++index;
  }
  if (std::string problem = list_problem(config_array(input, "map"), owner, "input.map");
      !problem.empty()) {
    return problem;
  }
  index = 0;
  cJSON_ArrayForEach(item, config_array(config_object(channel, "output"), "targets")) {
    if (std::string problem = target_problem(item, owner, index); !problem.empty()) return problem;
    ++index;
  }
  return {};
}

namespace {

// The global paths and URLs the engine passes on.
constexpr const char* kGlobalTexts[] = {"altInput", "sslCert", "sslKey", "omxPath", "ytdlpPath"};

}  // namespace

std::string global_control_character_problem(const cJSON* document) {
  const cJSON* global = config_object(document, "global");
  for (const char* key : kGlobalTexts) {
    if (std::string problem = text_problem(global, key, "global", key); !problem.empty()) {
      return problem;
    }
  }
  return {};
}

std::string control_character_problem(const cJSON* document) {
  if (std::string problem = global_control_character_problem(document); !problem.empty()) {
    return problem;
  }
  int number = 1;
  const cJSON* channel = nullptr;
  cJSON_ArrayForEach(channel, config_array(document, "channels")) {
    if (std::string problem = channel_control_character_problem(channel, number);
        !problem.empty()) {
      return problem;
    }
    ++number;
  }
  return {};
}

}  // namespace vx
