// Ownership of cJSON trees: JsonPtr owns a whole tree and deletes it once; helpers parse and
// print without leaking cJSON's own buffers.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

struct JsonDeleter {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// The parsed tree, or an empty pointer when the text is not one complete JSON value (blanks and
// NUL bytes may follow it).
JsonPtr json_parse(std::string_view text);

// The text's first JSON value read the way the JSON library reads a file, whatever follows it.
struct JsonReading {
  JsonPtr tree;             // empty when no value could be read
  std::size_t stop = 0;     // where reading failed; with a tree, where the text after it starts
  bool text_after = false;  // something other than blanks and NUL bytes follows the value
};
JsonReading json_read_first_value(std::string_view text);

// "line L, column C" (both from 1) of a byte offset, for telling an operator where to look.
std::string text_position(std::string_view text, std::size_t offset);

// The formatted (indented) text of the tree, as written to the configuration file.
std::optional<std::string> json_print(const cJSON* item);

// The text without any layout white space (one line), as cJSON_PrintUnformatted writes it.
std::optional<std::string> json_print_unformatted(const cJSON* item);

}  // namespace vx
