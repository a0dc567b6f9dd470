// Ownership of cJSON trees: JsonPtr owns a whole tree and deletes it once; helpers parse and
// print without leaking cJSON's own buffers.
#pragma once

#include <cjson/cJSON.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

struct JsonDeleter {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// The parsed tree, or an empty pointer when the text is not one complete JSON value.
JsonPtr json_parse(std::string_view text);

// The formatted (indented) text of the tree, as written to the configuration file.
std::optional<std::string> json_print(const cJSON* item);

// The text without any layout white space (one line), as cJSON_PrintUnformatted writes it.
std::optional<std::string> json_print_unformatted(const cJSON* item);

}  // namespace vx
