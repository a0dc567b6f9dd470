#include "window_logic/source_cells.h"

#include <algorithm>
#include <utility>

#include "config/document.h"
#include "config/document_check.h"
#include "config/json.h"
#include "devices/decklink.h"
#include "vocabulary/ascii.h"
#include "vocabulary/formats.h"
#include "vocabulary/url_predicates.h"

namespace vx {
namespace {

using T = SourceType;

constexpr std::array<SourceTypeEntry, kSourceTypeCount> kSourceTypes = {{
    {T::file, "file", "", "file"},
    {T::dshow, "dshow", "", "device"},
    {T::decklink, "decklink", "", "decklink"},
    {T::ndi, "newtek ndi", "", "ndi"},
    {T::ftp, "ftp://", "ftp://", "file"},
    {T::http, "http://", "http://", "file"},
    {T::ytdlp, "yt-dlp", "", "ytdlp"},
    {T::udp, "udp://", "udp://", "file"},
    {T::rtp, "rtp://", "rtp://", "file"},
    {T::srt, "srt://", "srt://", "srt"},
    {T::rtsp, "rtsp://", "rtsp://", "file"},
    {T::rtspt, "rtspt://", "rtspt://", "file"},
    {T::rtmp, "rtmp://", "rtmp://", "file"},
    {T::mms, "mms://", "mmsh://", "file"},
    {T::mmst, "mmst://", "mmst://", "file"},
}};

// The schemes a type is known by, in the order they are tested, both when the cells are filled
// from a stored address and when a typed one is committed.
struct SchemeRule {
  std::string_view prefix;  // "" for the RTMP family
  SourceType type;
  bool cut_when_shown;  // the address box shows the address without it
  bool shown;           // recognised when filling (a stored "mms://" is not)
};
constexpr SchemeRule kSchemeRules[] = {
    {"ftp://", T::ftp, false, true},   {"sftp://", T::ftp, false, true},
    {"http://", T::http, false, true}, {"https://", T::http, false, true},
    {"rtsp://", T::rtsp, true, true},  {"rtspt://", T::rtspt, true, true},
    {"", T::rtmp, false, true},        {"mms://", T::mms, false, false},
    {"mmsh://", T::mms, true, true},   {"mmst://", T::mmst, true, true},
    {"udp://", T::udp, true, true},    {"rtp://", T::rtp, true, true},
    {"srt://", T::srt, true, true},
};

bool rule_matches(const SchemeRule& rule, std::string_view address) {
  return rule.prefix.empty() ? url_is_rtmp(address) : istarts_with(address, rule.prefix);
}

// Formats that choose their type whatever the address holds.
std::optional<SourceType> type_of_format(std::string_view format) {
  switch (format_id_from_name(format)) {
    case FormatId::device:
      return T::dshow;
    case FormatId::decklink:
      return T::decklink;
    case FormatId::ndi:
      return T::ndi;
    case FormatId::ytdlp:
      return T::ytdlp;
    default:
      return std::nullopt;
  }
}

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

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

EditRefusal config_refusal(const char* text, const char* focus) {
  return {{"Config Error", text, MessageIcon::information}, focus};
}

bool holds_control_character(std::string_view text) {
  return std::any_of(text.begin(), text.end(), ascii_is_control);
}

}  // namespace

const std::array<SourceTypeEntry, kSourceTypeCount>& source_type_entries() {
  return kSourceTypes;
}

const SourceTypeEntry& source_type_entry(SourceType type) {
  return kSourceTypes[static_cast<std::size_t>(type)];
}

SourceCellTexts source_cell_texts(const cJSON* channel) {
  const cJSON* source = channel_first_source(channel);
  const std::string_view url = config_string(source, "url");
  SourceCellTexts texts;
  texts.address = url;
  if (auto type = type_of_format(config_string(source, "format"))) {
    texts.type = *type;
  } else {
    for (const SchemeRule& rule : kSchemeRules) {
      if (!rule.shown || !rule_matches(rule, url)) continue;
      texts.type = rule.type;
      if (rule.cut_when_shown) texts.address = url.substr(rule.prefix.size());
      break;
    }
  }
  const int bind = config_int(channel, "bind");
  if (bind >= 1) texts.bind = std::to_string(bind);
  texts.memo = config_string(channel, "memo");
  return texts;
}

SourceType recognised_source_type(std::string_view address, SourceType chosen) {
  for (const SchemeRule& rule : kSchemeRules) {
    if (!rule_matches(rule, address)) continue;
    if (rule.type == T::http && chosen == T::ytdlp) return chosen;
    return rule.type;
  }
  return chosen;
}

std::string completed_source_address(SourceType type, std::string_view address) {
  std::string text(address);
  if (text.empty()) return text;  // a scheme alone is no address
  if ((type == T::mms || type == T::mmst) && istarts_with(text, "mms://")) text.erase(0, 6);
  // An address with a scheme of its own ("rtsps://" under "rtsp://") is taken as typed.
  const std::string_view scheme = source_type_entry(type).scheme;
  if (!scheme.empty() && !url_has_scheme(text)) text.insert(0, scheme);
  if (type == T::udp || type == T::rtp) replace_all(text, "@:", "0.0.0.0:");
  return text;
}

std::string default_source_address(SourceType type) {
  switch (type) {
    case T::udp:
    case T::rtp:
      return "0.0.0.0:1234";
    case T::srt:
      return "127.0.0.1:1234";
    default:
      return {};
  }
}

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

bool SourceCells::keeps_stored_format(SourceType type) const {
  return !kept_format_.empty() && type == kept_type_;
}

std::optional<EditRefusal> SourceCells::check() const {
  const std::string_view typed = trimmed(address);
  const SourceType type = recognised_source_type(typed, type_);
  const bool blank_allowed = keeps_stored_format(type);  // an RTP session needs no address
  const bool quotes_allowed = type == T::dshow;
  const bool readable = (typed.empty() && blank_allowed) ||
                        (!typed.empty() && !holds_control_character(typed) &&
                         (quotes_allowed ? read_capture_device_text(typed).has_value()
                                         : typed.find('"') == std::string_view::npos));
  if (!readable) {
    return config_refusal("Error: Channel source address invalid!", kSourceAddressControl);
  }
  const int bound = config_int_from_text(bind);
  if (row_ && !bind_is_valid(bound, *row_ + 1, row_count_())) {
    return config_refusal("Error: Bind channel invalid!", kSourceBindControl);
  }
  return std::nullopt;
}

void SourceCells::commit(cJSON* channel) {
  if (!cJSON_IsObject(channel)) return;
  const std::string_view typed = trimmed(address);
  type_ = recognised_source_type(typed, type_);
  cJSON* source = writable_first_source(channel);
  config_set_string(source, "format",
                    keeps_stored_format(type_) ? kept_format_ : source_type_entry(type_).format);
  config_set_string(source, "url", completed_source_address(type_, typed));
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
