#include "transcoder/capture_devices.h"

#include <cstdlib>
#include <string_view>

namespace vx {
namespace {

struct DeviceNames {
  std::string video;
  std::string audio;
};

// "video=USB Camera:audio=Mic" (the quotes are gone after splitting); either part may be absent.
DeviceNames parse_device_text(std::string_view text) {
  DeviceNames names;
  const std::size_t audio_at = text.find("audio=");
  const bool audio_first = audio_at == 0;
  if (text.rfind("video=", 0) == 0) {
    const std::size_t end = text.find(":audio=");
    names.video = std::string(text.substr(6, end == std::string_view::npos ? end : end - 6));
    if (end != std::string_view::npos) names.audio = std::string(text.substr(end + 7));
  } else if (audio_first) {
    names.audio = std::string(text.substr(6));
  }
  return names;
}

// The dshow options that keep a meaning here, and where they go.
struct DeviceOptions {
  std::vector<std::string> video;
  std::vector<std::string> audio;
  int video_number = 0;
  int audio_number = 0;
};

DeviceOptions sort_options(const std::vector<std::string>& options) {
  DeviceOptions sorted;
  for (std::size_t i = 0; i + 1 < options.size(); i += 2) {
    const std::string& name = options[i];
    const std::string& value = options[i + 1];
    if (name == "-video_device_number") {
      sorted.video_number = std::atoi(value.c_str());
    } else if (name == "-audio_device_number") {
      sorted.audio_number = std::atoi(value.c_str());
    } else if (name == "-s" || name == "-video_size") {
      sorted.video.insert(sorted.video.end(), {"-video_size", value});
    } else if (name == "-framerate" || name == "-r") {
      sorted.video.insert(sorted.video.end(), {"-framerate", value});
    } else if (name == "-vcodec" || name == "-pixel_format") {
      sorted.video.insert(sorted.video.end(), {name == "-vcodec" ? "-input_format" : name, value});
    } else if (name == "-sample_rate" || name == "-channels") {
      sorted.audio.insert(sorted.audio.end(), {name, value});
    }
    // DirectShow's buffer size and driver dialogs have no counterpart and are dropped.
  }
  return sorted;
}

const CaptureDevice* find_device(const std::vector<CaptureDevice>& devices, const std::string& name,
                                 int number) {
  int seen = 0;
  for (const CaptureDevice& device : devices) {
    if (device.name == name && seen++ == number) return &device;
  }
  return nullptr;
}

}  // namespace

DeviceInputs map_device_input(const std::vector<std::string>& options,
                              const std::string& device_text, const CaptureDeviceRoots& roots) {
  DeviceInputs inputs;
  const DeviceNames names = parse_device_text(device_text);
  if (names.video.empty() && names.audio.empty()) {
    inputs.error = "morvi-transcoder: capture device text \"" + device_text +
                   "\" names no video= or audio= device";
    return inputs;
  }
  const DeviceOptions sorted = sort_options(options);
  if (!names.video.empty()) {
    const std::vector<CaptureDevice> devices = list_video_capture_devices(roots);
    const CaptureDevice* video = find_device(devices, names.video, sorted.video_number);
    if (video == nullptr) {
      inputs.error = "morvi-transcoder: no video capture device named \"" + names.video + "\"";
      return inputs;
    }
    inputs.arguments.insert(inputs.arguments.end(), {"-f", "v4l2"});
    inputs.arguments.insert(inputs.arguments.end(), sorted.video.begin(), sorted.video.end());
    inputs.arguments.insert(inputs.arguments.end(), {"-i", video->path});
    ++inputs.input_count;
  }
  if (!names.audio.empty()) {
    const std::vector<CaptureDevice> devices = list_audio_capture_devices(roots);
    const CaptureDevice* audio = find_device(devices, names.audio, sorted.audio_number);
    if (audio == nullptr) {
      inputs.error = "morvi-transcoder: no audio capture device named \"" + names.audio + "\"";
      inputs.arguments.clear();
      inputs.input_count = 0;
      return inputs;
    }
    inputs.arguments.insert(inputs.arguments.end(), {"-f", "alsa"});
    inputs.arguments.insert(inputs.arguments.end(), sorted.audio.begin(), sorted.audio.end());
    inputs.arguments.insert(inputs.arguments.end(), {"-i", audio->path});
    ++inputs.input_count;
  }
  return inputs;
}

}  // namespace vx
