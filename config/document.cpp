#include "config/document.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <string>

#include "vocabulary/codecs.h"
#include "vocabulary/formats.h"

namespace vx {
namespace {

constexpr double kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr double kIntMin = std::numeric_limits<std::int32_t>::min();

const cJSON* member(const cJSON* object, const char* key) {
  if (!cJSON_IsObject(object) || key == nullptr) return nullptr;
  return cJSON_GetObjectItemCaseSensitive(object, key);
}

std::int32_t saturate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= kIntMax) return std::numeric_limits<std::int32_t>::max();
  if (value <= kIntMin) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(std::trunc(value));
}

bool first_source_is_usable(const cJSON* source) {
  if (format_id_from_name(config_string(source, "format")) != FormatId::rtp_native) {
    return config_string(source, "url")[0] != '\0';
  }
  switch (codec_id_from_name(config_string(config_object(source, "video"), "codec"))) {
    case kCodecH263:
    case kCodecH263Plus:
    case kCodecMpeg1Video:
    case kCodecMpeg2Video:
    case kCodecMpeg4Video:
    case kCodecH264:
      return true;
    default:
      return false;
  }
}

bool first_target_has_a_codec(const cJSON* target) {
  const CodecId video = codec_id_from_name(config_string(config_object(target, "video"), "codec"));
  const CodecId audio = codec_id_from_name(config_string(config_object(target, "audio"), "codec"));
  return video != kCodecUnknown || audio != kCodecUnknown;
}

cJSON* add_string_array(cJSON* object, const char* key, std::initializer_list<const char*> items) {
  cJSON* array = cJSON_AddArrayToObject(object, key);
  for (const char* item : items)
    cJSON_AddItemToArray(array, cJSON_CreateString(item));
  return array;
}

JsonPtr build_channel_template(const std::string& target_url) {
  JsonPtr channel(cJSON_CreateObject());
  cJSON* root = channel.get();
  cJSON_AddBoolToObject(root, "enable", false);

  cJSON* input = cJSON_AddObjectToObject(root, "input");
  cJSON* sources = cJSON_AddArrayToObject(input, "sources");
  cJSON* source = cJSON_CreateObject();
  cJSON_AddItemToArray(sources, source);  // the array owns the source from here on
  cJSON_AddStringToObject(source, "format", "file");
  cJSON_AddStringToObject(source, "url", "");
  add_string_array(cJSON_AddObjectToObject(source, "video"), "options", {});
  add_string_array(input, "formatOptions", {});
  cJSON_AddStringToObject(input, "customOptions", "");
  add_string_array(input, "filters", {});
  add_string_array(input, "map", {});

  cJSON* output = cJSON_AddObjectToObject(root, "output");
  cJSON* targets = cJSON_AddArrayToObject(output, "targets");
  cJSON* target = cJSON_CreateObject();
  cJSON_AddItemToArray(targets, target);  // the array owns the target from here on
  cJSON_AddStringToObject(target, "format", "udp");
  cJSON_AddStringToObject(target, "url", target_url.c_str());

  cJSON* video = cJSON_AddObjectToObject(target, "video");
  cJSON_AddBoolToObject(video, "enable", true);
  cJSON_AddStringToObject(video, "codec", "h264");
  cJSON_AddNumberToObject(video, "width", 0);
  cJSON_AddNumberToObject(video, "height", 0);
  cJSON_AddNumberToObject(video, "frameRate", 0);
  cJSON_AddNumberToObject(video, "keyFrameInterval", 5);
  cJSON_AddNumberToObject(video, "quality", 0);
  cJSON_AddNumberToObject(video, "bitRate", 0);
  cJSON_AddNumberToObject(video, "scanType", 0);
  // What the encoder tab of the advanced video settings writes for H.264 left as it is, so a
  // channel streams the same whether that tab was ever opened (the window and the page write a
  // panel only once it was shown). The format options stay empty: both write the MPEG-TS output
  // tab only when its OK is pressed.
  add_string_array(video, "options", {"-pix_fmt:v yuv420p", "-preset:v faster"});

  cJSON* audio = cJSON_AddObjectToObject(target, "audio");
  cJSON_AddBoolToObject(audio, "enable", true);
  cJSON_AddStringToObject(audio, "codec", "aac");
  cJSON_AddNumberToObject(audio, "sampleRate", 0);
  cJSON_AddNumberToObject(audio, "channels", 2);
  cJSON_AddNumberToObject(audio, "bitRate", 0);

  cJSON* mux = cJSON_AddObjectToObject(target, "mux");
  cJSON_AddNumberToObject(mux, "bitRate", 0);
  cJSON_AddBoolToObject(mux, "cbr", false);

  cJSON* rtmp = cJSON_AddObjectToObject(target, "rtmp");
  for (const char* key : {"flashVer", "swfUrl", "user", "passwd"}) {
    cJSON_AddStringToObject(rtmp, key, "");
  }

  add_string_array(output, "formatOptions", {});
  cJSON* time_shift = cJSON_AddObjectToObject(output, "timeShift");
  cJSON_AddNumberToObject(time_shift, "cacheTime", 0);
  cJSON_AddStringToObject(time_shift, "cacheFolder", "");
  cJSON_AddStringToObject(output, "customOptions", "");
  cJSON_AddStringToObject(root, "memo", "");
  return channel;
}

// The number a reference should hold now; 0 when its channel was removed, or itself when it
// names no channel of the table.
int renumbered(int number, const std::vector<int>& new_numbers) {
  if (number < 1 || number > static_cast<int>(new_numbers.size())) return number;
  return new_numbers[static_cast<std::size_t>(number - 1)];
}

