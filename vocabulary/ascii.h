// Case-insensitive ASCII comparisons shared by the vocabulary lookups.
#pragma once

#include <algorithm>
#include <string_view>

namespace vx {

inline char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// A C0 control character or DEL: never part of an address, a name or a log line as such.
inline bool ascii_is_control(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

inline bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

inline bool istarts_with(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

inline bool iends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && iequals(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace vx
