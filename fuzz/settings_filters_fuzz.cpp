// Fuzzes the picture filter tabs: the first byte chooses between one filter text offered to the
// tabs and a whole channel (JSON text) loaded into them and saved back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/json.h"
#include "settings/json_fields.h"
#include "settings/picture_filters.h"

namespace {

bool has_marker(std::string_view entry) {
  for (std::string_view marker : {"crop=", "pad=", "unsharp=", "[logo]overlay=", "drawtext="}) {
    if (entry.find(marker) != std::string_view::npos) return true;
  }
  return false;
}

void check_filter_text(std::string_view entry) {
  vx::PictureFilterTabs tabs;
  tabs.crop_pad.left = 3;
  tabs.overlay.file = "kept.png";
  const std::string before = vx::build_filter(tabs.overlay).value_or("") + "|" +
                             std::to_string(tabs.crop_pad.left) + "|" +
                             std::to_string(tabs.blur_sharpen.radius);
  vx::offer_filter(tabs, entry);
  const bool claimed = tabs.crop_pad.enabled || tabs.blur_sharpen.enabled || tabs.overlay.enabled;
  // A text that is none of the three kinds must leave every tab as it was.
  if (claimed != has_marker(entry)) std::abort();
  if (!claimed && before != vx::build_filter(tabs.overlay).value_or("") + "|" +
                                std::to_string(tabs.crop_pad.left) + "|" +
                                std::to_string(tabs.blur_sharpen.radius)) {
    std::abort();
  }
  // Whatever was read must build and read back without trouble, and a blur/sharpen tab read from
  // its own built text must build that text again (for strengths the text holds exactly).
  for (const auto& filter : {vx::build_filter(tabs.crop_pad), vx::build_filter(tabs.blur_sharpen),
                             vx::build_filter(tabs.overlay)}) {
    if (filter) vx::offer_filter(tabs, *filter);
  }
  if (tabs.blur_sharpen.enabled) {
    vx::BlurSharpenFilter again;
    const auto built = vx::build_filter(tabs.blur_sharpen);
    if (!built || !vx::parse_filter(again, *built)) std::abort();
    // A strength of 0 is written as 0.0, which reads back as a blur whatever the mode was.
    const std::int32_t strength = tabs.blur_sharpen.strength;
    if (strength >= 1 && strength <= 1000000 && vx::build_filter(again) != built) std::abort();
  }
}

void check_channel(std::string_view text) {
  vx::JsonPtr channel = vx::json_parse(text);
  vx::PictureFilterTabs tabs;
  vx::load_picture_filters(channel.get(), tabs);
  if (!vx::save_picture_filters(channel.get(), tabs)) return;
  const std::vector<std::string> saved =
      vx::string_array(cJSON_GetObjectItemCaseSensitive(channel.get(), "input"), "filters");
  if (saved.size() > 2) std::abort();
  for (const std::string& entry : saved) {
    if (entry.size() > vx::kFilterTextMaxBytes) std::abort();
  }
  vx::load_picture_filters(channel.get(), tabs);
  vx::save_picture_filters(channel.get(), tabs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    check_channel(rest);
  } else {
    check_filter_text(rest);
  }
  return 0;
}
