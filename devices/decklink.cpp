#include "devices/decklink.h"

#include <cerrno>
#include <cstdlib>

#include "devices/device_text.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

class AbsentDeckLinkDriver final : public DeckLinkDriver {
 public:
  bool visit_cards(const std::function<bool(const DeckLinkCard&)>&) override { return false; }
};

DeckLinkDisplayMode display_mode(const DeckLinkModeInfo& info) {
  const bool interlaced = info.field_dominance == DeckLinkFieldDominance::lower_field_first ||
                          info.field_dominance == DeckLinkFieldDominance::upper_field_first;
  return {info.code,       info.width,          info.height,
          info.time_scale, info.frame_duration, interlaced ? 1 : 0};
}

// "output=" as a number; text that is not one (or overflows) counts as 0, i.e. capture.
bool playback_requested(const char* output_arg) {
  if (!output_arg) return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(output_arg, &end, 0);
  return end != output_arg && errno == 0 && value != 0;
}

}  // namespace

DeckLinkDriver& decklink_system_driver() {
  static AbsentDeckLinkDriver driver;
  return driver;
}

int enumerate_decklink(bool playback, DeckLinkDeviceList& list, DeckLinkDriver& driver) {
  list.clear();
  const auto direction = playback ? DeckLinkDirection::playback : DeckLinkDirection::capture;
  driver.visit_cards([&](const DeckLinkCard& card) {
    if (list.size() >= kDeckLinkMaxDevices) return false;
    const std::optional<std::string> name = card.display_name();
    if (!name) return true;
    DeckLinkDevice device{device_text(*name, kDeckLinkMaxNameCharacters), {}};
    const DeckLinkModeAccess access =
        card.visit_modes(direction, [&device](const DeckLinkModeInfo& info) {
          if (device.modes.size() < kDeckLinkMaxModes) device.modes.push_back(display_mode(info));
          return device.modes.size() < kDeckLinkMaxModes;
        });
    if (access == DeckLinkModeAccess::no_iterator) return true;
    if (access == DeckLinkModeAccess::no_interface) device.modes.clear();
    list.push_back(std::move(device));
    return list.size() < kDeckLinkMaxDevices;
  });
  return static_cast<int>(list.size());
}

std::string decklink_format_code_option(std::uint32_t code) {
  std::string option = "-format_code ";
  for (int shift = 24; shift >= 0; shift -= 8) {
    option += static_cast<char>((code >> shift) & 0xFF);
  }
  return option;
}

std::string decklink_mode_line(const DeckLinkDisplayMode& mode) {
  std::string line;
  append_format(line, "%dx%d%s @ %d/%d fps", mode.width, mode.height,
                mode.interlaced != 0 ? "i" : "p", mode.frame_rate_numerator,
                mode.frame_rate_denominator);
  return line;
}

DeckLinkPlaybackVideo decklink_playback_video(const DeckLinkDisplayMode& mode) {
  DeckLinkPlaybackVideo video;
  if (mode.width > 0 && mode.height > 0) {
    video.width = mode.width;
    video.height = mode.height;
  }
  if (mode.frame_rate_numerator > 0 && mode.frame_rate_denominator > 0) {
    video.frame_rate = general_number_text(static_cast<double>(mode.frame_rate_numerator) /
                                           mode.frame_rate_denominator);
  }
  video.scan_type = mode.interlaced != 0 ? 2 : 0;
  return video;
}

namespace {

// The mode's "video" member: what it sets in a playback target.
std::string playback_video_json(const DeckLinkDisplayMode& mode) {
  const DeckLinkPlaybackVideo video = decklink_playback_video(mode);
  std::string text = "{";
  if (video.width) append_format(text, "\"width\": %d, \"height\": %d, ", *video.width, *video.height);
  if (video.frame_rate) text += "\"frameRate\": " + *video.frame_rate + ", ";
  append_format(text, "\"scanType\": %d}", video.scan_type);
  return text;
}

}  // namespace

std::string decklink_config_json(const DeckLinkDeviceList& list) {
  std::string text = "{ \"devices\": [\n";
  for (std::size_t d = 0; d < list.size(); ++d) {
    const DeckLinkDevice& device = list[d];
    text += "  { \"name\": " + device_text_json(device.name, kDeckLinkMaxNameCharacters) + ",\n";
    text += "  \"formats\": [\n";
    for (std::size_t m = 0; m < device.modes.size(); ++m) {
      const DeckLinkDisplayMode& mode = device.modes[m];
      // The code goes out as the signed 32-bit number the browser client decodes.
      text += "  { \"fmtcode\": " + std::to_string(static_cast<std::int32_t>(mode.code)) +
              ", \"width\": " + std::to_string(mode.width) +
              ", \"height\": " + std::to_string(mode.height) +
              ", \"numFrame\": " + std::to_string(mode.frame_rate_numerator) +
              ", \"denFrame\": " + std::to_string(mode.frame_rate_denominator) +
              ", \"interlaced\": " + std::to_string(mode.interlaced) +
              ", \"label\": " + device_text_json(decklink_mode_line(mode), 64) +
              ", \"formatOption\": " +
              device_text_json(decklink_format_code_option(mode.code), 64) +
              ", \"video\": " + playback_video_json(mode) + " }";
      if (m + 1 < device.modes.size()) text += ",";
      text += "\n";
    }
    text += "  ]\n  }";
    if (d + 1 < list.size()) text += ",";
    text += "\n";
  }
  text += " ]\n}\n";
  return text;
}

std::string decklink_config_answer(const char* output_arg, DeckLinkDriver& driver) {
  DeckLinkDeviceList list;
  enumerate_decklink(playback_requested(output_arg), list, driver);
  return decklink_config_json(list);
}

}  // namespace vx
