// Names that come from device drivers and the network: made into valid UTF-8 of bounded length
// and written as JSON string literals, whatever bytes the driver handed over.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vx {

// At most max_characters code points of valid UTF-8. Each byte that does not begin a
// well-formed sequence (and each NUL, which would cut the text short in C code downstream)
// becomes U+FFFD, so an operator still sees where the damage was.
std::string device_text(std::string_view raw, std::size_t max_characters);

// A quoted, escaped JSON string literal of device_text(raw, max_characters).
std::string device_text_json(std::string_view raw, std::size_t max_characters);

}  // namespace vx
