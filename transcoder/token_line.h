// The first line the engine writes to the transcoder: the access token, one space, the argument
// line. Nothing starts unless it is right.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vx {

// The argument line, or nothing with `error` set to the one line to print.
std::optional<std::string> argument_line_from(std::string_view first_line, std::string& error);

}  // namespace vx
