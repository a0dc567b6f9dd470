// A channel's source as the source cells show and store it, without any toolkit: the source
// types, how a stored source fills the cells, how a typed address is completed and stored, and
// the cells' checks. The window's source cells and the administration server (for the browser
// page) both use these.
#pragma once

#include <cjson/cJSON.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "settings/editor_checks.h"

namespace vx {

// The source type choice, in the order of its entries.
enum class SourceType {
  file,
  dshow,
  decklink,
  ndi,
  ftp,
  http,
  ytdlp,
  udp,
  rtp,
  srt,
  rtsp,
  rtspt,
  rtmp,
  mms,
  mmst,
};
inline constexpr std::size_t kSourceTypeCount = 15;

struct SourceTypeEntry {
  SourceType type;
  const char* text;    // the entry shown
  const char* scheme;  // put in front of an address typed without one; "" for none
  const char* format;  // the first source's "format"
};
const std::array<SourceTypeEntry, kSourceTypeCount>& source_type_entries();
const SourceTypeEntry& source_type_entry(SourceType type);

// Focus names of the cells in their refusals.
inline constexpr const char* kSourceAddressControl = "source_address";
inline constexpr const char* kSourceBindControl = "bind";

// The type and address shown for one source object, from its "format" and "url" (a known scheme
// selects its type and, for some, is cut from the address): the source cells' for the first
// source, the standby list's for the others.
struct SourceFieldTexts {
  SourceType type = SourceType::file;
  std::string address;
};
SourceFieldTexts source_field_texts(const cJSON* source);

// What the cells show for a channel: the type and address from the first source's "format"
// and "url" (a known scheme selects its type and, for some, is cut from the address), the
// "bind" when at least 1, the "memo".
struct SourceCellTexts {
  SourceType type = SourceType::file;
  std::string address;
  std::string bind;
  std::string memo;
};
SourceCellTexts source_cell_texts(const cJSON* channel);

// The type a typed address selects (its scheme, tested in a fixed order; "http(s)://" keeps
// yt-dlp), or `chosen` when it names none of them.
SourceType recognised_source_type(std::string_view address, SourceType chosen);

// The address as stored under `type`: the type's scheme put in front of an address typed
// without any scheme, "mms://" stored as "mmsh://", and "@:" as "0.0.0.0:" for UDP and RTP.
std::string completed_source_address(SourceType type, std::string_view address);

// The address a newly chosen type starts with.
std::string default_source_address(SourceType type);

// What the first source stores once the cells read `chosen` and `address`, for the first source
// `source` as it is now. While the cells still read what it shows (the type source_cell_texts
// gives it, the address as shown up to blanks around it) it is left byte for byte as it is:
// `kept`, and the type the one shown. Otherwise: the type the typed address selects from
// `chosen`, its "format" (a stored "rtp_native", which no type offers, is kept while the type is
// the one shown) and the completed "url".
struct StoredSource {
  SourceType type = SourceType::file;
  bool kept = false;
  std::string format;
  std::string url;
};
StoredSource stored_source_for(const cJSON* source, SourceType chosen, std::string_view address);

// The first rule the cells break, or nullopt: an address that is blank (but under `blank_type`,
// a stored RTP session's type), holds a control character, or (but for a capture device text) a
// double quote, which would end the address early in the transcoder's argument line; a bind to
// the row itself or beyond the last of `row_count` rows (not checked without a `number`, the
// edited channel's from 1). The type is the one the typed address selects from `chosen`.
std::optional<EditRefusal> source_cells_refusal(SourceType chosen, std::string_view address,
                                                std::string_view bind,
                                                std::optional<SourceType> blank_type,
                                                std::optional<int> number, int row_count);

}  // namespace vx
