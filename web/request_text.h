// Reading a request's parts the dispatcher works on: the joined argument and cookie texts, the
// path and its channel number, and the collected POST body with its multipart cut.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

inline constexpr std::size_t kMaxPairText = 999;
inline constexpr std::size_t kUploadCapacity = 100000;

// Appends "name=value" (or the bare name when there is no value), with "&" before it when the
// text is not empty. A pair that would take the text past kMaxPairText is left out whole, so a
// later, shorter pair (the auth cookie after a large one) still gets in; returns whether it fit.
bool append_pair(std::string& text, std::string_view name, const char* value);

// The value of the member "name=..." of the argument text, up to the next "&"; nullopt when no
// member has that name ("xname=1" is another member).
std::optional<std::string> query_value(std::string_view argument_text, std::string_view name);

// Whether an "If-None-Match" header's value names the entity tag (given with its quotes): "*", or
// one of its comma-separated tags, weak ("W/") or strong, compared byte for byte.
bool entity_tag_matches(std::string_view if_none_match, std::string_view tag);

// The URL without its query.
std::string_view path_without_query(std::string_view url);

// The decimal number right after a leading "/channel" (any case); 0 when no digits follow, the
// path does not begin so, or the number is larger than kMaxChannelNumber, so that a huge number
// never wraps around to a real channel.
inline constexpr int kMaxChannelNumber = 9999;
int channel_number(std::string_view path);

// The channel number of a path that is exactly prefix, 1 to 3 decimal digits without a leading
// zero, and suffix ("/thumbnails/" "7" ".jpg"; prefix compared without regard to case); 0 for
// any other path.
int numbered_path(std::string_view path, std::string_view prefix, std::string_view suffix);

// The part of a collected body an endpoint receives. For a "multipart/form-data" content type
// (an empty one counts as absent) it is the text after the first blank line, or all of it when
// there is none, cut at the first "\r\n--" after that; otherwise the whole body.
std::string_view multipart_body(std::string_view content_type, std::string_view body);

// The body of the POST being received, bounded by kUploadCapacity. Once a chunk does not fit,
// every later chunk is dropped too, so the body is cut short rather than left with a hole.
class UploadBody {
 public:
  // Returns whether the chunk was kept.
  bool append(std::string_view chunk);
  void clear();
  std::string_view text() const { return text_; }
  bool truncated() const { return truncated_; }

 private:
  std::string text_;
  bool truncated_ = false;
};

}  // namespace vx
