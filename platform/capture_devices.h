// The host's capture devices by name: V4L2 video devices (/sys/class/video4linux) and ALSA
// capture devices (/proc/asound/pcm), in the order the system numbers them. Several devices
// may share a name.
#pragma once

#include <string>
#include <vector>

namespace vx {

struct CaptureDevice {
  std::string name;  // as shown to operators
  std::string path;  // what ffmpeg opens: "/dev/video0", "plughw:1,0"
};

// Where the system describes its devices; tests point these at folders of their own.
struct CaptureDeviceRoots {
  std::string sysfs = "/sys";
  std::string procfs = "/proc";
  std::string dev = "/dev";
};

// Video capture nodes; a camera's extra nodes (metadata, index above 0) are left out.
std::vector<CaptureDevice> list_video_capture_devices(const CaptureDeviceRoots& roots = {});

// ALSA devices that can capture, named after their PCM.
std::vector<CaptureDevice> list_audio_capture_devices(const CaptureDeviceRoots& roots = {});

}  // namespace vx
