// The advanced video settings without windows: the encoder tab (profile, level, pixel format,
// preset, threads), the Misc tab (aspect, scan type, NVIDIA GPU, GPU decoding) and the host that
// loads and saves them, with the picture-filter tabs, over one channel object.
#pragma once

#include <cjson/cJSON.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "vocabulary/codecs.h"

namespace vx {

// ---------------------------------------------------------------------------------------------
// Tables of the encoder tab

// How a preset position becomes option text for one codec.
enum class PresetValue {
  none,      // nothing is written (omx265: the slider is shown but the encoder takes no level)
  name,      // prefix + names[p]
  position,  // prefix + p + suffix, and nothing when p is 0
  reversed,  // prefix + (reverse_base - p): the slider goes towards quality, the option towards
             // speed
};

struct PresetRange {
  std::string_view codec;  // configuration codec name
  std::int32_t minimum;
  std::int32_t maximum;
  std::int32_t default_position;
  PresetValue value;
  std::span<const std::string_view> names;  // only for PresetValue::name
  std::int32_t reverse_base;                // only for PresetValue::reversed
  std::string_view prefix;
  std::string_view suffix;
};

std::span<const std::string_view> x264_preset_names();
std::span<const std::string_view> nvenc_preset_names();
std::span<const std::string_view> amf_preset_names();

// One row per codec with a preset slider; a codec without a row disables the encoder tab.
std::span<const PresetRange> preset_range_table();
const PresetRange* preset_range(CodecId codec);

struct ProfileList {
  std::string_view codec;
  std::span<const std::string_view> profiles;  // offered after "default"
};
std::span<const ProfileList> profile_list_table();

struct PixelFormatRule {
  std::string_view profile_part;  // "" matches every profile (the last rule)
  std::string_view pixel_format;
};
// Ordered: the first rule whose part occurs in the profile text (case-sensitive) wins.
std::span<const PixelFormatRule> pixel_format_rules();
std::string_view pixel_format_for_profile(std::string_view profile);

std::span<const std::string_view> level_choices();
std::span<const std::string_view> thread_choices();

// The number written as "-threads:v": leading sign and decimal digits, capped at 8; 0 for none.
std::int32_t threads_to_write(std::string_view threads_text);

// ---------------------------------------------------------------------------------------------
// Encoder tab

// The first entry of every profile list, and the profile that writes no profile option.
inline constexpr std::string_view kDefaultProfile = "default";

struct VideoEncoderSettings {
  std::string profile{kDefaultProfile};
  std::string level = "default";
  std::string threads = "auto";
  std::int32_t preset_position = 0;  // may lie outside the slider after a load; see save

  // What the window shows enabled and offers; set by load.
  bool controls_enabled = false;
  bool profile_list_enabled = false;
  bool level_enabled = false;
  bool threads_enabled = false;
  std::int32_t slider_minimum = 0;
  std::int32_t slider_maximum = 0;
  std::span<const std::string_view> profile_choices;  // after "default"; empty without a row

  cJSON* video = nullptr;  // the target's "video" object; not owned

  // Back to the initial state, forgetting the video object.
  void reset() { *this = VideoEncoderSettings{}; }
  // Starts from the initial state, then reads the options of the video object (may be null).
  void load(cJSON* video_object);
  // Replaces the video object's "options" entries with this tab's; nothing without a video
  // object, and nothing is created when "options" is not an array.
  void save() const;
  // The preset name the save writes for the current position (a position beyond the names
  // gives the nearest one); empty when the codec's presets are numbers or there is no codec row.
  std::string_view preset_name() const;
};

// ---------------------------------------------------------------------------------------------
// Misc tab

enum class DecoderFamily { none, cuda, qsv, netint };

struct DecoderChoice {
  std::int32_t index;
  std::string_view list_text;
  std::string_view option_text;  // written to the source options and searched for on load
  DecoderFamily family;
};
std::span<const DecoderChoice> decoder_choice_table();
// The row at the index, clamped into the table.
const DecoderChoice& decoder_choice_row(std::int32_t index);

std::span<const std::string_view> scan_type_texts();
inline constexpr std::int32_t kScanTypeDeinterlace = 1;
inline constexpr std::uint32_t kMaxGpuNumber = 32767;

struct DialogWarning {
  std::string_view text;
  std::string_view title;
};
inline constexpr DialogWarning kAspectWarning{
    "Video Size not specified in channel setting.\nAspect ratio ignored.", "Video Aspect Ratio"};

struct VideoMiscSettings {
  bool aspect_override = false;
  std::int32_t scan_type = 0;       // 0..3
  std::uint32_t gpu_number = 0;     // 0 = none given
  std::int32_t decoder_choice = 0;  // index into decoder_choice_table
  bool gpu_number_enabled = false;  // only NVENC encoders take a GPU number

  cJSON* source_options = nullptr;  // first source's video "options" array; not owned
  cJSON* video = nullptr;           // target's "video" object; not owned
  cJSON* filters = nullptr;         // input "filters" array; not owned

  void reset() { *this = VideoMiscSettings{}; }
  // Starts from the initial state, then reads the three (each may be null).
  void load(cJSON* source_options_array, cJSON* video_object, cJSON* filters_array);
  // Nothing unless all three are present. Returns the warning the window shows when the aspect
  // override is on without a video size; the rest of the save still happens.
  std::optional<DialogWarning> save();
};

// ---------------------------------------------------------------------------------------------
// Host

// A picture-filter tab (crop/pad, blur/sharpen, overlay) as the host sees it.
class VideoFilterTab {
 public:
  virtual ~VideoFilterTab() = default;
  virtual void reset() = 0;
  virtual void parse_filter(std::string_view filter) = 0;
  virtual std::optional<std::string> build_filter() const = 0;
};

inline constexpr std::size_t kMaxFilterBytes = 1000;

inline constexpr std::string_view kVideoSettingsTitle = "Advanced Video Settings";

inline constexpr std::array<std::string_view, 5> kVideoSettingsTabCaptions = {
    "H.264/HEVC/VPX/AV1 Encodings", "Crop/Pad", "Blur/Sharpen", "Overlay", "Misc."};

class AdvancedVideoSettings {
 public:
  // The filter tabs are not owned and may be null (then they take no part).
  AdvancedVideoSettings(VideoFilterTab* crop_pad = nullptr, VideoFilterTab* blur_sharpen = nullptr,
                        VideoFilterTab* overlay = nullptr)
      : crop_pad_(crop_pad), blur_sharpen_(blur_sharpen), overlay_(overlay) {}

  // Remembers the channel (not owned; it must stay alive until the next load_channel) and fills
  // every tab from it, starting each from its initial state.
  void load_channel(cJSON* channel, std::int32_t target_index);
  // Writes every tab into the remembered channel; always true, and nothing without a channel.
  bool save_channel();

  VideoEncoderSettings& encoder() { return encoder_; }
  VideoMiscSettings& misc() { return misc_; }
  // The warning of the last save_channel, if any.
  const std::optional<DialogWarning>& last_warning() const { return last_warning_; }

 private:
  void attach_tabs();

  VideoFilterTab* crop_pad_;
  VideoFilterTab* blur_sharpen_;
  VideoFilterTab* overlay_;
  VideoEncoderSettings encoder_;
  VideoMiscSettings misc_;
  cJSON* channel_ = nullptr;
  std::int32_t target_index_ = 0;
  std::optional<DialogWarning> last_warning_;
};

}  // namespace vx
