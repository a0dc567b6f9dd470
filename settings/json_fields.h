// Reading and writing the channel JSON the way every settings dialog does: option lists as
// vectors of texts, objects created on demand, and texts cut to a byte limit without splitting
// a character. The dialogs' state records build on these; no window code is involved.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

// The string items of an array (other items are skipped); empty for a missing array.
std::vector<std::string> string_array(const cJSON* array);
std::vector<std::string> string_array(const cJSON* object, const char* key);

// Replaces object[key] with an array of the texts (the key keeps its place when present).
// False when object is not a JSON object.
bool set_string_array(cJSON* object, const char* key, const std::vector<std::string>& texts);

// object[key] when it is an object; otherwise a new empty object put there (replacing any other
// value). nullptr when object is not a JSON object.
cJSON* object_member(cJSON* object, const char* key);

// At most max_bytes bytes of text, never ending inside a UTF-8 sequence.
std::string cut_to_bytes(std::string_view text, std::size_t max_bytes);

// The white-space delimited word after the first `key` in entry (leading blanks skipped, as a
// "%s" read does); empty when the key is absent or nothing follows it.
std::string word_after(std::string_view entry, std::string_view key);

// Removes every entry that is empty or contains any of the parts.
void remove_options(std::vector<std::string>& options, const std::vector<std::string_view>& parts);

}  // namespace vx
