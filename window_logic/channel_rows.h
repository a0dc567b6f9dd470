// What the desktop's channel list shows, without any toolkit: the text of each column for a
// channel, the icon of a state, the tool tip under the pointer, which hover buttons a row offers,
// and the colour of a load meter cell. The window draws these records and nothing else (the
// picture and history cells draw window_logic/channel_glance.h and history_sparklines.h).
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/channel_history.h"
#include "vocabulary/channel_state.h"

namespace vx {

// The list's columns in their order: the texts, the state, then the live thumbnail and the
// sparklines of the last ten minutes.
enum class ChannelColumn { number, source, bind, memo, status, picture, history };

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

// The tip over a cell: the whole "Media Source" text there, cut when over 79 characters to 76
// characters (never inside one) and "..."; the row's history in figures over its sparklines
// (history_tip); the hint anywhere else.
inline constexpr const char* kChannelListHint = "Tips: Double click a channel to modify settings.";
std::string channel_list_tip(ChannelColumn column, std::string_view source_text,
                             const std::vector<HistorySample>& history);
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
