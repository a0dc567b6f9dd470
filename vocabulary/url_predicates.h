// Predicates over source and target URLs that decide how the engine reads and writes them.
// All comparisons ignore ASCII case; an empty text stands for an absent one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vx {

// The text contains "://".
bool url_has_scheme(std::string_view text);

// A live stream is read without real-time pacing: a ".sdp" session file, or a URL with a
// scheme that is neither an ftp/sftp/http(s) download nor an HLS/DASH/m3u playlist.
bool url_is_live_stream(std::string_view url);

// rtmp://, rtmpe://, rtmps://, rtmpt://, rtmpte:// or rtmpts://
bool url_is_rtmp(std::string_view url);

bool url_is_rtp(std::string_view url);

// The host (an IPv6 one without its brackets) and the port text ("" when none) of a URL: what
// stands between "://" and its path, query or fragment, without user and password. nullopt when
// there is no scheme, no host, or something other than ":port" follows an IPv6 host.
struct UrlHostPort {
  std::string host;
  std::string port;
};
std::optional<UrlHostPort> url_host_and_port(std::string_view url);

}  // namespace vx
