// The administration server: one libmicrohttpd daemon with its internal polling thread on
// "httpPort" (IPv4, TLS when "sslEnable" and both PEM files are readable), the address rules
// checked per connection, the request log, the POST bodies being collected, and the dispatch of
// every request, each connection on a thread of its own so no request waits for another. The
// daemon handle belongs to the thread that starts and stops it.
#pragma once

#include <atomic>
#include <string>

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
// Stop, then start with the settings as they are now. When nothing can listen with them (the
// port was taken after it was checked), the server starts again with the settings it ran with,
// "httpPort" in the document is put back to the port it serves on (not saved here), and the
// reason is returned for the operator; "" when the new settings serve.
std::string web_server_restart();

// Why no server could listen on the port now ("it is not a port number", "the port is already
// in use", the system's word for a refusal), found by binding it the way the server does; ""
// when it is free.
std::string port_unusable_reason(int port);

// True while the server stops; a request that may take long gives up when it turns true.
const std::atomic<bool>& web_server_stopping();

bool web_server_running();
bool web_server_uses_tls();
// The port the running server listens on; 0 when none runs.
int web_server_port();
// The port a start would use now: "httpPort", or the default one when it is 0 or missing.
int web_server_configured_port();
// Idle connections and stalled uploads are closed after this long.
inline constexpr unsigned kConnectionIdleSeconds = 60;
// Every connection is served by a thread of its own, up to this many at once.
inline constexpr unsigned kMaxConnections = 128;

}  // namespace vx
