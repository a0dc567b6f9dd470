#include "web/request_text.h"

#include <algorithm>

#include "vocabulary/ascii.h"

namespace vx {

bool append_pair(std::string& text, std::string_view name, const char* value) {
  const std::string_view value_text = value != nullptr ? std::string_view(value) : "";
  const std::size_t added =
      (text.empty() ? 0 : 1) + name.size() + (value != nullptr ? 1 + value_text.size() : 0);
  if (text.size() > kMaxPairText || added > kMaxPairText - text.size()) return false;
  if (!text.empty()) text += '&';
  text += name;
  if (value != nullptr) {
    text += '=';
    text += value_text;
  }
  return true;
}

std::optional<std::string> query_value(std::string_view argument_text, std::string_view name) {
  // Only a whole member counts: "xchannel=2" names no "channel".
  const std::string key = std::string(name) + "=";
  std::string_view rest = argument_text;
  while (!rest.empty()) {
    const std::string_view member = rest.substr(0, rest.find('&'));
    if (member.starts_with(key)) return std::string(member.substr(key.size()));
    rest.remove_prefix(std::min(rest.size(), member.size() + 1));
  }
  return std::nullopt;
}

std::string_view path_without_query(std::string_view url) {
  return url.substr(0, url.find('?'));
}

int channel_number(std::string_view path) {
  constexpr std::string_view kPrefix = "/channel";
  if (!istarts_with(path, kPrefix)) return 0;
  int number = 0;
  for (const char c : path.substr(kPrefix.size())) {
    if (c < '0' || c > '9') break;
    number = number * 10 + (c - '0');
    if (number > kMaxChannelNumber) return 0;
  }
  return number;
}

bool entity_tag_matches(std::string_view if_none_match, std::string_view tag) {
  while (!if_none_match.empty()) {
    const std::size_t comma = if_none_match.find(',');
    std::string_view one = if_none_match.substr(0, comma);
    if_none_match = comma == std::string_view::npos ? std::string_view()
                                                    : if_none_match.substr(comma + 1);
    while (!one.empty() && (one.front() == ' ' || one.front() == '\t')) one.remove_prefix(1);
    while (!one.empty() && (one.back() == ' ' || one.back() == '\t')) one.remove_suffix(1);
    if (one == "*") return true;
    if (one.starts_with("W/")) one.remove_prefix(2);
    if (!tag.empty() && one == tag) return true;
  }
  return false;
}

int numbered_path(std::string_view path, std::string_view prefix, std::string_view suffix) {
  if (path.size() <= prefix.size() + suffix.size() || !istarts_with(path, prefix) ||
      !iends_with(path, suffix)) {
    return 0;
  }
  const std::string_view digits =
      path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  if (digits.size() > 3 || digits.front() == '0') return 0;
  int number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number;
}

std::string_view multipart_body(std::string_view content_type, std::string_view body) {
  if (!istarts_with(content_type, "multipart/form-data")) return body;
  const std::size_t blank = body.find("\r\n\r\n");
  if (blank != std::string_view::npos) body.remove_prefix(blank + 4);
  return body.substr(0, body.find("\r\n--"));
}

bool UploadBody::append(std::string_view chunk) {
  // Below the capacity, never at it, leaving room for a terminating NUL for C readers.
  if (truncated_) return false;
  if (chunk.size() >= kUploadCapacity - text_.size()) {
    truncated_ = true;
    return false;
  }
  text_ += chunk;
  return true;
}

void UploadBody::clear() {
  text_.clear();
  text_.shrink_to_fit();
  truncated_ = false;
}

}  // namespace vx
