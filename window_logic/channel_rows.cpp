#include "window_logic/channel_rows.h"

#include <algorithm>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/store.h"
#include "vocabulary/product.h"
#include "vocabulary/utf8.h"
#include "window_logic/history_sparklines.h"

namespace vx {
namespace {

constexpr std::size_t kLongestTip = 79;
constexpr std::size_t kCutTip = 76;

}  // namespace

ChannelRowTexts channel_row_texts(const cJSON* channel, int index) {
  const cJSON* source = channel_first_source(channel);
  const int bind = config_int(channel, "bind");
  return {std::to_string(index + 1), config_string(source, "url"),
          bind > 0 ? std::to_string(bind) : "", config_string(channel, "memo")};
}

std::vector<ChannelRowTexts> stored_channel_row_texts() {
  std::vector<ChannelRowTexts> rows;
  const CoreLock lock = core_lock();
  const cJSON* channel = nullptr;
  cJSON_ArrayForEach(channel, config_array(config_document(), "channels")) {
    if (rows.size() == static_cast<std::size_t>(kMaxChannels)) break;
    rows.push_back(channel_row_texts(channel, static_cast<int>(rows.size())));
  }
  return rows;
}

std::optional<ChannelRowTexts> stored_channel_row_texts(int row) {
  const CoreLock lock = core_lock();
  const cJSON* channel = cJSON_GetArrayItem(config_array(config_document(), "channels"), row);
  if (channel == nullptr) return std::nullopt;
  return channel_row_texts(channel, row);
}

StatusIcon status_icon(ChannelState state) {
  switch (state) {
    case ChannelState::idle:
      return StatusIcon::idle;
    case ChannelState::extract:
    case ChannelState::running:
    case ChannelState::preview:
      return StatusIcon::active;
    case ChannelState::no_signal:
    case ChannelState::stopping:
      break;
  }
  return StatusIcon::stopping;
}

std::string channel_list_tip(ChannelColumn column, std::string_view source_text,
                             const std::vector<HistorySample>& history) {
  if (column == ChannelColumn::history) return history_tip(history);
  const std::string_view tip = column == ChannelColumn::source ? source_text : kChannelListHint;
  if (utf8_character_count(tip) <= kLongestTip) return std::string(tip);
  return std::string(utf8_first_characters(tip, kCutTip)) + "...";
}

HoverButtons hover_buttons(ChannelState state, bool plays_a_folder, bool cells_open) {
  if (cells_open) return {};
  HoverButtons buttons;
  buttons.start = state == ChannelState::idle;
  buttons.stop = !buttons.start;
  buttons.previous = buttons.next = state == ChannelState::running && plays_a_folder;
  return buttons;
}

LoadCellColour load_cell_colour(int percent) {
  const int load = std::clamp(percent, 0, 100);
  return {std::min(4 * load + 55, 255), load < 50 ? 255 : (5 * (101 - load)) & 0xff, 0};
}

std::string load_cell_text(int percent) {
  return std::to_string(percent) + "%";
}

}  // namespace vx
