// The capture device text a "dshow" source's address holds (video="NAME":audio="NAME"?options),
// read and written: the capture device dialog builds it, and the source cells' check reads it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/editor_checks.h"

namespace vx {

inline constexpr const char* kCaptureDeviceDialogTitle = "Capture Device Config";
// Focus names of the dialog's controls in its refusals.
inline constexpr const char* kCaptureVideoControl = "video_device";
inline constexpr const char* kCaptureAudioControl = "audio_device";
inline constexpr const char* kCaptureWidthControl = "width";

// What a device text holds: video="NAME":audio="NAME"?options, either name may be absent.
struct CaptureDeviceText {
  std::string video;
  std::string audio;
  int video_number = 0;
  int audio_number = 0;
  std::string width;  // the capture size, as typed; both empty for none
  std::string height;
  bool video_crossbar_dialog = false;
  bool video_tuner_dialog = false;
  bool audio_crossbar_dialog = false;
  bool audio_tuner_dialog = false;
  // Query options this dialog has no box for ("rtbufsize=100M"), kept in their order.
  std::vector<std::string> other_options;
};

// Reads a device text; nullopt when it is not one (an empty text is a valid one naming nothing).
std::optional<CaptureDeviceText> read_capture_device_text(std::string_view text);

// The device text of the choices, or a refusal: a size that is not two positive numbers, or a
// device name the text cannot carry (a double quote, a "?" or a control character).
std::variant<std::string, EditRefusal> capture_device_text(const CaptureDeviceText& choices);

}  // namespace vx
