// The files the server hands out after the login: the embedded browser client, the operator's
// logo "morvoem.png" from the program's folder, and the configuration download under "config".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "web/web_answer.h"

namespace vx {

// "text/javascript" (".js", ".mjs": browsers refuse a module of another type), "text/css" or
// "image/png" by the extension after the last "."; "text/html" for anything else.
const char* content_type_for(std::string_view name);

// The embedded file of that name (compared without regard to case), or nullopt.
std::optional<std::string_view> embedded_file(std::string_view name);

// The answer for a name (the path without its leading "/"): an embedded file, the logo, the
// configuration download for "config", or 404. program_folder "" means the program's own.
WebAnswer answer_static_file(std::string_view name, std::string_view argument_text,
                             const std::string& program_folder);

}  // namespace vx
