#include "window_logic/source_cells.h"

#include <algorithm>
#include <utility>

#include "config/document.h"
#include "config/json.h"
#include "devices/decklink.h"
#include "vocabulary/formats.h"

namespace vx {
namespace {

using T = SourceType;

// The member `key` of object as the given kind, replacing anything else under that key.
cJSON* writable_member(cJSON* object, const char* key, bool array) {
  cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (array ? cJSON_IsArray(item) : cJSON_IsObject(item)) return item;
  config_set_item(object, key, JsonPtr(array ? cJSON_CreateArray() : cJSON_CreateObject()));
  return cJSON_GetObjectItemCaseSensitive(object, key);
}

// "input" "sources" [0], made when missing.
cJSON* writable_first_source(cJSON* channel) {
  cJSON* sources = writable_member(writable_member(channel, "input", false), "sources", true);
  cJSON* first = cJSON_GetArrayItem(sources, 0);
  if (cJSON_IsObject(first)) return first;
  if (first == nullptr) {
    cJSON_AddItemToArray(sources, cJSON_CreateObject());  // the array owns it
  } else {
    cJSON_ReplaceItemInArray(sources, 0, cJSON_CreateObject());  // the array owns it
  }
  return cJSON_GetArrayItem(sources, 0);
}

JsonPtr string_array(const std::vector<std::string>& texts) {
  JsonPtr array(cJSON_CreateArray());
  for (const std::string& text : texts)
    cJSON_AddItemToArray(array.get(), cJSON_CreateString(text.c_str()));
  return array;
}

}  // namespace

SourceBrowse source_browse(SourceType type) {
  switch (type) {
    case T::file:
      return SourceBrowse::file_menu;
    case T::dshow:
      return SourceBrowse::capture_device;
    case T::decklink:
      return SourceBrowse::decklink;
    case T::ndi:
      return SourceBrowse::ndi;
    default:
      return SourceBrowse::none;
  }
}

// ---------------------------------------------------------------------------------------------

SourceCells::SourceCells(std::function<int()> row_count) : row_count_(std::move(row_count)) {}

void SourceCells::open(int row, const cJSON* channel) {
  SourceCellTexts texts = source_cell_texts(channel);
  type_ = texts.type;
  address = std::move(texts.address);
  bind = std::move(texts.bind);
  memo = std::move(texts.memo);
  const cJSON* source = channel_first_source(channel);
  const char* format = config_string(source, "format");
  kept_format_ = format_id_from_name(format) == FormatId::rtp_native ? format : "";
  kept_type_ = type_;
  clear_video_options_ = false;
  format_options_.reset();
  row_ = row;
}

void SourceCells::close() {
  row_.reset();
  kept_format_.clear();
  clear_video_options_ = false;
  format_options_.reset();
}

std::optional<EditRefusal> SourceCells::check() const {
  return source_cells_refusal(type_, address, bind,
                              kept_format_.empty() ? std::nullopt : std::optional(kept_type_),
                              row_ ? std::optional(*row_ + 1) : std::nullopt, row_count_());
}

void SourceCells::commit(cJSON* channel) {
  if (!cJSON_IsObject(channel)) return;
  const StoredSource stored = stored_source_for(channel_first_source(channel), type_, address);
  type_ = stored.type;
  cJSON* source = writable_first_source(channel);
  if (!stored.kept) {
    config_set_string(source, "format", stored.format);
    config_set_string(source, "url", stored.url);
  }
  if (clear_video_options_) {
    config_set_item(writable_member(source, "video", false), "options", string_array({}));
  }
  if (format_options_) {
    config_set_item(writable_member(channel, "input", false), "formatOptions",
                    string_array(*format_options_));
  }
  // Done once: what the advanced panels write afterwards must survive the next commit.
  clear_video_options_ = false;
  format_options_.reset();
  const int bound = config_int_from_text(bind);
  if (bound < 1) {
    cJSON_DeleteItemFromObjectCaseSensitive(channel, "bind");
  } else {
    config_set_int(channel, "bind", bound);
  }
  config_set_string(channel, "memo", memo);
}

std::optional<EditRefusal> SourceCells::close_checked(cJSON* channel) {
  if (!row_) return std::nullopt;
  if (auto refusal = check()) return refusal;
  commit(channel);
  close();
  return std::nullopt;
}

void SourceCells::choose_type(SourceType type) {
  if (type == type_) return;
  type_ = type;
  address = default_source_address(type);
  kept_format_.clear();
  clear_video_options_ = true;
  format_options_.emplace();
}

void SourceCells::take_capture_device(std::string device_text) {
  address = std::move(device_text);
}

void SourceCells::take_decklink(const DeckLinkChoice& choice) {
  address = choice.name;
  format_options_.emplace();
  if (choice.mode) format_options_->push_back(decklink_format_code_option(choice.mode->code));
}

void SourceCells::take_ndi(const NdiChoice& choice) {
  address = choice.name;
  format_options_ = {"-wait_sources " + std::to_string(choice.timeout_seconds)};
}

void SourceCells::take_path(std::string path) {
  address = std::move(path);
}

}  // namespace vx