void renumber_sources(cJSON* sources, const std::vector<int>& new_numbers) {
  cJSON* item = sources != nullptr ? sources->child : nullptr;
  while (item != nullptr) {
    cJSON* const next = item->next;
    if (cJSON_GetObjectItemCaseSensitive(item, "bind") != nullptr) {
      const int bind = config_int(item, "bind");
      const int now = renumbered(bind, new_numbers);
      if (now == 0) {
        cJSON_Delete(cJSON_DetachItemViaPointer(sources, item));
      } else if (now != bind) {
        config_set_int(item, "bind", now);
      }
    }
    item = next;
  }
}

}  // namespace

std::int32_t config_int_from_text(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
    ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  std::int64_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > std::int64_t{1} << 32) break;  // saturates below, no need to read further
  }
  return saturate(static_cast<double>(negative ? -value : value));
}

std::int32_t config_int(const cJSON* object, const char* key, std::int32_t default_value) {
  const cJSON* item = member(object, key);
  if (cJSON_IsNumber(item)) return saturate(item->valuedouble);
  if (cJSON_IsString(item))
    return item->valuestring != nullptr ? config_int_from_text(item->valuestring) : 0;
  if (cJSON_IsTrue(item)) return 1;
  if (cJSON_IsFalse(item)) return 0;
  return default_value;
}

bool config_bool(const cJSON* object, const char* key) {
  return cJSON_IsTrue(member(object, key));
}

const char* config_string(const cJSON* object, const char* key) {
  const cJSON* item = member(object, key);
  return cJSON_IsString(item) && item->valuestring != nullptr ? item->valuestring : "";
}

double config_float(const cJSON* object, const char* key) {
  const cJSON* item = member(object, key);
  return cJSON_IsNumber(item) && std::isfinite(item->valuedouble) ? item->valuedouble : 0.0;
}

const cJSON* config_object(const cJSON* object, const char* key) {
  const cJSON* item = member(object, key);
  return cJSON_IsObject(item) ? item : nullptr;
}

cJSON* config_object(cJSON* object, const char* key) {
  return const_cast<cJSON*>(config_object(static_cast<const cJSON*>(object), key));
}

const cJSON* config_array(const cJSON* object, const char* key) {
  const cJSON* item = member(object, key);
  return cJSON_IsArray(item) ? item : nullptr;
}

cJSON* config_array(cJSON* object, const char* key) {
  return const_cast<cJSON*>(config_array(static_cast<const cJSON*>(object), key));
}

bool config_set_item(cJSON* object, const char* key, JsonPtr item) {
  if (!cJSON_IsObject(object) || key == nullptr || !item) return false;
  const bool exists = cJSON_GetObjectItemCaseSensitive(object, key) != nullptr;
  cJSON* raw = item.release();  // the object owns it once the call succeeds
  const bool done = exists ? cJSON_ReplaceItemInObjectCaseSensitive(object, key, raw)
                           : cJSON_AddItemToObject(object, key, raw);
  if (!done) cJSON_Delete(raw);
  return done;
}

bool config_set_int(cJSON* object, const char* key, std::int32_t value) {
  return config_set_item(object, key, JsonPtr(cJSON_CreateNumber(value)));
}

bool config_set_number(cJSON* object, const char* key, double value) {
  return config_set_item(object, key, JsonPtr(cJSON_CreateNumber(value)));
}

bool config_set_bool(cJSON* object, const char* key, bool value) {
  return config_set_item(object, key, JsonPtr(cJSON_CreateBool(value)));
}

bool config_set_string(cJSON* object, const char* key, std::string_view value) {
  return config_set_item(object, key, JsonPtr(cJSON_CreateString(std::string(value).c_str())));
}

const cJSON* channel_first_source(const cJSON* channel) {
  return cJSON_GetArrayItem(config_array(config_object(channel, "input"), "sources"), 0);
}

bool channel_is_valid(const cJSON* channel) {
  const cJSON* targets = config_array(config_object(channel, "output"), "targets");
  const cJSON* first_source = channel_first_source(channel);
  const cJSON* first_target = cJSON_GetArrayItem(targets, 0);
  if (first_source == nullptr || first_target == nullptr) return false;
  return first_source_is_usable(first_source) && first_target_has_a_codec(first_target);
}

void renumber_channel_references(cJSON* channels, const std::vector<int>& new_numbers) {
  for (cJSON* channel = channels != nullptr ? channels->child : nullptr; channel != nullptr;
       channel = channel->next) {
    if (cJSON_GetObjectItemCaseSensitive(channel, "bind") != nullptr) {
      const int bind = config_int(channel, "bind");
      const int now = renumbered(bind, new_numbers);
      if (now == 0) {
        cJSON_DeleteItemFromObjectCaseSensitive(channel, "bind");
      } else if (now != bind) {
        config_set_int(channel, "bind", now);
      }
    }
    renumber_sources(config_array(config_object(channel, "input"), "sources"), new_numbers);
  }
}

bool remove_channel(cJSON* channels, int index) {
  const int count = cJSON_GetArraySize(channels);
  if (!cJSON_IsArray(channels) || index < 0 || index >= count) return false;
  cJSON_DeleteItemFromArray(channels, index);
  std::vector<int> new_numbers(static_cast<std::size_t>(count));
  for (int number = 1; number <= count; ++number) {
    const int removed = index + 1;
    new_numbers[static_cast<std::size_t>(number - 1)] =
        number < removed ? number : (number == removed ? 0 : number - 1);
  }
  renumber_channel_references(channels, new_numbers);
  return true;
}

JsonPtr channel_template() {
  return build_channel_template("udp://127.0.0.1:1234");
}

}  // namespace vx
