// What the desktop's channel list shows, without any toolkit: the text of each column for a
// channel, the icon of a state, the tool tip under the pointer, which hover buttons a row offers,
// and the colour of a load meter cell. The window draws these records and nothing else.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vocabulary/channel_state.h"

namespace vx {

enum class ChannelColumn { number, source, bind, memo, status };

// The texts of columns 0 to 3 for the channel at `index` (0-based): its number, its first
// source's "url", its "bind" when above 0, its "memo".
struct ChannelRowTexts {
  std::string number;
  std::string source;
  std::string bind;
  std::string memo;
};
ChannelRowTexts channel_row_texts(const cJSON* channel, int index);
// The rows of the channels stored in the document in force (at most kMaxChannels), and the row
// of one of them (nullopt when the document has no such channel), read under the core lock
// (taken here).
std::vector<ChannelRowTexts> stored_channel_row_texts();
std::optional<ChannelRowTexts> stored_channel_row_texts(int row);

// The three status pictures: idle; extract, running or preview; stopping or no signal.
enum class StatusIcon { idle, active, stopping };
StatusIcon status_icon(ChannelState state);

// The tip over a cell: the whole "Media Source" text there, the hint anywhere else; a tip over
// 79 characters is cut to 76 characters (never inside one) and "...".
inline constexpr const char* kChannelListHint = "Tips: Double click a channel to modify settings.";
std::string channel_list_tip(ChannelColumn column, std::string_view source_text);
// A tip is broken into lines at most this wide (pixels at 96 dots per inch) and stays this long.
inline constexpr int kChannelListTipWidth = 250;
inline constexpr int kChannelListTipMilliseconds = 20000;

// The buttons placed on the row under the pointer. None on the row whose source cells are open.
struct HoverButtons {
  bool start = false;     // idle: a small button at the right end of the Status cell
  bool stop = false;      // any other state: over the whole Status cell
  bool previous = false;  // running a folder: step back one file
  bool next = false;      // running a folder: step on one file
};
HoverButtons hover_buttons(ChannelState state, bool plays_a_folder, bool cells_open);

// A load meter cell at `percent`: green-yellow at 0, yellow at 50, red at 100. Figures outside
// 0 to 100 (a GPU counter can report more) are clamped for the colour; the text shows the figure.
struct LoadCellColour {
  int red = 0;
  int green = 0;
  int blue = 0;
};
LoadCellColour load_cell_colour(int percent);
std::string load_cell_text(int percent);

}  // namespace vx
