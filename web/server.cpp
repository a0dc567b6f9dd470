#include "web/server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/normalise.h"
#include "config/store.h"
#include "platform/descriptor_limit.h"
#include "platform/head_deadlines.h"
#include "platform/unique_fd.h"
#include "vocabulary/ascii.h"
#include "vocabulary/text_format.h"
#include "web/acl.h"
#include "web/request_log.h"
#include "web/request_text.h"
#include "web/request_workers.h"
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
  // Both live while the daemon does.
  std::unique_ptr<RequestWorkers> workers;
  std::unique_ptr<HeadDeadlines> deadlines;
};

Server& server() {
  static Server instance;
  return instance;
}

// One request from its head to its end: what the log and a resumed connection need.
struct Exchange {
  std::string method;
  std::string url;
  std::optional<UploadBody> upload;  // a POST's body as it arrives
  std::optional<WebAnswer> answer;   // made on a worker while the connection was suspended
  unsigned status = 0;               // of the answer queued; 0 while none was
  bool restart_after = false;
};

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

// One line when the request ends, so that a slow upload cannot write one for every chunk.
void log_request(MHD_Connection* connection, const Exchange& exchange) {
  // Pages polled all day (the browser's status, thumbnails and histories, a monitoring system's
  // scrapes, health checks) would bury everything else.
  const std::string_view path = path_without_query(exchange.url);
  if (iequals(path, "/status") || iequals(path, "/metrics") || iequals(path, "/healthz") ||
      istarts_with(path, "/thumbnails/") || istarts_with(path, "/history/")) {
    return;
  }
  // The setup address's token is a secret: its path is logged without it.
  const std::string_view url =
      istarts_with(exchange.url, "/setup") ? std::string_view("/setup") : exchange.url;
  std::string log_path;
  {
    const CoreLock lock = core_lock();
    if (config_int(config_object(config_document(), "global"), "log") == 0) return;
    log_path = config_path_with_extension("_cgi.log");
  }
  const std::optional<sockaddr_in> client = client_of(connection);
  request_log_append(log_path,
                     request_log_line(std::time(nullptr), exchange.method, url,
                                      client ? client->sin_addr.s_addr : 0,
                                      client ? ntohs(client->sin_port) : 0, exchange.status));
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

WebRequest request_of(MHD_Connection* connection, Exchange& exchange) {
  WebRequest request;
  request.method = exchange.method;
  request.path = path_without_query(exchange.url);
  request.argument_text = joined_values(connection, MHD_GET_ARGUMENT_KIND);
  request.cookie_text = joined_values(connection, MHD_COOKIE_KIND);
  request.authorization = header_value(connection, MHD_HTTP_HEADER_AUTHORIZATION);
  request.host = header_value(connection, MHD_HTTP_HEADER_HOST);
  request.origin = header_value(connection, "Origin");
  request.sec_fetch_site = header_value(connection, "Sec-Fetch-Site");
  request.referer = header_value(connection, MHD_HTTP_HEADER_REFERER);
  request.if_none_match = header_value(connection, MHD_HTTP_HEADER_IF_NONE_MATCH);
  if (const std::optional<sockaddr_in> client = client_of(connection)) {
    request.client = ntohl(client->sin_addr.s_addr);
  }
  request.tls = server().tls;
  if (exchange.upload) {
    const char* content_type =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    request.body = std::string(
        multipart_body(content_type != nullptr ? content_type : "", exchange.upload->text()));
    exchange.upload.reset();
  }
  return request;
}

MHD_Result queue_made_answer(MHD_Connection* connection, Exchange& exchange) {
  const WebAnswer& answer = *exchange.answer;
  exchange.restart_after = answer.restart_server_after;
  const MHD_Result queued = queue_answer(connection, answer);
  if (queued == MHD_YES) exchange.status = answer.status;
  exchange.answer.reset();
  return queued;
}

HeadDeadlines::Watch* watch_of(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info != nullptr ? static_cast<HeadDeadlines::Watch*>(info->socket_context) : nullptr;
}

// A request that may take long is answered on a worker while its connection sleeps; the library
// calls again once it is woken, and the answer goes out then.
MHD_Result answer_request(MHD_Connection* connection, Exchange& exchange) {
  WebRequest request = request_of(connection, exchange);
  if (!request_may_wait(request)) {
    exchange.answer = route_request(request, server().services);
    return queue_made_answer(connection, exchange);
  }
  MHD_suspend_connection(connection);
  server().workers->run([connection, &exchange, request = std::move(request)] {
    exchange.answer = route_request(request, server().services);
    MHD_resume_connection(connection);
  });
  return MHD_YES;
}

MHD_Result access_handler(void*, MHD_Connection* connection, const char* url, const char* method,
                          const char*, const char* upload_data, size_t* upload_size,
                          void** marker) {
  auto* exchange = static_cast<Exchange*>(*marker);
  if (exchange == nullptr) {  // the head is in
    server().deadlines->head_received(watch_of(connection));
    exchange = new Exchange{method, url, std::nullopt, std::nullopt, 0, false};
    *marker = exchange;
    if (iequals(method, "POST")) {
      exchange->upload.emplace();
    } else if (!iequals(method, "GET")) {
      return MHD_NO;
    }
    return MHD_YES;
  }
  if (exchange->answer) return queue_made_answer(connection, *exchange);
  if (*upload_size > 0) {  // a body sent with a GET is read and ignored
    if (exchange->upload) exchange->upload->append(std::string_view(upload_data, *upload_size));
    *upload_size = 0;
    return MHD_YES;
  }
  return answer_request(connection, *exchange);
}

// The request has ended, answered or not: its log line, and when its answer asked for a
// restart, the restart (the answer has gone out, or its client has gone). The next head's
// deadline starts now.
void request_completed(void*, MHD_Connection* connection, void** marker,
                       MHD_RequestTerminationCode) {
  auto* exchange = static_cast<Exchange*>(*marker);
  *marker = nullptr;
  server().deadlines->request_ended(watch_of(connection));
  if (exchange == nullptr) return;
  log_request(connection, *exchange);
  if (exchange->restart_after && server().services.events != nullptr) {
    server().services.events->restart_web_server();
  }
  delete exchange;
}

void connection_notice(void*, MHD_Connection* connection, void** socket_context,
                       MHD_ConnectionNotificationCode code) {
  HeadDeadlines& deadlines = *server().deadlines;
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    *socket_context = info != nullptr ? deadlines.opened(info->connect_fd) : nullptr;
  } else {
    deadlines.closed(static_cast<HeadDeadlines::Watch*>(*socket_context));
    *socket_context = nullptr;
  }
}

