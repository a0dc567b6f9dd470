// The cells of the channel list row being edited, without any toolkit: the source type choice,
// the source address, the bind and the memo. They are filled from the channel's first input
// source, complete a typed address with its scheme when they are committed (an untouched source
// stays as it is stored), check what was typed, and take what the pickers behind the browse
// button return. The rules they follow are
// settings/source_address.h, which the administration server answers the browser page with.
#pragma once

#include <cjson/cJSON.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/source_address.h"
#include "window_logic/device_pickers.h"
#include "window_logic/editor_parts.h"

namespace vx {

// What the browse button opens for a type; none when it is not shown.
enum class SourceBrowse { none, file_menu, capture_device, decklink, ndi };
SourceBrowse source_browse(SourceType type);

// The two entries of the file menu.
inline constexpr int kSourceFileCommand = 32779;    // "Single File..."
inline constexpr int kSourceFolderCommand = 32780;  // "Folder..."

class SourceCells : public SourceCellsPart {
 public:
  // row_count: the rows of the list now (a bind beyond them is refused).
  explicit SourceCells(std::function<int()> row_count);

  void open(int row, const cJSON* channel) override;
  std::optional<int> open_row() const override { return row_; }
  std::optional<EditRefusal> close_checked(cJSON* channel) override;
  void commit(cJSON* channel) override;
  void close() override;

  // The first rule the cells break, or nullopt: an address that is blank, holds a control
  // character, or (but for a capture device text) a double quote, which would end the address
  // early in the transcoder's argument line; a bind to the row itself or beyond the last row.
  std::optional<EditRefusal> check() const;

  SourceType type() const { return type_; }
  // The operator picks a type: the address starts afresh and, once committed, the source's
  // video options and the input's format options are emptied. Picking the shown type again
  // changes nothing.
  void choose_type(SourceType type);

  std::string address;
  std::string bind;
  std::string memo;

  SourceBrowse browse() const { return source_browse(type_); }

  // Picker results: they fill the address; option changes reach the channel when committed.
  void take_capture_device(std::string device_text);
  void take_decklink(const DeckLinkChoice& choice);
  void take_ndi(const NdiChoice& choice);
  void take_path(std::string path);

 private:
  std::function<int()> row_count_;
  std::optional<int> row_;
  SourceType type_ = SourceType::file;
  // A stored format no type offers ("rtp_native"): its blank address passes while the type is
  // not changed.
  std::string kept_format_;
  SourceType kept_type_ = SourceType::file;
  bool clear_video_options_ = false;
  std::optional<std::vector<std::string>> format_options_;  // replaces "input" "formatOptions"
};

}  // namespace vx
