// The DeckLink cards of this machine with their display modes, for capture or for playback, and
// the "/decklink_config" document made from them. The card driver sits behind DeckLinkDriver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vx {

inline constexpr std::size_t kDeckLinkMaxDevices = 10;
inline constexpr std::size_t kDeckLinkMaxModes = 50;
inline constexpr std::size_t kDeckLinkMaxNameCharacters = 999;

enum class DeckLinkDirection { capture, playback };

enum class DeckLinkFieldDominance {
  unknown,
  lower_field_first,
  upper_field_first,
  progressive,
  progressive_segmented,
};

// One display mode as the driver describes it.
struct DeckLinkModeInfo {
  std::uint32_t code = 0;  // four characters, the first in the highest byte
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t time_scale = 0;  // frames per second = time_scale / frame_duration
  std::int32_t frame_duration = 0;
  DeckLinkFieldDominance field_dominance = DeckLinkFieldDominance::unknown;
};

// What a card offers in one direction.
enum class DeckLinkModeAccess {
  listed,        // the modes were visited
  no_interface,  // the card cannot work in that direction: listed with no modes
  no_iterator,   // the driver could not list the modes: the card is left out
};

// One card as the driver sees it. Only valid during DeckLinkDriver::visit_cards.
class DeckLinkCard {
 public:
  virtual ~DeckLinkCard() = default;
  // None when the card has no attributes to read; such a card is left out.
  virtual std::optional<std::string> display_name() const = 0;
  // Calls visit with each mode of the direction, in driver order, until it returns false.
  virtual DeckLinkModeAccess visit_modes(
      DeckLinkDirection direction,
      const std::function<bool(const DeckLinkModeInfo&)>& visit) const = 0;
};

class DeckLinkDriver {
 public:
  virtual ~DeckLinkDriver() = default;
  // Calls visit with each card, in driver order, until it returns false. False when no driver
  // is installed.
  virtual bool visit_cards(const std::function<bool(const DeckLinkCard&)>& visit) = 0;
};

// The driver of this machine. Blackmagic's Linux driver is not part of this system, so it
// reports that no driver is installed: the list is empty and that is not an error.
DeckLinkDriver& decklink_system_driver();

struct DeckLinkDisplayMode {
  std::uint32_t code = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t frame_rate_numerator = 0;
  std::int32_t frame_rate_denominator = 0;
  std::int32_t interlaced = 0;  // 1 for lower or upper field first
};

struct DeckLinkDevice {
  std::string name;  // valid UTF-8, at most kDeckLinkMaxNameCharacters characters
  std::vector<DeckLinkDisplayMode> modes;
};

using DeckLinkDeviceList = std::vector<DeckLinkDevice>;

// Replaces list with the cards that can play out (playback) or capture, each with that
// direction's modes: at most kDeckLinkMaxDevices cards of at most kDeckLinkMaxModes modes.
// Returns the number of cards listed. Runs on the calling thread and touches no shared state.
int enumerate_decklink(bool playback, DeckLinkDeviceList& list,
                       DeckLinkDriver& driver = decklink_system_driver());

// The input option that selects a capture mode: "-format_code " and the code's four characters.
std::string decklink_format_code_option(std::uint32_t code);

// How a mode is listed for the operator: "1920x1080i @ 30000/1001 fps".
std::string decklink_mode_line(const DeckLinkDisplayMode& mode);

// What a playback card's mode sets in its target's video: the size and the frame rate when the
// mode has them (the rate as the editor writes it, six significant digits), and the scan type
// (2, fields, for an interlaced mode; else 0, progressive).
struct DeckLinkPlaybackVideo {
  std::optional<int> width;
  std::optional<int> height;
  std::optional<std::string> frame_rate;
  int scan_type = 0;
};
DeckLinkPlaybackVideo decklink_playback_video(const DeckLinkDisplayMode& mode);

// The "/decklink_config" document for list: each mode with its numbers, its line ("label"), its
// capture option ("formatOption") and what it sets in a playback target ("video").
std::string decklink_config_json(const DeckLinkDeviceList& list);

// The whole "/decklink_config" answer: output_arg is the query's "output=" value (null when
// absent); anything but a number other than 0 lists the capture cards.
std::string decklink_config_answer(const char* output_arg,
                                   DeckLinkDriver& driver = decklink_system_driver());

}  // namespace vx
