#include "vocabulary/transcoder_protocol.h"

#include <algorithm>
#include <array>

namespace vx {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

constexpr std::array<std::string_view, 3> kEscapedFilterOptions = {"-filter:v", "-lavfi:v",
                                                                   "-lavfi:a"};

std::string unescape_filter_text(std::string_view text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == ':' || text[i + 1] == '\\')) {
      ++i;
    }
    plain.push_back(text[i]);
  }
  return plain;
}

}  // namespace

std::vector<std::string> split_argument_line(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i]))
      ++i;
    if (i == line.size()) break;
    std::string argument;
    bool quoted = false;
    for (; i < line.size() && (quoted || !is_blank(line[i])); ++i) {
      if (line[i] == '"') {
        quoted = !quoted;
      } else {
        argument.push_back(line[i]);
      }
    }
    const bool is_filter_text =
        !arguments.empty() && std::find(kEscapedFilterOptions.begin(), kEscapedFilterOptions.end(),
                                        arguments.back()) != kEscapedFilterOptions.end();
    arguments.push_back(is_filter_text ? unescape_filter_text(argument) : std::move(argument));
  }
  return arguments;
}

std::string served_tls_options(std::string_view certificate_path, std::string_view key_path) {
  std::string options(kServedCertificateOption);
  options.append(" \"").append(certificate_path).append("\" ");
  options.append(kServedKeyOption);
  options.append(" \"").append(key_path).append("\"");
  return options;
}

std::string served_viewers_option(int viewers_per_address) {
  if (viewers_per_address == kDefaultViewersPerAddress) return {};
  return std::string(kServedViewersPerAddressOption) + " " + std::to_string(viewers_per_address);
}

}  // namespace vx
