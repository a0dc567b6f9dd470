// Well-formed UTF-8: texts from outside (old configuration files, device drivers, network
// peers) are checked against it before they reach the document or a JSON answer.
#pragma once

#include <cstddef>
#include <string_view>

namespace vx {

// Length of the well-formed UTF-8 sequence at the start of the text (1 for any ASCII byte,
// NUL included), or 0 when there is none: overlong forms, surrogates and code points above
// U+10FFFF are not well-formed.
std::size_t utf8_sequence_length(std::string_view text);

bool is_utf8(std::string_view text);

// The first `characters` characters of a text; a byte that starts no well-formed sequence counts
// as one character, so any text can be cut.
std::string_view utf8_first_characters(std::string_view text, std::size_t characters);
std::size_t utf8_character_count(std::string_view text);

}  // namespace vx
