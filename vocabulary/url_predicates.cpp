#include "vocabulary/url_predicates.h"

#include <array>

#include "vocabulary/ascii.h"

namespace vx {
namespace {

template <std::size_t N>
bool starts_with_any(std::string_view text, const std::array<std::string_view, N>& prefixes) {
  for (std::string_view prefix : prefixes) {
    if (istarts_with(text, prefix)) return true;
  }
  return false;
}

template <std::size_t N>
bool ends_with_any(std::string_view text, const std::array<std::string_view, N>& suffixes) {
  for (std::string_view suffix : suffixes) {
    if (iends_with(text, suffix)) return true;
  }
  return false;
}

constexpr std::array<std::string_view, 4> kDownloadSchemes = {"ftp://", "sftp://", "http://",
                                                              "https://"};
constexpr std::array<std::string_view, 3> kPlaylistSuffixes = {".m3u", ".m3u8", ".mpd"};
constexpr std::array<std::string_view, 6> kRtmpSchemes = {"rtmp://",  "rtmpe://",  "rtmps://",
                                                          "rtmpt://", "rtmpte://", "rtmpts://"};

}  // namespace

bool url_has_scheme(std::string_view text) {
  return text.find("://") != std::string_view::npos;
}

bool url_is_live_stream(std::string_view url) {
  if (iends_with(url, ".sdp")) return true;
  return url_has_scheme(url) && !starts_with_any(url, kDownloadSchemes) &&
         !ends_with_any(url, kPlaylistSuffixes);
}

bool url_is_rtmp(std::string_view url) {
  return starts_with_any(url, kRtmpSchemes);
}

bool url_is_rtp(std::string_view url) {
  return istarts_with(url, "rtp://");
}

std::optional<UrlHostPort> url_host_and_port(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::nullopt;
  std::string_view authority = url.substr(scheme + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  UrlHostPort parts;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    parts.host = std::string(authority.substr(1, close - 1));
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return std::nullopt;
    if (!rest.empty()) parts.port = std::string(rest.substr(1));
  } else {
    const std::size_t colon = authority.rfind(':');
    parts.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) parts.port = std::string(authority.substr(colon + 1));
  }
  if (parts.host.empty()) return std::nullopt;
  return parts;
}

}  // namespace vx
