#include "settings/capture_device_text.h"

#include <algorithm>
#include <utility>

#include "config/document.h"
#include "vocabulary/ascii.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

constexpr std::string_view kVideoPart = "video=\"";
constexpr std::string_view kAudioPart = "audio=\"";

// The query flags, in the order the device text lists them.
struct DeviceFlag {
  const char* key;
  bool CaptureDeviceText::*field;
};
constexpr DeviceFlag kDeviceFlags[] = {
    {"show_video_crossbar_connection_dialog", &CaptureDeviceText::video_crossbar_dialog},
    {"show_analog_tv_tuner_dialog", &CaptureDeviceText::video_tuner_dialog},
    {"show_audio_crossbar_connection_dialog", &CaptureDeviceText::audio_crossbar_dialog},
    {"show_analog_tv_tuner_audio_dialog", &CaptureDeviceText::audio_tuner_dialog},
};

// `text` starts with part ("video=\"") and a quoted name: the name, and text moves past it.
std::optional<std::string> take_quoted_name(std::string_view& text, std::string_view part) {
  if (text.substr(0, part.size()) != part) return std::nullopt;
  const std::size_t close = text.find('"', part.size());
  if (close == std::string_view::npos) return std::nullopt;
  std::string name(text.substr(part.size(), close - part.size()));
  text.remove_prefix(close + 1);
  return name;
}

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "1280x720": both numbers, else nothing (as "%dx%d" reads them).
void read_size(std::string_view value, CaptureDeviceText& text) {
  const std::size_t x = value.find('x');
  if (x == std::string_view::npos) return;
  const std::string width(value.substr(0, x));
  const std::string height(value.substr(x + 1));
  const std::size_t width_digits = width.find_first_not_of("0123456789");
  const std::size_t height_digits = height.find_first_not_of("0123456789");
  if (width_digits == 0 || height_digits == 0 || width.empty() || height.empty()) return;
  text.width = std::to_string(config_int_from_text(width));
  text.height = std::to_string(config_int_from_text(height));
}

void read_option(std::string_view option, CaptureDeviceText& text) {
  const std::size_t equals = option.find('=');
  const std::string_view key = option.substr(0, equals);
  const std::string_view value =
      equals == std::string_view::npos ? std::string_view() : option.substr(equals + 1);
  if (key == "video_device_number" && all_digits(value)) {
    text.video_number = config_int_from_text(value);
  } else if (key == "audio_device_number" && all_digits(value)) {
    text.audio_number = config_int_from_text(value);
  } else if (key == "s") {
    read_size(value, text);
  } else if (auto flag = std::find_if(std::begin(kDeviceFlags), std::end(kDeviceFlags),
                                      [&](const DeviceFlag& f) { return key == f.key; });
             flag != std::end(kDeviceFlags)) {
    text.*(flag->field) = value == "true";
  } else if (!option.empty()) {
    text.other_options.emplace_back(option);
  }
}

// A name goes between double quotes, and the text's options start at its first "?".
bool name_fits_device_text(std::string_view name) {
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '"' || c == '?' || ascii_is_control(c); });
}

EditRefusal device_refusal(std::string text, const char* focus) {
  return {{kCaptureDeviceDialogTitle, std::move(text), MessageIcon::error}, focus};
}

std::optional<EditRefusal> size_refusal(const CaptureDeviceText& choices) {
  if (choices.width.empty() && choices.height.empty()) return std::nullopt;
  const bool positive = all_digits(choices.width) && all_digits(choices.height) &&
                        config_int_from_text(choices.width) > 0 &&
                        config_int_from_text(choices.height) > 0;
  if (positive) return std::nullopt;
  return device_refusal("Error: Capture size invalid! Enter both width and height, or neither.",
                        kCaptureWidthControl);
}

}  // namespace

std::optional<CaptureDeviceText> read_capture_device_text(std::string_view text) {
  CaptureDeviceText read;
  std::string_view rest = text.substr(0, text.find('?'));
  if (auto video = take_quoted_name(rest, kVideoPart)) {
    read.video = std::move(*video);
    if (!rest.empty() && rest.front() == ':') rest.remove_prefix(1);
  }
  if (auto audio = take_quoted_name(rest, kAudioPart)) read.audio = std::move(*audio);
  if (!rest.empty()) return std::nullopt;
  if (const std::size_t query = text.find('?'); query != std::string_view::npos) {
    std::string_view options = text.substr(query + 1);
    while (!options.empty()) {
      const std::size_t amp = options.find('&');
      read_option(options.substr(0, amp), read);
      options = amp == std::string_view::npos ? std::string_view() : options.substr(amp + 1);
    }
  }
  return read;
}

std::variant<std::string, EditRefusal> capture_device_text(const CaptureDeviceText& choices) {
  if (!name_fits_device_text(choices.video)) {
    return device_refusal("Error: The video device name \"" + choices.video +
                              "\" cannot be written into a source address.",
                          kCaptureVideoControl);
  }
  if (!name_fits_device_text(choices.audio)) {
    return device_refusal("Error: The audio device name \"" + choices.audio +
                              "\" cannot be written into a source address.",
                          kCaptureAudioControl);
  }
  if (auto refusal = size_refusal(choices)) return *refusal;
  std::string text;
  if (!choices.video.empty()) text.append(kVideoPart).append(choices.video).push_back('"');
  if (!choices.video.empty() && !choices.audio.empty()) text.push_back(':');
  if (!choices.audio.empty()) text.append(kAudioPart).append(choices.audio).push_back('"');
  std::string options;
  if (!choices.video.empty() && choices.video_number > 0) {
    append_format(options, "video_device_number=%d&", choices.video_number);
  }
  if (!choices.audio.empty() && choices.audio_number > 0) {
    append_format(options, "audio_device_number=%d&", choices.audio_number);
  }
  if (!choices.width.empty()) options += "s=" + choices.width + "x" + choices.height + "&";
  for (const DeviceFlag& flag : kDeviceFlags) {
    if (choices.*(flag.field)) options.append(flag.key).append("=true&");
  }
  for (const std::string& option : choices.other_options)
    options.append(option).push_back('&');
  if (!options.empty()) {
    options.pop_back();
    text += "?" + options;
  }
  return text;
}

}  // namespace vx
