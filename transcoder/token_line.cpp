#include "transcoder/token_line.h"

#include "vocabulary/transcoder_protocol.h"

namespace vx {

std::optional<std::string> argument_line_from(std::string_view first_line, std::string& error) {
  if (!first_line.empty() && first_line.back() == '\r') first_line.remove_suffix(1);
  const std::size_t space = first_line.find(' ');
  if (first_line.substr(0, space) != kTranscoderToken) {
    error = "morvi-transcoder: the access token is missing or wrong; nothing started";
    return std::nullopt;
  }
  std::string_view arguments =
      space == std::string_view::npos ? std::string_view() : first_line.substr(space + 1);
  if (arguments.find_first_not_of(" \t") == std::string_view::npos) {
    error = "morvi-transcoder: the argument line is empty; nothing started";
    return std::nullopt;
  }
  return std::string(arguments);
}

}  // namespace vx
