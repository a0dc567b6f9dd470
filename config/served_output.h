// Where the outputs the transcoder serves over HTTP(S) answer: every channel on a port of its own
// (httpPort + its number), whatever port and path its target URL names, and the address a viewer
// plays a channel's output or its browser preview from. One rule for the engine that starts the
// outputs and for the web server that redirects to them and tells the page where they play.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <string_view>

#include "vocabulary/formats.h"

namespace vx {

// The outputs the transcoder serves to viewers itself, from its own HTTP(S) server; each one
// answers on the port with_served_port() gives it.
bool served_by_transcoder(FormatId format);

// The port the served outputs of channel `channel` (0-based) answer on: the global "httpPort"
// (9527 when missing) plus its number; 0 when that is no port (outside 1 to 65535).
int channel_served_port(const cJSON* document, int channel);

// The system chooses the port of its HTTP-served outputs: the URL cut where its host ends (at the
// first ':' or '/' after "://"), then ":port". The path is not kept; the transcoder serves every
// path on that port.
std::string with_served_port(const std::string& url, int port);

// The address channel `channel` (0-based) is watched at: its first target's scheme and host at
// the channel's served port, without user information or path. A host that names this machine
// only from itself (none, 0.0.0.0, "localhost", 127.x.x.x, "::", "::1") becomes `reached_host`,
// the name the viewer reached this server by. nullopt when the first target is not served by the
// transcoder, its URL names no host, or the channel has no port.
std::optional<std::string> channel_served_url(const cJSON* document, int channel,
                                              std::string_view reached_host);

// Where the browser preview of channel `channel` plays: "http" (or "https" when the global
// "sslEnable" is set), `reached_host` and the channel's served port; nullopt without a port.
std::optional<std::string> channel_preview_url(const cJSON* document, int channel,
                                               std::string_view reached_host);

}  // namespace vx
