// The administration server's request log: one line for every request, written when it ends,
// appended to the file beside the configuration file ("morvi_cgi.log"), rotated like the channel
// logs and private to the user.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace vx {

// The longest part of a URL the log keeps; the rest is left out and the line says so.
inline constexpr std::size_t kLoggedUrlLimit = 300;
inline constexpr std::uint64_t kRequestLogSizeLimit = 5000000;
inline constexpr int kRequestLogArchives = 9;

// "[YYYY/MM/DD hh:mm:ss] METHOD URL from a.b.c.d:port -> STATUS\n" in local time, STATUS the
// answer's code or "no answer" (0). A URL longer than kLoggedUrlLimit bytes is cut there and
// followed by " [URL cut, N bytes]". Control bytes of the method and URL (which arrive
// percent-decoded) are written as "\xHH", so a request cannot forge or break lines of the log.
std::string request_log_line(std::time_t now, std::string_view method, std::string_view url,
                             std::uint32_t client_address_network_order, std::uint16_t client_port,
                             unsigned status);

// "[YYYY/MM/DD hh:mm:ss] text\n": something the program itself has to tell whoever reads the log
// (a configuration file it could not read as it stands), control bytes escaped the same way.
std::string request_log_note(std::time_t now, std::string_view text);

// Appends the line (from any thread); a file that cannot be opened loses the line and nothing
// else.
void request_log_append(const std::string& path, std::string_view line);

}  // namespace vx
