// The checks an edited target passes before it is taken, shared by the window's editor panel and
// the administration server (which answers the browser page with them): the rules the shown
// values must keep, the encoders this system can run, and CBR's need of a video bit rate.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "settings/advanced_format.h"
#include "settings/editor_values.h"

namespace vx {

// An edit that cannot be taken: the box the operator is shown and the control that gets the
// focus afterwards (the piece's own name for it; "" for none).
struct EditRefusal {
  DialogMessage message;
  std::string focus;
};

// The names of the controls a refusal puts the focus on.
inline constexpr const char* kTargetUrlControl = "target_url";
inline constexpr const char* kVideoEncodingControl = "video_encoding";
inline constexpr const char* kAudioEncodingControl = "audio_encoding";
inline constexpr const char* kMuxBitrateControl = "mux_bitrate";

// The first rule the values break: the message (caption "Settings Error", or "Setting Error"
// for duplicated stream names) and the control that gets the focus. Addresses are judged
// without the blanks around them, as they are stored.
std::optional<EditRefusal> validate_editor_values(
    const EditorValues& values, const std::vector<std::string>& other_stream_names);

// The encoders of the ffmpeg the transcoders run: asked once per binary, then read from the
// user's cache.
std::set<std::string> available_encoders();

// Why this system cannot encode `codec` (the entry `entry_text` stands for): a MainConcept
// encoder without the plug-in (global "omxPath"), or an encoder the ffmpeg lacks (`encoders`
// empty: unknown, none is refused). nullopt when it can.
std::optional<DialogMessage> encoder_refusal(std::string_view codec, std::string_view entry_text,
                                             std::string_view plugin_core_path,
                                             const std::set<std::string>& encoders);

// CBR needs a video bit rate: the warning when it is switched on without one.
std::optional<DialogMessage> cbr_refusal(bool on, std::string_view video_bitrate);

}  // namespace vx
