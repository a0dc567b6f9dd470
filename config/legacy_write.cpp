#include <string>

#include "config/document.h"
#include "config/json.h"
#include "config/legacy.h"
#include "config/login_password.h"

namespace vx {
namespace {

// ---- Two-space layout ----

std::string scalar_text(const cJSON* item) {
  // cJSON escapes every text (quotes, backslashes, control characters).
  return json_print_unformatted(item).value_or("null");
}

bool is_container(const cJSON* item) {
  return cJSON_IsObject(item) || cJSON_IsArray(item);
}

bool holds_only_scalars(const cJSON* array) {
  for (const cJSON* item = array->child; item != nullptr; item = item->next) {
    if (is_container(item)) return false;
  }
  return true;
}

std::string indent(int depth) {
  return std::string(static_cast<std::size_t>(depth) * 2, ' ');
}

// Objects one member per line; arrays of texts and numbers on one line, joined by ", ".
void print_value(std::string& out, const cJSON* item, int depth) {
  if (cJSON_IsArray(item) && holds_only_scalars(item)) {
    out += '[';
    for (const cJSON* element = item->child; element != nullptr; element = element->next) {
      if (element != item->child) out += ", ";
      out += scalar_text(element);
    }
    out += ']';
    return;
  }
  if (!is_container(item)) {
    out += scalar_text(item);
    return;
  }
  const bool object = cJSON_IsObject(item);
  if (item->child == nullptr) {
    out += object ? "{}" : "[]";
    return;
  }
  out += object ? "{\n" : "[\n";
  for (const cJSON* element = item->child; element != nullptr; element = element->next) {
    out += indent(depth + 1);
    if (object) {
      const JsonPtr key(cJSON_CreateString(element->string));
      out += scalar_text(key.get()) + ": ";
    }
    print_value(out, element, depth + 1);
    out += element->next != nullptr ? ",\n" : "\n";
  }
  out += indent(depth) + (object ? "}" : "]");
}

// ---- Records to JSON ----

const char* format_name(FormatId kind) {
  const char* name = format_name_from_id(kind);
  return name != nullptr ? name : "";
}

const char* codec_name(CodecId codec) {
  const char* name = codec_name_from_id(codec);
  return name != nullptr ? name : "";
}

// One option text as an array of one string; an empty text gives no option at all.
cJSON* add_options(cJSON* object, const char* key, const std::string& text) {
  cJSON* array = cJSON_AddArrayToObject(object, key);
  if (!text.empty()) cJSON_AddItemToArray(array, cJSON_CreateString(text.c_str()));
  return array;
}

// The value after every "-map " in the text, up to the next blank.
void add_map_values(cJSON* input, const std::string& map_text) {
  cJSON* map = cJSON_AddArrayToObject(input, "map");
  for (std::size_t at = map_text.find("-map "); at != std::string::npos;
       at = map_text.find("-map ", at + 1)) {
    const std::size_t start = map_text.find_first_not_of(' ', at + 5);
    if (start == std::string::npos) break;
    const std::size_t end = map_text.find_first_of(" \t", start);
    const std::string value = map_text.substr(start, end - start);
    cJSON_AddItemToArray(map, cJSON_CreateString(value.c_str()));
  }
}

void add_rtp_media(cJSON* media, bool enable, CodecId codec) {
  cJSON_AddBoolToObject(media, "enable", enable);
  cJSON_AddStringToObject(media, "codec", codec_name(codec));
}

void add_rtp_address(cJSON* media, const std::string& ip, int port, const std::string& fmtp) {
  cJSON_AddStringToObject(media, "IP", ip.c_str());
  cJSON_AddNumberToObject(media, "port", port);
  cJSON_AddStringToObject(media, "fmtp", fmtp.c_str());
}

cJSON* source_object(const LegacySource& source, const LegacyChannel& channel) {
  cJSON* object = cJSON_CreateObject();
  const bool rtp = source.kind == FormatId::rtp_native;
  cJSON_AddStringToObject(object, "format", format_name(source.kind));
  // Network addresses are carried too: without them the channel could not stay.
  cJSON_AddStringToObject(object, "url", source.url.c_str());
  cJSON* video = cJSON_AddObjectToObject(object, "video");
  if (rtp) {
    add_rtp_media(video, source.video_enable, source.video_codec);
    add_rtp_address(video, source.video_ip, source.video_port, source.video_fmtp);
  }
  add_options(video, "options", channel.input_video_options);
  cJSON* audio = cJSON_AddObjectToObject(object, "audio");
  if (rtp) {
    add_rtp_media(audio, source.audio_enable, source.audio_codec);
    cJSON_AddNumberToObject(audio, "sampleRate", source.audio_sample_rate);
    cJSON_AddNumberToObject(audio, "channels", source.audio_channels);
    add_rtp_address(audio, source.audio_ip, source.audio_port, source.audio_fmtp);
  }
  return object;
}

cJSON* target_object(const LegacyTarget& target) {
  cJSON* object = cJSON_CreateObject();
  cJSON_AddStringToObject(object, "format", format_name(target.kind));
  cJSON_AddStringToObject(object, "url", target.url.c_str());

  cJSON* video = cJSON_AddObjectToObject(object, "video");
  cJSON_AddBoolToObject(video, "enable", target.video_enable != 0);
  cJSON_AddStringToObject(video, "codec", codec_name(target.video_codec));
  cJSON_AddNumberToObject(video, "width", target.width);
  cJSON_AddNumberToObject(video, "height", target.height);
  cJSON_AddNumberToObject(video, "frameRate", target.frame_rate);
  cJSON_AddNumberToObject(video, "keyFrameInterval", target.key_frame_interval);
  cJSON_AddNumberToObject(video, "quality", target.quality);
  cJSON_AddNumberToObject(video, "bitRate", target.video_bit_rate);
  cJSON_AddNumberToObject(video, "scanType", target.scan_type);
  cJSON_AddStringToObject(video, "IP", target.video_ip.c_str());
  cJSON_AddNumberToObject(video, "port", target.video_port);
  cJSON_AddStringToObject(video, "globalHeader", target.video_out_of_band ? "outOfBand" : "inBand");
  add_options(video, "options", target.video_options);

  cJSON* audio = cJSON_AddObjectToObject(object, "audio");
  cJSON_AddBoolToObject(audio, "enable", target.audio_enable != 0);
  cJSON_AddStringToObject(audio, "codec", codec_name(target.audio_codec));
  cJSON_AddNumberToObject(audio, "sampleRate", target.audio_sample_rate);
  cJSON_AddNumberToObject(audio, "channels", target.audio_channels);
  cJSON_AddNumberToObject(audio, "bitRate", target.audio_bit_rate);
  cJSON_AddStringToObject(audio, "IP", target.audio_ip.c_str());
  cJSON_AddNumberToObject(audio, "port", target.audio_port);
  cJSON_AddStringToObject(audio, "globalHeader", target.audio_out_of_band ? "outOfBand" : "inBand");
  cJSON_AddArrayToObject(audio, "options");

  cJSON* mux = cJSON_AddObjectToObject(object, "mux");
  cJSON_AddNumberToObject(mux, "bitRate", target.mux_bit_rate);
  cJSON_AddBoolToObject(mux, "cbr", false);

  cJSON* rtmp = cJSON_AddObjectToObject(object, "rtmp");
  cJSON_AddStringToObject(rtmp, "flashVer", target.rtmp_flash_ver.c_str());
  cJSON_AddStringToObject(rtmp, "swfUrl", target.rtmp_swf_url.c_str());
  cJSON_AddStringToObject(rtmp, "user", target.rtmp_user.c_str());
  cJSON_AddStringToObject(rtmp, "passwd", target.rtmp_pass.c_str());
  return object;
}

JsonPtr channel_object(const LegacyChannel& channel) {
  JsonPtr object(cJSON_CreateObject());
  cJSON_AddBoolToObject(object.get(), "enable", channel.enable != 0);

  cJSON* input = cJSON_AddObjectToObject(object.get(), "input");
  cJSON* sources = cJSON_AddArrayToObject(input, "sources");
  for (int i = 0; i < channel.num_inputs; ++i) {
    // the array owns each source from here on
    cJSON_AddItemToArray(sources,
                         source_object(channel.sources[static_cast<std::size_t>(i)], channel));
  }
  cJSON_AddArrayToObject(input, "formatOptions");
  cJSON_AddStringToObject(input, "customOptions", channel.input_custom_options.c_str());
  add_map_values(input, channel.map_text);
  cJSON* filters = cJSON_AddArrayToObject(input, "filters");
  for (int i = 0; i < channel.num_filters; ++i) {
    const std::string& filter = channel.filters[static_cast<std::size_t>(i)];
    // A counted filter that never got a text would hand the transcoder an empty expression.
    if (!filter.empty()) cJSON_AddItemToArray(filters, cJSON_CreateString(filter.c_str()));
  }

  cJSON* output = cJSON_AddObjectToObject(object.get(), "output");
  cJSON* targets = cJSON_AddArrayToObject(output, "targets");
  for (int i = 0; i < channel.num_outputs; ++i) {
    // the array owns each target from here on
    cJSON_AddItemToArray(targets, target_object(channel.targets[static_cast<std::size_t>(i)]));
  }
  add_options(output, "formatOptions", channel.output_format_options);
  cJSON_AddStringToObject(output, "customOptions", channel.output_custom_options.c_str());
  cJSON_AddStringToObject(object.get(), "memo", channel.memo.c_str());
  return object;
}

JsonPtr global_object(const LegacyGlobal& global) {
  JsonPtr object(cJSON_CreateObject());
  cJSON* root = object.get();
  cJSON_AddNumberToObject(root, "log", global.log);
  cJSON_AddNumberToObject(root, "httpPort", global.http_port);
  cJSON_AddBoolToObject(root, "sslEnable", false);
  cJSON_AddStringToObject(root, "ipACL", "");
  cJSON_AddBoolToObject(root, "autoRun", global.auto_start != 0);
  cJSON_AddNumberToObject(root, "autoRestart", global.auto_restart);
  cJSON_AddStringToObject(root, "altInput", "");
  cJSON_AddBoolToObject(root, "folderRecur", global.folder_recur != 0);
  cJSON_AddBoolToObject(root, "folderShuffle", global.folder_shuffle != 0);
  // A password of the tag-format file goes in clear once; the load turns it into its hash.
  if (!global.login_pass.empty()) {
    cJSON_AddStringToObject(root, kLoginPassKey, global.login_pass.c_str());
  }
  return object;
}

}  // namespace

std::string legacy_write(const LegacyRecords& records) {
  std::string out = "{\n  \"name\": \"Vantorix Configuration File\",\n  \"global\": ";
  print_value(out, global_object(records.global).get(), 1);
  out += ",\n  \"channels\": [\n";
  bool first = true;
  for (const LegacyChannel& channel : records.channels) {
    if (channel.num_inputs <= 0 || channel.num_outputs <= 0) continue;
    if (!first) out += ",\n";
    first = false;
    out += indent(2);
    print_value(out, channel_object(channel).get(), 2);
  }
  out += first ? "  ]\n}\n" : "\n  ]\n}\n";
  return out;
}

}  // namespace vx
