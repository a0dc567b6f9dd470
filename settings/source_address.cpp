#include "settings/source_address.h"

#include <algorithm>
#include <utility>

#include "config/document.h"
#include "config/document_check.h"
#include "settings/capture_device_text.h"
#include "vocabulary/ascii.h"
#include "vocabulary/formats.h"
#include "vocabulary/text_format.h"
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
static_assert(kSourceTypes[kSourceTypeCount - 1].type == T::mmst);

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

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

EditRefusal config_refusal(const char* text, const char* focus) {
  return {{"Config Error", text, MessageIcon::information}, focus};
}

// The type and address the cells show for a first source.
struct ShownSource {
  SourceType type = T::file;
  std::string_view address;
};

ShownSource shown_source(const cJSON* source) {
  const std::string_view url = config_string(source, "url");
  ShownSource shown{T::file, url};
  if (auto type = type_of_format(config_string(source, "format"))) {
    shown.type = *type;
    return shown;
  }
  for (const SchemeRule& rule : kSchemeRules) {
    if (!rule.shown || !rule_matches(rule, url)) continue;
    shown.type = rule.type;
    if (rule.cut_when_shown) shown.address = url.substr(rule.prefix.size());
    break;
  }
  return shown;
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

SourceFieldTexts source_field_texts(const cJSON* source) {
  const ShownSource shown = shown_source(source);
  return {shown.type, std::string(shown.address)};
}

SourceCellTexts source_cell_texts(const cJSON* channel) {
  SourceFieldTexts shown = source_field_texts(channel_first_source(channel));
  SourceCellTexts texts;
  texts.type = shown.type;
  texts.address = std::move(shown.address);
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

StoredSource stored_source_for(const cJSON* source, SourceType chosen, std::string_view address) {
  const ShownSource shown = shown_source(source);
  const std::string_view typed = without_blanks(address);
  StoredSource stored;
  if (chosen == shown.type && typed == without_blanks(shown.address)) {
    stored.type = shown.type;
    stored.kept = true;
    stored.format = config_string(source, "format");
    stored.url = config_string(source, "url");
    return stored;
  }
  stored.type = recognised_source_type(typed, chosen);
  const std::string_view format = config_string(source, "format");
  const bool session = format_id_from_name(format) == FormatId::rtp_native;
  stored.format =
      session && stored.type == shown.type ? format : source_type_entry(stored.type).format;
  stored.url = completed_source_address(stored.type, typed);
  return stored;
}

std::optional<EditRefusal> source_cells_refusal(SourceType chosen, std::string_view address,
                                                std::string_view bind,
                                                std::optional<SourceType> blank_type,
                                                std::optional<int> number, int row_count) {
  const std::string_view typed = without_blanks(address);
  const SourceType type = recognised_source_type(typed, chosen);
  const bool blank_allowed = blank_type == type;  // an RTP session needs no address
  const bool quotes_allowed = type == T::dshow;
  const bool readable = (typed.empty() && blank_allowed) ||
                        (!typed.empty() && !holds_control_character(typed) &&
                         (quotes_allowed ? read_capture_device_text(typed).has_value()
                                         : typed.find('"') == std::string_view::npos));
  if (!readable) {
    return config_refusal("Error: Channel source address invalid!", kSourceAddressControl);
  }
  if (number && !bind_is_valid(config_int_from_text(bind), *number, row_count)) {
    return config_refusal("Error: Bind channel invalid!", kSourceBindControl);
  }
  return std::nullopt;
}

}  // namespace vx
