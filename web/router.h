// Where each request goes: the redirect of HTTP-served channel outputs to their own ports
// (before any login), then the door (web/gate.h: refusals, login, logout, setup, who is logged
// in), and the paths behind it; every answer leaves with the door's headers.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <string_view>

#include "web/web_answer.h"
#include "web/web_services.h"

namespace vx {

// The "Location" of the first channel whose first target is served over HTTP by the
// transcoder at exactly this path (compared without regard to case): the target's URL up to
// the end of its host, then ":" and httpPort + channel number. nullopt when no channel serves
// the path, or when that port would lie beyond 65535.
std::optional<std::string> output_redirect_location(const cJSON* document, std::string_view path);

// Whether answering may take long (a password hashed, an NDI search, a device probe, a channel
// command waiting for the program's thread, a configuration saved): such a request is answered
// away from the threads that serve every other connection.
bool request_may_wait(const WebRequest& request);

// The answer for one request.
WebAnswer route_request(const WebRequest& request, const WebServices& services);

}  // namespace vx
