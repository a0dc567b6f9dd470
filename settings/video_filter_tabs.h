// The crop/pad, blur/sharpen and overlay tabs as the advanced video settings host sees them:
// each record behind the host's tab interface, so the host loads and saves the real tabs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/advanced_video.h"
#include "settings/picture_filters.h"

namespace vx {

template <typename Record>
class PictureFilterTab final : public VideoFilterTab {
 public:
  void reset() override { record = Record{}; }
  void parse_filter(std::string_view filter) override { vx::parse_filter(record, filter); }
  std::optional<std::string> build_filter() const override { return vx::build_filter(record); }

  Record record;  // what the window shows and edits
};

// The three tabs together, wired into one host.
struct VideoSettingsTabs {
  PictureFilterTab<CropPadFilter> crop_pad;
  PictureFilterTab<BlurSharpenFilter> blur_sharpen;
  PictureFilterTab<OverlayFilter> overlay;
  AdvancedVideoSettings host{&crop_pad, &blur_sharpen, &overlay};

  VideoSettingsTabs() = default;
  VideoSettingsTabs(const VideoSettingsTabs&) = delete;  // the host points at the tabs
  VideoSettingsTabs& operator=(const VideoSettingsTabs&) = delete;
};

}  // namespace vx
