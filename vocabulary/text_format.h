// Small text helpers for composing command lines and descriptions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vx {

// Appends printf-formatted text to `out`, however long it is.
void append_format(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A number as "%g" (six significant digits) and as "%.Nf" write it, but always with a decimal
// point: a window toolkit sets the C library's locale from the desktop's language, and ffmpeg,
// the document and the filter texts read a point whatever the language.
std::string general_number_text(double value);
std::string fixed_number_text(double value, int decimals);

// An IPv4 address in network byte order as a dotted quad.
std::string dotted_quad(std::uint32_t network_order);

// One line for the operator on a terminal or in the journal ("vantorix: TEXT"), flushed at once.
void print_operator_line(std::FILE* stream, std::string_view text);

// The text without the blanks, tabs and line ends around it.
inline std::string_view without_blanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

inline bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace vx
