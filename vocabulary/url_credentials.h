// What of a URL must never be shown: the user and password before its host. The channel log
// and the transcoder's reports name URLs without them, and what ffmpeg and yt-dlp print passes
// through text_without_url_credentials on its way to the log.
#pragma once

#include <string>
#include <string_view>

namespace vx {

// The URL without the user and password it may carry ("rtmp://op:pw@host/app" gives
// "rtmp://host/app"); a text without "://" stays as it is.
std::string url_without_credentials(std::string_view url);

// Every URL in a free text ("Output #0, flv, to 'rtmp://op:pw@h/live':") without its user and
// password; a URL's authority ends at '/', '?', '#', a blank, a quote or a line end.
std::string text_without_url_credentials(std::string_view text);

// The argument line as the channel log shows it: as it is when no argument carries a user or
// password, else every argument without them, written again as append_argument writes it.
std::string argument_line_without_credentials(std::string_view line);

}  // namespace vx
