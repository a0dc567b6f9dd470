#include "vocabulary/text_format.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace vx {

void print_operator_line(std::FILE* stream, std::string_view text) {
  std::fprintf(stream, "vantorix: %.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stream);
}

void append_format(std::string& out, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length > 0) {
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(out.data() + start, static_cast<std::size_t>(length) + 1, format, arguments);
    out.resize(start + static_cast<std::size_t>(length));
  }
  va_end(arguments);
}

std::string general_number_text(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  return std::string(text, result.ptr);
}

std::string fixed_number_text(double value, int decimals) {
  char text[400];  // the longest double written in full
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return result.ec == std::errc() ? std::string(text, result.ptr) : general_number_text(value);
}

std::string dotted_quad(std::uint32_t network_order) {
  in_addr address{};
  address.s_addr = network_order;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

}  // namespace vx
