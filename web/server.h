// The administration server: one libmicrohttpd daemon with its internal polling thread on
// "httpPort" (IPv4, TLS when "sslEnable" and both PEM files are readable), the address rules
// checked per connection, the request log, the one POST body collected at a time, and the
// dispatch of every request. The daemon handle belongs to the thread that starts and stops it.
#pragma once

#include "web/web_services.h"

namespace vx {

// The services the next start uses; call while no server runs.
void web_server_configure(WebServices services);

// Starts the server from the document's "global" settings. When the TLS start fails the server
// starts plain on the same port and "sslEnable" becomes false in the document (not saved here).
// Returns whether a server runs.
bool web_server_start();
// Stops the server, waits for its thread and drops the requests in flight.
void web_server_stop();
// Stop, then start with the settings as they are now; the result is not reported.
void web_server_restart();

bool web_server_running();
bool web_server_uses_tls();
// The port the running server listens on; 0 when none runs.
int web_server_port();
// The port a start would use now: "httpPort", or the default one when it is 0 or missing.
int web_server_configured_port();
// Idle connections and stalled uploads are closed after this long, so a client that vanishes
// mid-upload cannot keep every other POST refused.
inline constexpr unsigned kConnectionIdleSeconds = 60;

}  // namespace vx