// What the daemon may hold: every connection with one descriptor of its own and one more for
// its head deadline, and room left for the program's channels, logs and files.
unsigned connection_limit() {
  constexpr std::uint64_t kKeptForTheProgram = 512;
  const std::uint64_t descriptors = descriptor_limit();
  const std::uint64_t room = descriptors > 2 * kKeptForTheProgram
                                 ? (descriptors - kKeptForTheProgram) / 2
                                 : descriptors / 4;
  return static_cast<unsigned>(std::min<std::uint64_t>(room, kMaxConnections));
}

unsigned polling_threads() {
  return std::clamp(std::thread::hardware_concurrency(), 1U, 4U);
}

MHD_Daemon* start_daemon(int port, const std::string* key, const std::string* certificate) {
  // Every connection is polled (epoll) by a few threads; a slow request is handed to a worker.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME;
  if (key != nullptr) flags |= MHD_USE_TLS;
  const auto port16 = static_cast<std::uint16_t>(port);
  MHD_OptionItem tls_options[] = {{MHD_OPTION_END, 0, nullptr},
                                  {MHD_OPTION_END, 0, nullptr},
                                  {MHD_OPTION_END, 0, nullptr},
                                  {MHD_OPTION_END, 0, nullptr}};
  if (key != nullptr) {
    tls_options[0] = {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(key->c_str())};
    tls_options[1] = {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(certificate->c_str())};
    tls_options[2] = {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kAdminTlsPriorities)};
  }
  return MHD_start_daemon(
      flags, port16, acl_callback, nullptr, access_handler, nullptr, MHD_OPTION_NOTIFY_COMPLETED,
      request_completed, nullptr, MHD_OPTION_NOTIFY_CONNECTION, connection_notice, nullptr,
      MHD_OPTION_CONNECTION_TIMEOUT, kConnectionIdleSeconds, MHD_OPTION_CONNECTION_LIMIT,
      connection_limit(), MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
      MHD_OPTION_THREAD_POOL_SIZE, polling_threads(), MHD_OPTION_ARRAY, tls_options,
      MHD_OPTION_END);
}
bool start_with(const StartSettings& settings) {
  Server& state = server();
  state.problem = {};
  // A port the socket layer cannot take is not tried at all.
  if (settings.port <= 0 || settings.port > 65535) {
    state.problem.text = "the port is not a port number";
    return false;
  }
  state.workers = std::make_unique<RequestWorkers>(kRequestWorkers);
  state.deadlines = std::make_unique<HeadDeadlines>(std::chrono::seconds(kRequestHeadSeconds));
  if (settings.tls_wanted) {
    // HTTPS or nothing: a broken key file must never turn the administration into plain HTTP,
    // where the password would cross the network readable.
    const TlsFilesReading reading = tls_files_read(settings.certificate_path, settings.key_path);
    if (!reading.files) {
      state.problem = {"HTTPS is switched on (\"sslEnable\") but " + reading.problem, true};
      state.workers.reset();
      state.deadlines.reset();
      return false;
    }
    state.tls = true;
    state.daemon = start_daemon(settings.port, &reading.files->key, &reading.files->certificate);
    state.tls = state.daemon != nullptr;
  } else {
    state.daemon = start_daemon(settings.port, nullptr, nullptr);
  }
  if (state.daemon == nullptr) {
    state.workers.reset();
    state.deadlines.reset();
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
  // Every request on a worker finishes and wakes its connection: the library cannot stop with
  // one asleep. Requests that arrive meanwhile are answered where they arrive.
  state.workers->close();
  MHD_stop_daemon(state.daemon);
  state.workers.reset();
  state.deadlines.reset();
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
