#include "vocabulary/transcoder_protocol.h"

#include <optional>

namespace vx {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

// A byte that may stand unquoted in the line.
bool is_plain(char c) {
  return c != ' ' && c != '"' && !is_control(static_cast<unsigned char>(c));
}

constexpr std::string_view kHexDigits = "0123456789abcdef";

std::optional<int> hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

// The byte "\xHH" at `at` (the backslash) stands for, if it is one.
std::optional<char> hex_escape_at(std::string_view line, std::size_t at) {
  if (at + 3 >= line.size() || line[at + 1] != 'x') return std::nullopt;
  const std::optional<int> high = hex_value(line[at + 2]);
  const std::optional<int> low = hex_value(line[at + 3]);
  if (!high || !low) return std::nullopt;
  return static_cast<char>(*high * 16 + *low);
}

// Reads one quoted stretch from just after its opening quote up to and including its closing
// one (or the end of the line); returns where reading goes on.
std::size_t read_quoted(std::string_view line, std::size_t i, std::string& argument) {
  while (i < line.size()) {
    const char c = line[i];
    if (c == '"') return i + 1;
    if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
      argument.push_back(line[i + 1]);
      i += 2;
    } else if (const std::optional<char> byte = c == '\\' ? hex_escape_at(line, i) : std::nullopt) {
      argument.push_back(*byte);
      i += 4;
    } else {
      argument.push_back(c);
      ++i;
    }
  }
  return i;
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
    while (i < line.size() && !is_blank(line[i])) {
      if (line[i] == '"') {
        i = read_quoted(line, i + 1, argument);
      } else {
        argument.push_back(line[i]);
        ++i;
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::string quoted_argument(std::string_view text) {
  bool plain = !text.empty();
  for (char c : text)
    plain = plain && is_plain(c);
  if (plain) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted.push_back('\\');
      quoted.push_back(c);
    } else if (is_control(byte)) {
      quoted += "\\x";
      quoted.push_back(kHexDigits[byte >> 4]);
      quoted.push_back(kHexDigits[byte & 0x0f]);
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('"');
  return quoted;
}

void append_argument(std::string& line, std::string_view text) {
  line += quoted_argument(text);
  line.push_back(' ');
}

std::string served_tls_options(std::string_view certificate_path, std::string_view key_path) {
  std::string options(kServedCertificateOption);
  options.append(" ").append(quoted_argument(certificate_path)).append(" ");
  options.append(kServedKeyOption);
  options.append(" ").append(quoted_argument(key_path));
  return options;
}

std::string served_viewers_option(int viewers_per_address) {
  if (viewers_per_address == kDefaultViewersPerAddress) return {};
  return std::string(kServedViewersPerAddressOption) + " " + std::to_string(viewers_per_address);
}

}  // namespace vx
