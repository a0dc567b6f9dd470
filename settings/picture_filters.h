// The three picture filter tabs of the advanced video settings (Crop/Pad, Blur/Sharpen, Overlay):
// their state records, the filter text each builds and recognises, and their place in the
// channel's input "filters" array.
#pragma once

#include <cjson/cJSON.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

// Each filter text is cut to this many bytes when stored in the channel.
inline constexpr std::size_t kFilterTextMaxBytes = 1000;

// The slider ranges of the Blur/Sharpen tab; strength is in tenths.
inline constexpr std::int32_t kBlurRadiusMin = 1;
inline constexpr std::int32_t kBlurRadiusMax = 6;
inline constexpr std::int32_t kBlurStrengthMin = 1;
inline constexpr std::int32_t kBlurStrengthMax = 15;

// The overlay text that asks for the running time stamp instead of a text of its own.
inline constexpr std::string_view kTimestampText = "%timestamp";

// The font sizes the Overlay tab offers.
inline constexpr std::int32_t kOverlayFontSizeMin = 1;
inline constexpr std::int32_t kOverlayFontSizeMax = 32767;

// The box that chooses the overlay file: its title and the kinds of file it offers, the first
// chosen at the start.
inline constexpr std::string_view kOverlayFileTitle = "Select Image/Video File to Overlay...";
inline constexpr std::array<std::string_view, 2> kOverlayFileFilters = {
    "Video/Image Files (*.gif *.png *.jpg *.bmp *.mp4 *.mkv *.avi *.ts *.mov *.mpg)",
    "All Files (*)"};

// Tab "Crop/Pad" (CropPadFilter); all sizes in pixels.
struct CropPadFilter {
  enum Mode : std::int32_t { kCrop = 0, kPad = 1 };
  bool enabled = false;
  std::int32_t mode = kCrop;
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

// Tab "Blur/Sharpen" (BlurSharpenFilter).
struct BlurSharpenFilter {
  enum Mode : std::int32_t { kBlur = 0, kSharpen = 1 };
  bool enabled = false;
  std::int32_t mode = kBlur;
  std::int32_t radius = 5;     // matrix size 2 x radius + 1
  std::int32_t strength = 10;  // tenths of the unsharp amount
};

// Tab "Overlay" (OverlayFilter): a picture or video file, or else a text, laid over the
// picture at a distance from its left or right and top or bottom edge. Texts are UTF-8.
struct OverlayFilter {
  bool enabled = false;
  std::string file;
  std::string text{kTimestampText};
  std::int32_t font_size = 16;
  std::uint8_t red = 0;
  std::uint8_t green = 255;
  std::uint8_t blue = 255;
  bool right_aligned = false;
  std::int32_t horizontal_offset = 0;
  bool bottom_aligned = false;
  std::int32_t vertical_offset = 0;
};

// build_filter of each tab: the FFmpeg filter text, or nothing while the tab is off (or, for
// crop/pad, all four sizes are 0; for the overlay, neither a file nor a text is given).
std::optional<std::string> build_filter(const CropPadFilter& tab);
std::optional<std::string> build_filter(const BlurSharpenFilter& tab);
std::optional<std::string> build_filter(const OverlayFilter& tab);

// parse_filter of each tab: when the entry is the tab's own kind of filter, the tab takes its
// values from it (read with scanf's rules, so an entry of another form fills only what matches)
// and becomes enabled; true then. Any other entry leaves the tab unchanged and gives false.
bool parse_filter(CropPadFilter& tab, std::string_view entry);
bool parse_filter(BlurSharpenFilter& tab, std::string_view entry);
bool parse_filter(OverlayFilter& tab, std::string_view entry);

// A number typed into the Radius or Strength box, clamped into its slider's range as the box
// and the slider show it.
void set_blur_radius(BlurSharpenFilter& tab, std::int32_t typed);
void set_blur_strength(BlurSharpenFilter& tab, std::int32_t typed);

// The three tabs together, as the advanced video settings dialog holds them.
struct PictureFilterTabs {
  CropPadFilter crop_pad;
  BlurSharpenFilter blur_sharpen;
  OverlayFilter overlay;
};

// Offers one entry to the crop/pad, blur/sharpen and overlay tabs, in that order.
void offer_filter(PictureFilterTabs& tabs, std::string_view entry);

// Resets the tabs, then offers them every string entry of channel."input"."filters" in array
// order; a channel without that array leaves the tabs at their initial state.
void load_picture_filters(const cJSON* channel, PictureFilterTabs& tabs);

// Empties channel."input"."filters" and appends the crop/pad and blur/sharpen filters; an overlay
// filter replaces them both, so it is then the only entry. Filters the Misc tab owns are put back
// by its own save, which runs afterwards. False (and nothing changed) when the channel has no
// "input" object holding a "filters" array.
bool save_picture_filters(cJSON* channel, const PictureFilterTabs& tabs);

}  // namespace vx
