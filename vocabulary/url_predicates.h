// Predicates over source and target URLs that decide how the engine reads and writes them.
// All comparisons ignore ASCII case; an empty text stands for an absent one.
#pragma once

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

}  // namespace vx
