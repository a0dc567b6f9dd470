// What the administration server refuses to be set up with, for whichever front end sets it: a
// rule text it cannot read and, when TLS is to be switched on or its files change, certificate
// and key files it cannot serve with. Refused before anything is stored, so the server and the
// document stay as they were.
#pragma once

#include <string>
#include <string_view>

#include <cjson/cJSON.h>

namespace vx {

// The reason, "" when the settings can be served.
std::string web_settings_problem(std::string_view address_rules, bool check_tls,
                                 const std::string& certificate_path, const std::string& key_path);

// The same for a posted "global" object against the one in force: TLS files are tried when
// "sslEnable" is true and TLS was off or a path changed.
std::string web_settings_problem(const cJSON* posted_global, const cJSON* current_global);

}  // namespace vx
