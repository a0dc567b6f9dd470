#include "vocabulary/url_credentials.h"

#include "vocabulary/transcoder_protocol.h"

namespace vx {

std::string url_without_credentials(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const std::size_t host = scheme + 3;
  const std::size_t end = url.find_first_of("/?#", host);
  const std::size_t at = url.rfind('@', end == std::string_view::npos ? url.size() : end);
  if (at == std::string_view::npos || at < host) return std::string(url);
  return std::string(url.substr(0, host)).append(url.substr(at + 1));
}

std::string text_without_url_credentials(std::string_view text) {
  std::string shown;
  std::size_t from = 0;
  for (std::size_t scheme = text.find("://"); scheme != std::string_view::npos;
       scheme = text.find("://", from)) {
    const std::size_t host = scheme + 3;
    const std::string_view authority =
        text.substr(host, text.find_first_of("/?#'\" \t\r\n", host) - host);
    const std::size_t at = authority.rfind('@');
    shown.append(text.substr(from, host - from));
    from = at == std::string_view::npos ? host : host + at + 1;
  }
  return shown.append(text.substr(from));
}

std::string argument_line_without_credentials(std::string_view line) {
  std::string shown;
  bool hidden = false;
  for (const std::string& argument : split_argument_line(line)) {
    const std::string without = url_without_credentials(argument);
    hidden = hidden || without != argument;
    append_argument(shown, without);
  }
  if (!hidden) return std::string(line);
  if (!shown.empty()) shown.pop_back();
  return shown;
}

}  // namespace vx
