// Capture-device inputs: the device text the engine passes ("video=NAME:audio=NAME" after its
// dshow options) becomes a V4L2 input and/or an ALSA input found by device name. The engine
// writes names, not device nodes, because a node's number changes between boots and plug-ins
// while stored channels keep naming their devices (see engine/command_line.cpp,
// append_device_input); the name is resolved here, when the transcoder starts.
#pragma once

#include <string>
#include <vector>

#include "platform/capture_devices.h"

namespace vx {

struct DeviceInputs {
  std::vector<std::string> arguments;  // "-f v4l2 ... -i /dev/video0 -f alsa ... -i plughw:1,0"
  int input_count = 0;                 // 1, or 2 when video and audio are both captured
  std::string error;                   // set when the text names no usable device
};

// `options` are the arguments between "-f dshow" and "-i"; `device_text` is the argument of "-i".
DeviceInputs map_device_input(const std::vector<std::string>& options,
                              const std::string& device_text, const CaptureDeviceRoots& roots = {});

}  // namespace vx
