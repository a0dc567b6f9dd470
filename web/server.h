// The administration server: one libmicrohttpd daemon on "httpPort" (IPv4, TLS 1.2 and 1.3 when
// "sslEnable" is set) whose few polling threads serve thousands of connections, the address
// rules checked per connection, limits per client address and deadlines for request heads, the
// request log, the POST bodies being collected, and the dispatch of every request; requests that
// may take long go to a few workers while their connections sleep, so no request waits for
// another. The daemon handle belongs to the thread that starts and stops it.
#pragma once

#include <atomic>
#include <string>

#include "web/web_services.h"

namespace vx {

// The services the next start uses; call while no server runs.
void web_server_configure(WebServices services);

// Starts the server from the document's "global" settings: HTTPS when "sslEnable" is set, and
// then only with certificate and key files that can be used (web/tls_files.h); the setting is
// never turned off here. Returns whether a server runs; web_server_problem() says why not.
bool web_server_start();
// Why the last start or restart left no server listening: the port, or the TLS files, named for
// the operator ("" when it serves).
struct WebServerProblem {
  std::string text;
  bool tls_files = false;  // HTTPS is on but its files cannot be used: nothing listens at all
};
const WebServerProblem& web_server_problem();
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
// A connection that has not sent a whole request head this long after it opened (or after its
// previous request ended) is closed, however slowly it trickles.
inline constexpr unsigned kRequestHeadSeconds = 10;
// Connections served at once (fewer when the descriptor limit cannot be raised that far), and
// from one client address; further ones are closed at once.
inline constexpr unsigned kMaxConnections = 4000;
inline constexpr unsigned kConnectionsPerAddress = 64;
// Threads answering the requests that may take long.
inline constexpr std::size_t kRequestWorkers = 4;

}  // namespace vx
