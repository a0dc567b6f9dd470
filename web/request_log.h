// The administration server's request log: one line for every call of the request handler,
// appended to the file beside the configuration file ("morvi_cgi.log").
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace vx {

// "[YYYY/MM/DD hh:mm:ss] METHOD URL from a.b.c.d:port\n" in local time. Control bytes of the
// method and URL (which arrive percent-decoded) are written as "\xHH", so a request cannot
// forge or break lines of the log.
std::string request_log_line(std::time_t now, std::string_view method, std::string_view url,
                             std::uint32_t client_address_network_order, std::uint16_t client_port);

// "[YYYY/MM/DD hh:mm:ss] text\n": something the program itself has to tell whoever reads the log
// (a configuration file it could not read as it stands), control bytes escaped the same way.
std::string request_log_note(std::time_t now, std::string_view text);

// Appends the line; a file that cannot be opened loses the line and nothing else.
void request_log_append(const std::string& path, std::string_view line);

}  // namespace vx
