// Reading and writing the configuration document (a cJSON tree of "global" settings and up to 16
// "channels"): the reading rules every part of the system applies, the writers that keep key
// order, the rule for which channels may stay in the document, and the new-channel template.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "config/json.h"
#include "vocabulary/product.h"

namespace vx {

// A number truncated toward zero (saturating at the 32-bit limits); a string read like atol
// (leading blanks, optional sign, digits up to the first other character; "" gives 0); true 1,
// false 0. A missing key, a null object or any other type gives default_value.
std::int32_t config_int(const cJSON* object, const char* key, std::int32_t default_value = 0);

// A text read by the same rule as a string value above: what an operator typed into a number
// field ("1200", " 25 fps", "Default" gives 0).
std::int32_t config_int_from_text(std::string_view text);

// True only for the JSON literal true.
bool config_bool(const cJSON* object, const char* key);

// The text of a JSON string, or "" for anything else. The text belongs to the tree.
const char* config_string(const cJSON* object, const char* key);

// A finite JSON number, or 0 for anything else ("frameRate" is read this way).
double config_float(const cJSON* object, const char* key);

// The member if it is an object (or an array), else nullptr.
const cJSON* config_object(const cJSON* object, const char* key);
cJSON* config_object(cJSON* object, const char* key);
const cJSON* config_array(const cJSON* object, const char* key);
cJSON* config_array(cJSON* object, const char* key);

// Writers: an existing key is updated in place and keeps its position, a missing one is appended
// to the object. They return false (and change nothing) when object is not a JSON object.
bool config_set_int(cJSON* object, const char* key, std::int32_t value);
bool config_set_number(cJSON* object, const char* key, double value);
bool config_set_bool(cJSON* object, const char* key, bool value);
bool config_set_string(cJSON* object, const char* key, std::string_view value);
bool config_set_item(cJSON* object, const char* key, JsonPtr item);  // takes the item

// Whether a channel may stay in the document: its first source is an "rtp_native" source with an
// h263, h263+, mp1v, mp2v, mp4v or h264 video codec, or any other source with a URL; and its first
// target names a known video codec or a known audio codec.
bool channel_is_valid(const cJSON* channel);

// The channel's first source ("input" "sources" [0]), the one its row shows and its transcoder
// reads; nullptr when there is none.
const cJSON* channel_first_source(const cJSON* channel);

// Channels are referred to by number (from 1): a bound channel's "bind" names its master, and a
// source item's "bind" names the channel whose source and targets it brings in. When channels
// leave the list, every such number follows its channel: new_numbers[old number - 1] is the
// channel's number now, 0 when it was removed. A channel bound to a removed one is bound no
// more, and a source item naming a removed one leaves its list, so a channel created later under
// that number is never mixed into another's output. Numbers beyond the table stay as they are.
void renumber_channel_references(cJSON* channels, const std::vector<int>& new_numbers);

// Removes channel `index` (from 0) and renumbers the references of the rest. False (nothing
// changed) when there is no such channel.
bool remove_channel(cJSON* channels, int index);

// The channel a new one starts from, before the operator fills in its source, in the window and
// in the browser page ("/channel_template").
JsonPtr channel_template();

}  // namespace vx
