#include "web/server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/normalise.h"
#include "config/store.h"
#include "platform/unique_fd.h"
#include "vocabulary/ascii.h"
#include "vocabulary/text_format.h"
#include "web/acl.h"
#include "web/request_log.h"
#include "web/request_text.h"
#include "web/router.h"
#include "web/tls_files.h"

namespace vx {
namespace {

struct Server {
  MHD_Daemon* daemon = nullptr;
  // Set before the daemon starts: its threads read it for every request.
  std::atomic<bool> tls{false};
  // Why the last start served nothing, for the operator; empty after a start that serves.
  WebServerProblem problem;
  std::atomic<int> port{0};
  WebServices services;
  // Set while the daemon stops: long requests (an NDI search) give up instead of holding it.
  std::atomic<bool> stopping{false};
};

Server& server() {
  static Server instance;
  return instance;
}

// The marker of a GET whose first call was seen; a POST's marker is its own upload body, and
// once answered, this one when the answer asks for a restart.
char get_seen_marker;
char restart_after_marker;

struct StartSettings {
  int port = kDefaultHttpPort;
  bool tls_wanted = false;
  std::string certificate_path;
  std::string key_path;
};

StartSettings start_settings() {
  const CoreLock lock = core_lock();
  const cJSON* global = config_object(config_document(), "global");
  StartSettings settings;
  const std::int32_t port = config_int(global, "httpPort");
  settings.port = port == 0 ? kDefaultHttpPort : port;
  settings.tls_wanted = config_bool(global, "sslEnable");
  settings.certificate_path = config_string(global, "sslCert");
  settings.key_path = config_string(global, "sslKey");
  return settings;
}

// ----- per-connection callbacks --------------------------------------------------------------

std::optional<sockaddr_in> client_of(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr || info->client_addr->sa_family != AF_INET) {
    return std::nullopt;
  }
  sockaddr_in address{};
  std::memcpy(&address, info->client_addr, sizeof address);
  return address;
}

MHD_Result acl_callback(void*, const sockaddr* address, socklen_t length) {
  if (address == nullptr || address->sa_family != AF_INET || length < sizeof(sockaddr_in)) {
    return MHD_NO;
  }
  sockaddr_in client{};
  std::memcpy(&client, address, sizeof client);
  std::string rules;
  {
    const CoreLock lock = core_lock();
    rules = config_string(config_object(config_document(), "global"), "ipACL");
  }
  return acl_check(ntohl(client.sin_addr.s_addr), rules) ? MHD_YES : MHD_NO;
}

void log_request(MHD_Connection* connection, const char* method, const char* url) {
  // Pages polled all day (the browser's status, a monitoring system's scrapes) would bury
  // everything else.
  if (iequals(url, "/status") || iequals(url, "/metrics")) return;
  // The setup address's token is a secret: its path is logged without it.
  if (istarts_with(url, "/setup")) url = "/setup";
  std::string path;
  {
    const CoreLock lock = core_lock();
    if (config_int(config_object(config_document(), "global"), "log") == 0) return;
    path = config_path_with_extension("_cgi.log");
  }
  const std::optional<sockaddr_in> client = client_of(connection);
  request_log_append(
      path, request_log_line(std::time(nullptr), method, url, client ? client->sin_addr.s_addr : 0,
                             client ? ntohs(client->sin_port) : 0));
}

MHD_Result append_value(void* text, MHD_ValueKind, const char* key, const char* value) {
  append_pair(*static_cast<std::string*>(text), key, value);
  return MHD_YES;
}

std::string joined_values(MHD_Connection* connection, MHD_ValueKind kind) {
  std::string text;
  MHD_get_connection_values(connection, kind, append_value, &text);
  return text;
}

MHD_Result queue_answer(MHD_Connection* connection, const WebAnswer& answer) {
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  for (const WebHeader& header : answer.headers) {
    // The library keeps connections alive itself (and refuses to be told so); it says
    // "Keep-Alive" to the HTTP/1.0 clients that asked.
    if (iequals(header.first, "Connection") && iequals(header.second, "Keep-Alive")) continue;
    // The library refuses a value that would break the header block; then nothing is sent.
    if (MHD_add_response_header(response, header.first.c_str(), header.second.c_str()) != MHD_YES) {
      MHD_destroy_response(response);
      return MHD_NO;
    }
  }
  const MHD_Result queued = MHD_queue_response(connection, answer.status, response);
  MHD_destroy_response(response);
  return queued;
}

std::string header_value(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value != nullptr ? value : "";
}

MHD_Result answer_request(MHD_Connection* connection, const char* method, const char* url,
                          std::optional<std::string> body, void** marker) {
  WebRequest request;
  request.method = method;
  request.path = path_without_query(url);
  request.argument_text = joined_values(connection, MHD_GET_ARGUMENT_KIND);
  request.cookie_text = joined_values(connection, MHD_COOKIE_KIND);
  request.authorization = header_value(connection, MHD_HTTP_HEADER_AUTHORIZATION);
  request.host = header_value(connection, MHD_HTTP_HEADER_HOST);
  request.origin = header_value(connection, "Origin");
  request.sec_fetch_site = header_value(connection, "Sec-Fetch-Site");
  request.referer = header_value(connection, MHD_HTTP_HEADER_REFERER);
  if (const std::optional<sockaddr_in> client = client_of(connection)) {
    request.client = ntohl(client->sin_addr.s_addr);
  }
  request.tls = server().tls;
  request.body = std::move(body);
  const WebAnswer answer = route_request(request, server().services);
  if (answer.restart_server_after) *marker = &restart_after_marker;
  return queue_answer(connection, answer);
}

bool is_upload(void* marker) {
  return marker != nullptr && marker != &get_seen_marker && marker != &restart_after_marker;
}

// Every connection has a thread of its own, so each POST collects its own body: a client that
// stalls mid-upload holds nobody else's request, the login included.
MHD_Result handle_post(MHD_Connection* connection, const char* url, const char* upload_data,
                       size_t* upload_size, void** marker) {
  if (*marker == nullptr) {
    *marker = new UploadBody();
    return MHD_YES;
  }
  auto* upload = static_cast<UploadBody*>(*marker);
  if (*upload_size > 0) {
    upload->append(std::string_view(upload_data, *upload_size));
    *upload_size = 0;
    return MHD_YES;
  }
  const char* content_type =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
  std::string body(multipart_body(content_type != nullptr ? content_type : "", upload->text()));
  delete upload;
  *marker = nullptr;
  return answer_request(connection, "POST", url, std::move(body), marker);
}

MHD_Result access_handler(void*, MHD_Connection* connection, const char* url, const char* method,
                          const char*, const char* upload_data, size_t* upload_size,
                          void** marker) {
  log_request(connection, method, url);
  if (iequals(method, "GET")) {
    if (*marker == nullptr) {
      *marker = &get_seen_marker;
      return MHD_YES;
    }
    if (*upload_size > 0) {  // a body sent with a GET is read and ignored
      *upload_size = 0;
      return MHD_YES;
    }
    return answer_request(connection, method, url, std::nullopt, marker);
  }
  if (iequals(method, "POST"))
    return handle_post(connection, url, upload_data, upload_size, marker);
  return MHD_NO;
}

// A connection that ends before its POST body was complete gives the buffer back. An answer that
// asked for a restart has gone out (or its client has gone): now the restart may stop us.
void request_completed(void*, MHD_Connection*, void** marker, MHD_RequestTerminationCode) {
  if (is_upload(*marker)) delete static_cast<UploadBody*>(*marker);
  if (*marker == &restart_after_marker && server().services.events != nullptr) {
    server().services.events->restart_web_server();
  }
  *marker = nullptr;
}

MHD_Daemon* start_daemon(int port, const std::string* key, const std::string* certificate) {
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_AUTO;
  if (key != nullptr) flags |= MHD_USE_TLS;
  const auto port16 = static_cast<std::uint16_t>(port);
  if (key != nullptr) {
    return MHD_start_daemon(flags, port16, acl_callback, nullptr, access_handler, nullptr,
                            MHD_OPTION_NOTIFY_COMPLETED, request_completed, nullptr,
                            MHD_OPTION_CONNECTION_TIMEOUT, kConnectionIdleSeconds,
                            MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_HTTPS_MEM_KEY,
                            key->c_str(), MHD_OPTION_HTTPS_MEM_CERT, certificate->c_str(),
                            MHD_OPTION_HTTPS_PRIORITIES, kAdminTlsPriorities, MHD_OPTION_END);
  }
  return MHD_start_daemon(flags, port16, acl_callback, nullptr, access_handler, nullptr,
                          MHD_OPTION_NOTIFY_COMPLETED, request_completed, nullptr,
                          MHD_OPTION_CONNECTION_TIMEOUT, kConnectionIdleSeconds,
                          MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_END);
}

bool start_with(const StartSettings& settings) {
  Server& state = server();
  state.problem = {};
  // A port the socket layer cannot take is not tried at all.
  if (settings.port <= 0 || settings.port > 65535) {
    state.problem.text = "the port is not a port number";
    return false;
  }
  if (settings.tls_wanted) {
    // HTTPS or nothing: a broken key file must never turn the administration into plain HTTP,
    // where the password would cross the network readable.
    const TlsFilesReading reading = tls_files_read(settings.certificate_path, settings.key_path);
    if (!reading.files) {
      state.problem = {"HTTPS is switched on (\"sslEnable\") but " + reading.problem, true};
      return false;
    }
    state.tls = true;
    state.daemon = start_daemon(settings.port, &reading.files->key, &reading.files->certificate);
    state.tls = state.daemon != nullptr;
  } else {
    state.daemon = start_daemon(settings.port, nullptr, nullptr);
  }
  if (state.daemon == nullptr) {
    state.problem.text = port_unusable_reason(settings.port);
    if (state.problem.text.empty()) state.problem.text = "nothing can listen on the port";
    return false;
  }
  state.port = settings.port;
  return true;
}

// The settings the running server was started with, as a start would read them.
StartSettings running_settings() {
  StartSettings settings = start_settings();
  settings.port = server().port;
  settings.tls_wanted = server().tls;
  return settings;
}

void put_port_back(int port) {
  const CoreLock lock = core_lock();
  config_set_int(config_object(config_document(), "global"), "httpPort", port);
}

}  // namespace

