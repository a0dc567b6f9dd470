// The rules every JSON text passes before it becomes the configuration document: defaults in
// "global", a clear login password turned into its hash, channels that may not stay removed,
// the per-channel limits, and older key layouts moved to where readers look for them.
#pragma once

#include <cjson/cJSON.h>

#include <string>

namespace vx {

inline constexpr int kDefaultAutoRestart = 1;

// Brings a parsed tree into the document's shape, in place. Only a JSON object can be the
// document; for anything else (an array such as "[]", a string, a number) nothing is changed
// and false is returned.
bool normalise_document(cJSON* root);

// What is wrong with the "global" object's "viewersPerAddress", for the operator; "" when it is
// missing (the default applies) or reads as a number in its range. Normalising puts such a value
// back to the default; a configuration post is refused with the text instead.
std::string viewers_per_address_problem(const cJSON* global);

// What is wrong with the "global" object's "httpPort", for the operator; "" when it is missing
// or 0 (the default applies) or a port from 1 to 65535. Normalising puts any other value back to
// the default; a configuration post is refused with the text instead.
std::string http_port_problem(const cJSON* global);

}  // namespace vx