void web_server_configure(WebServices services) {
  server().services = std::move(services);
}

bool web_server_start() {
  if (server().daemon != nullptr) return true;
  return start_with(start_settings());
}

void web_server_stop() {
  Server& state = server();
  if (state.daemon == nullptr) return;
  state.stopping = true;
  MHD_stop_daemon(state.daemon);
  state.stopping = false;
  state.daemon = nullptr;
  state.tls = false;
  state.port = 0;
}

std::string web_server_restart() {
  const bool was_running = web_server_running();
  const StartSettings before = running_settings();
  web_server_stop();
  if (web_server_start()) return "";
  if (!was_running)
    return "the web administration server could not be started: " + server().problem.text;
  // The port and the TLS files were checked when they were posted; something changed since.
  // The operator keeps the server he has, and the document says where it is.
  const int wanted = web_server_configured_port();
  const std::string reason = server().problem.text;
  if (!start_with(before)) return "the web administration server could not be started again";
  put_port_back(before.port);
  std::string text;
  append_format(text,
                "the web administration server cannot move to port %d (%s); it keeps serving on "
                "port %d",
                wanted, reason.c_str(), before.port);
  return text;
}

std::string port_unusable_reason(int port) {
  if (port <= 0 || port > 65535) return "it is not a port number";
  const UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!probe) return "";
  // The server binds with this option too, so a port that only lingers after a close is free.
  const int on = 1;
  ::setsockopt(probe.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return "";
  return errno == EADDRINUSE ? "the port is already in use" : std::strerror(errno);
}

const WebServerProblem& web_server_problem() {
  return server().problem;
}

const std::atomic<bool>& web_server_stopping() {
  return server().stopping;
}

bool web_server_running() {
  return server().daemon != nullptr;
}

bool web_server_uses_tls() {
  return server().tls;
}

int web_server_port() {
  return server().port;
}

int web_server_configured_port() {
  return start_settings().port;
}

}  // namespace vx
