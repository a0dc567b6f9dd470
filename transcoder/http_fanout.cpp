#include "transcoder/http_fanout.h"

#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/descriptor_limit.h"
#include "platform/head_deadlines.h"
#include "platform/unique_fd.h"
#include "transcoder/stream_framing.h"
#include "transcoder/stream_ring.h"

namespace vx {
namespace {

// What one call of the content reader may copy; also MHD's send buffer per viewer.
constexpr std::size_t kReadBlock = 64 * 1024;
// Closes connections that send no request, or stop reading after a drop, for this long.
constexpr unsigned kIdleTimeoutSeconds = 30;
constexpr int kListenBacklog = 64;
constexpr std::string_view kBoundary = "vantorix-frame";
// Descriptors kept out of the fan-outs' reach: ffmpeg's pipes, the relays' pipes and sockets,
// the program's files, and MHD's own (epoll, its wake-up channel).
constexpr std::size_t kReservedDescriptors = 128;
// MHD's own connection limit stays this far above ours: it stops accepting at its limit and lets
// newcomers wait in the backlog, while ours closes them at once.
constexpr std::size_t kDaemonLimitMargin = 8;

struct Viewer {
  FanoutState* owner = nullptr;
  MHD_Connection* connection = nullptr;
  int socket = -1;  // MHD's socket: shut down here to drop the viewer, never closed here
  // Has a place in the stream: the latest key frame, or the first unit start after connecting.
  bool joined = false;
  bool dropped = false;
  bool suspended = false;
  std::uint64_t position = 0;
  std::shared_ptr<const std::string> prefix;  // the init segment or the MPEG-TS tables, sent first
  std::size_t prefix_sent = 0;

  bool has_data(const StreamRing& ring) const {
    return joined && ((prefix && prefix_sent < prefix->size()) || position < ring.end());
  }
};

std::string content_type(StreamKind kind) {
  switch (kind) {
    case StreamKind::mpegts:
      return "video/mp2t";
    case StreamKind::fragmented_mp4:
      return "video/mp4";
    case StreamKind::mjpeg:
      return "multipart/x-mixed-replace; boundary=" + std::string(kBoundary);
  }
  return "application/octet-stream";
}

std::string mjpeg_part(std::string_view frame) {
  std::string part;
  part.reserve(frame.size() + 96);
  part.append("--").append(kBoundary).append("\r\nContent-Type: image/jpeg\r\nContent-Length: ");
  part.append(std::to_string(frame.size())).append("\r\n\r\n").append(frame).append("\r\n");
  return part;
}

}  // namespace

struct FanoutState {
  explicit FanoutState(const FanoutConfig& fanout_config)
      : config(fanout_config), ring(fanout_config.viewer_backlog_limit) {}

  FanoutConfig config;
  std::uint16_t port = 0;
  std::string tls_cert;  // PEM text handed to MHD
  std::string tls_key;
  MHD_Daemon* daemon = nullptr;

  // Used by the feeding thread only.
  TsPacketAligner ts;
  TsKeyFrameFinder ts_key_frames;
  Mp4FragmentSplitter mp4;
  JpegFrameSplitter jpeg;
  std::vector<StreamPiece> pieces;
  std::vector<std::string> frames;
  bool feed_ended = false;

  mutable std::mutex mutex;  // guards everything below
  StreamRing ring;
  std::vector<std::unique_ptr<Viewer>> viewers;
  std::shared_ptr<const std::string> init_segment;
  // Where a new viewer can start decoding at once (a ring offset), and what it needs first.
  std::optional<std::uint64_t> key_start;
  std::shared_ptr<const std::string> start_prefix;
  bool finished = false;
  bool stopping = false;
  FanoutStatistics statistics;
  std::string last_log;  // MHD's latest complaint, for the start error

  // Connections are counted under a mutex of their own: arrivals and departures never wait on
  // the stream. Those that are no viewer yet are held to their head deadline.
  std::size_t connection_limit = 0;
  std::mutex count_mutex;  // guards connections
  std::size_t connections = 0;
  std::unique_ptr<HeadDeadlines> deadlines;
};

namespace {

// ---------------------------------------------------------------------------------------------
// Viewers (every function here runs with the state's mutex held)

void drop_viewer(FanoutState& state, Viewer& viewer) {
  viewer.dropped = true;
  ++state.statistics.viewers_dropped;
  // The socket stays open until MHD has released the viewer, so it is still this connection's.
  // Shutting it down wakes MHD even while the viewer's socket buffer is full.
  if (viewer.socket >= 0) ::shutdown(viewer.socket, SHUT_RDWR);
}

// Resumes every parked viewer that has something to do: data, its end, or its drop.
void wake_viewers(FanoutState& state) {
  for (const auto& viewer : state.viewers) {
    if (!viewer->suspended) continue;
    if (viewer->has_data(state.ring) || viewer->dropped || state.finished || state.stopping) {
      viewer->suspended = false;
      MHD_resume_connection(viewer->connection);
    }
  }
}

// Gives every viewer still waiting for its place in the stream the place `at`, `prefix` first.
void join_waiting_viewers(FanoutState& state, std::uint64_t at,
                          const std::shared_ptr<const std::string>& prefix) {
  for (const auto& viewer : state.viewers) {
    if (viewer->joined || viewer->dropped) continue;
    viewer->joined = true;
    viewer->position = at;
    viewer->prefix = prefix;
  }
}

// Whether a player can begin at any unit start: an MPEG-TS player waits for a key frame itself
// and every MJPEG part is a whole picture, but an MP4 fragment may begin between key frames, and
// a player given one of those first has nothing to decode it from.
bool every_unit_start_decodes(StreamKind kind) {
  return kind != StreamKind::fragmented_mp4;
}

void append_piece(FanoutState& state, std::string_view bytes, bool unit_start) {
  if (unit_start && every_unit_start_decodes(state.config.kind))
    join_waiting_viewers(state, state.ring.end(), nullptr);
  state.ring.append(bytes);
}

// A viewer whose next byte has left the ring can no longer get the stream without a gap.
void drop_lagging_viewers(FanoutState& state) {
  for (const auto& viewer : state.viewers) {
    if (viewer->joined && !viewer->dropped && viewer->position < state.ring.begin())
      drop_viewer(state, *viewer);
  }
}

// The framers count the bytes they pass on, which are exactly the ring's, so their offsets are
// ring offsets. Where unit starts are no place to begin, a waiting viewer begins at the next key
// start: the fragment just judged to open with a key frame, still whole in the ring.
void note_key_start(FanoutState& state) {
  const std::optional<std::uint64_t> previous = state.key_start;
  switch (state.config.kind) {
    case StreamKind::mpegts:
      state.key_start = state.ts_key_frames.key_frame_start();
      state.start_prefix = state.ts_key_frames.tables();
      state.statistics.instant_start_bytes = state.ts_key_frames.held();
      break;
    case StreamKind::fragmented_mp4:
      state.key_start = state.mp4.last_sync_fragment();
      state.start_prefix = state.init_segment;
      state.statistics.instant_start_bytes = state.mp4.buffered();
      break;
    case StreamKind::mjpeg:
      break;  // every part is a whole picture: see publish
  }
  if (!every_unit_start_decodes(state.config.kind) && state.key_start &&
      state.key_start != previous && state.start_prefix &&
      state.ring.holds_recent(*state.key_start, state.ring.capacity()))
    join_waiting_viewers(state, *state.key_start, state.start_prefix);
}

void publish(FanoutState& state, const std::vector<StreamPiece>& pieces, std::size_t fed) {
  std::lock_guard lock(state.mutex);
  state.statistics.bytes_fed += fed;
  if (state.config.kind == StreamKind::fragmented_mp4)
    state.init_segment = state.mp4.init_segment();
  for (const StreamPiece& piece : pieces) {
    if (state.config.kind == StreamKind::mjpeg && piece.unit_start)
      state.key_start = state.ring.end();
    append_piece(state, piece.bytes, piece.unit_start);
  }
  note_key_start(state);
  if (pieces.empty()) return;
  drop_lagging_viewers(state);
  wake_viewers(state);
}

std::size_t copy_for_viewer(FanoutState& state, Viewer& viewer, char* out, std::size_t max) {
  std::size_t copied = 0;
  if (viewer.prefix && viewer.prefix_sent < viewer.prefix->size()) {
    copied = std::min(max, viewer.prefix->size() - viewer.prefix_sent);
    std::memcpy(out, viewer.prefix->data() + viewer.prefix_sent, copied);
    viewer.prefix_sent += copied;
  }
  const std::size_t from_ring = state.ring.copy(viewer.position, out + copied, max - copied);
  viewer.position += from_ring;
  return copied + from_ring;
}

// ---------------------------------------------------------------------------------------------
// MHD callbacks (on MHD's polling thread)

ssize_t read_stream(void* cls, std::uint64_t, char* out, std::size_t max) {
  Viewer& viewer = *static_cast<Viewer*>(cls);
  FanoutState& state = *viewer.owner;
  std::lock_guard lock(state.mutex);
  if (state.stopping || viewer.dropped) return MHD_CONTENT_READER_END_WITH_ERROR;
  if (viewer.joined) {
    const std::size_t copied = copy_for_viewer(state, viewer, out, max);
    if (copied > 0) return static_cast<ssize_t>(copied);
  }
  if (state.finished) return MHD_CONTENT_READER_END_OF_STREAM;
  // Parked until feed() brings data; suspending under the mutex means feed() cannot miss it.
  viewer.suspended = true;
  MHD_suspend_connection(viewer.connection);
  return 0;
}

void release_viewer(void* cls) {
  const Viewer* gone = static_cast<Viewer*>(cls);
  FanoutState& state = *gone->owner;
  std::lock_guard lock(state.mutex);
  std::erase_if(state.viewers, [gone](const auto& viewer) { return viewer.get() == gone; });
}

ssize_t read_nothing(void*, std::uint64_t, char*, std::size_t) {
  return MHD_CONTENT_READER_END_OF_STREAM;
}

// Places a new viewer at the latest key frame, so its first picture decodes at once, unless that
// is so far back that the viewer would start with too little room to catch up.
void start_at_key_frame(FanoutState& state, Viewer& viewer) {
  const std::uint64_t most =
      std::min<std::uint64_t>(state.config.instant_start_limit, state.ring.capacity() / 2);
  if (!state.key_start || !state.ring.holds_recent(*state.key_start, most)) return;
  if (state.config.kind != StreamKind::mjpeg && !state.start_prefix) return;
  viewer.joined = true;
  viewer.position = *state.key_start;
  viewer.prefix = state.start_prefix;
  ++state.statistics.viewers_started_at_key_frame;
}

// ---------------------------------------------------------------------------------------------
// Connections before they become viewers

HeadDeadlines::Watch* watch_of(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info != nullptr ? static_cast<HeadDeadlines::Watch*>(info->socket_context) : nullptr;
}

// On MHD's thread before a new connection is set up; refusing closes it at once.
MHD_Result admit_connection(void* cls, const sockaddr*, socklen_t) {
  FanoutState& state = *static_cast<FanoutState*>(cls);
  std::lock_guard lock(state.count_mutex);
  return state.connections < state.connection_limit ? MHD_YES : MHD_NO;
}

void note_connection(void* cls, MHD_Connection* connection, void** socket_context,
                     MHD_ConnectionNotificationCode code) {
  FanoutState& state = *static_cast<FanoutState*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) return;
    *socket_context = state.deadlines->opened(info->connect_fd);  // marks a connection counted
    std::lock_guard lock(state.count_mutex);
    ++state.connections;
  } else if (*socket_context != nullptr) {
    state.deadlines->closed(static_cast<HeadDeadlines::Watch*>(*socket_context));
    *socket_context = nullptr;
    std::lock_guard lock(state.count_mutex);
    --state.connections;
  }
}

Viewer* add_viewer(FanoutState& state, MHD_Connection* connection) {
  // From here on the connection is a viewer: suspended while it waits, never timed out.
  state.deadlines->head_received(watch_of(connection));
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  auto viewer = std::make_unique<Viewer>();
  viewer->owner = &state;
  viewer->connection = connection;
  viewer->socket = info != nullptr ? info->connect_fd : -1;
  std::lock_guard lock(state.mutex);
  ++state.statistics.viewers_served;
  start_at_key_frame(state, *viewer);
  state.viewers.push_back(std::move(viewer));
  return state.viewers.back().get();
}

void add_stream_headers(MHD_Response* response, StreamKind kind) {
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type(kind).c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache, no-store");
  MHD_add_response_header(response, MHD_HTTP_HEADER_PRAGMA, "no-cache");
  MHD_add_response_header(response, MHD_HTTP_HEADER_ACCESS_CONTROL_ALLOW_ORIGIN, "*");
  // Neither a length nor chunks: the body simply runs until the connection closes, which every
  // player and probe accepts.
  MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
}

MHD_Result refuse_method(MHD_Connection* connection) {
  MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result answer_request(void* cls, MHD_Connection* connection, const char*, const char* method,
                          const char*, const char*, std::size_t* upload_size, void**) {
  FanoutState& state = *static_cast<FanoutState*>(cls);
  if (*upload_size != 0) {
    *upload_size = 0;  // a request body means nothing here
    return MHD_YES;
  }
  const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
  if (!head && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0) return refuse_method(connection);
  {
    std::lock_guard lock(state.mutex);
    if (state.stopping) return MHD_NO;
  }
  MHD_Response* response = nullptr;
  if (head) {
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kReadBlock, &read_nothing,
                                                 nullptr, nullptr);
  } else {
    Viewer* viewer = add_viewer(state, connection);
    // From here the response owns the viewer: release_viewer runs when MHD lets go of it.
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kReadBlock, &read_stream, viewer,
                                                 &release_viewer);
    if (response == nullptr) release_viewer(viewer);
  }
  if (response == nullptr) return MHD_NO;
  add_stream_headers(response, state.config.kind);
  const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return queued;
}

void keep_log_message(void* cls, const char* format, va_list arguments) {
  FanoutState& state = *static_cast<FanoutState*>(cls);
  char text[512];
  std::vsnprintf(text, sizeof text, format, arguments);
  std::string line(text);
  std::replace(line.begin(), line.end(), '\n', ' ');
  while (!line.empty() && line.back() == ' ')
    line.pop_back();
  std::lock_guard lock(state.mutex);
  state.last_log = std::move(line);
}

// ---------------------------------------------------------------------------------------------
// Starting

bool read_pem(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream contents;
  contents << in.rdbuf();
  text = contents.str();
  return !in.bad();
}

struct AddrinfoFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::string bind_failure(int error, std::uint16_t port) {
  if (error == EADDRINUSE) return "port " + std::to_string(port) + " is already in use";
  if (error == EADDRNOTAVAIL) return "the address is not one of this host's";
  if (error == EACCES) return "no permission to listen on port " + std::to_string(port);
  return std::strerror(error);
}

UniqueFd open_listener(std::string host, std::uint16_t port, std::string& reason) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty()) host = "0.0.0.0";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    reason = std::string("cannot resolve the address: ") + gai_strerror(resolved);
    return {};
  }
  const std::unique_ptr<addrinfo, AddrinfoFree> addresses(found);
  UniqueFd listener(
      ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listener) {
    reason = std::string("cannot open a socket: ") + std::strerror(errno);
    return {};
  }
  const int yes = 1;
  // Restarting a channel must not wait for the previous run's connections to leave TIME_WAIT.
  ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (::bind(listener.get(), found->ai_addr, found->ai_addrlen) != 0) {
    reason = bind_failure(errno, port);
    return {};
  }
  if (::listen(listener.get(), kListenBacklog) != 0) {
    reason = bind_failure(errno, port);
    return {};
  }
  return listener;
}

std::uint16_t bound_port(int socket) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

bool load_tls(const FanoutConfig& config, FanoutState& state, std::string& reason) {
  if (config.tls_cert_path.empty() != config.tls_key_path.empty()) {
    reason = "HTTPS needs both a certificate and a key";
    return false;
  }
  if (config.tls_cert_path.empty()) return true;
  if (!read_pem(config.tls_cert_path, state.tls_cert)) {
    reason = "cannot read the certificate " + config.tls_cert_path + ": " + std::strerror(errno);
    return false;
  }
  if (!read_pem(config.tls_key_path, state.tls_key)) {
    reason = "cannot read the key " + config.tls_key_path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

unsigned as_mhd_count(std::size_t count) {
  return static_cast<unsigned>(std::min<std::size_t>(count, UINT_MAX));
}

}  // namespace

FanoutConfig fanout_config_for(StreamKind kind) {
  FanoutConfig config{.kind = kind};
  if (kind == StreamKind::fragmented_mp4) {
    config.viewer_backlog_limit *= 2;
    config.instant_start_limit *= 2;
  }
  return config;
}

std::size_t fanout_connection_budget() {
  // Each connection takes two: its socket, and the duplicate its head deadline is watched on.
  const std::size_t limit = descriptor_limit();
  return limit > 2 * kReservedDescriptors ? (limit - kReservedDescriptors) / 2 : limit / 4;
}

// ---------------------------------------------------------------------------------------------
// HttpFanout

HttpFanout::HttpFanout(std::unique_ptr<FanoutState> state) : state_(std::move(state)) {}

std::unique_ptr<HttpFanout> HttpFanout::start(const FanoutConfig& config, std::string& error) {
  const bool tls = !config.tls_cert_path.empty() || !config.tls_key_path.empty();
  const std::string where = std::string(tls ? "https://" : "http://") +
                            (config.host.empty() ? "0.0.0.0" : config.host) + ":" +
                            std::to_string(config.port);
  auto state = std::make_unique<FanoutState>(config);
  std::string reason;
  if (!load_tls(config, *state, reason)) {
    error = where + ": " + reason;
    return nullptr;
  }
  UniqueFd listener = open_listener(config.host, config.port, reason);
  if (!listener) {
    error = where + ": " + reason;
    return nullptr;
  }
  state->port = bound_port(listener.get());
  state->connection_limit =
      config.connection_limit != 0 ? config.connection_limit : fanout_connection_budget();
  state->deadlines = std::make_unique<HeadDeadlines>(config.head_deadline);

  // One polling thread serves every viewer; a viewer with nothing to send is suspended, so a
  // slow or idle one costs nothing and blocks nobody.
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
  MHD_OptionItem tls_options[] = {
      {MHD_OPTION_END, 0, nullptr}, {MHD_OPTION_END, 0, nullptr}, {MHD_OPTION_END, 0, nullptr}};
  if (tls) {
    flags |= MHD_USE_TLS;
    tls_options[0] = {MHD_OPTION_HTTPS_MEM_CERT, 0, state->tls_cert.data()};
    tls_options[1] = {MHD_OPTION_HTTPS_MEM_KEY, 0, state->tls_key.data()};
  }
  // The daemon owns the listening socket from here on, and closes it even when it fails to start.
  const int listen_socket = listener.release();
  state->daemon = MHD_start_daemon(
      flags, 0, &admit_connection, state.get(), &answer_request, state.get(),
      MHD_OPTION_LISTEN_SOCKET, listen_socket, MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, as_mhd_count(config.viewers_per_address),
      MHD_OPTION_CONNECTION_LIMIT, as_mhd_count(state->connection_limit + kDaemonLimitMargin),
      MHD_OPTION_NOTIFY_CONNECTION, &note_connection, state.get(), MHD_OPTION_EXTERNAL_LOGGER,
      &keep_log_message, state.get(), MHD_OPTION_ARRAY, tls_options, MHD_OPTION_END);
  if (state->daemon == nullptr) {
    error = where + ": " + (tls ? "the certificate or key is not usable" : "cannot start serving");
    if (!state->last_log.empty()) error += " (" + state->last_log + ")";
    return nullptr;
  }
  return std::unique_ptr<HttpFanout>(new HttpFanout(std::move(state)));
}

HttpFanout::~HttpFanout() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    // MHD must not be stopped with suspended connections; resumed, they end themselves.
    wake_viewers(*state_);
  }
  MHD_stop_daemon(state_->daemon);
}

void HttpFanout::feed(std::string_view bytes) {
  FanoutState& state = *state_;
  if (state.feed_ended || bytes.empty()) return;
  state.pieces.clear();
  switch (state.config.kind) {
    case StreamKind::mpegts: {
      StreamPiece packets{{}, true};  // every packet boundary is a place to start
      state.ts.push(bytes, packets.bytes);
      state.ts_key_frames.push(packets.bytes);
      if (!packets.bytes.empty()) state.pieces.push_back(std::move(packets));
      break;
    }
    case StreamKind::fragmented_mp4:
      state.mp4.push(bytes, state.pieces);
      break;
    case StreamKind::mjpeg:
      state.frames.clear();
      state.jpeg.push(bytes, state.frames);
      for (const std::string& frame : state.frames)
        state.pieces.push_back({mjpeg_part(frame), true});
      break;
  }
  publish(state, state.pieces, bytes.size());
}

void HttpFanout::finish() {
  FanoutState& state = *state_;
  if (state.feed_ended) return;
  state.feed_ended = true;
  std::lock_guard lock(state.mutex);
  if (state.config.kind == StreamKind::mjpeg) {
    append_piece(state, "--" + std::string(kBoundary) + "--\r\n", false);
    drop_lagging_viewers(state);
  }
  state.finished = true;
  wake_viewers(state);
}

std::size_t HttpFanout::viewer_count() const {
  std::lock_guard lock(state_->mutex);
  return static_cast<std::size_t>(
      std::count_if(state_->viewers.begin(), state_->viewers.end(),
                    [](const auto& viewer) { return !viewer->dropped; }));
}

std::uint16_t HttpFanout::port() const {
  return state_->port;
}

FanoutStatistics HttpFanout::statistics() const {
  std::lock_guard lock(state_->mutex);
  FanoutStatistics statistics = state_->statistics;
  statistics.open_responses = state_->viewers.size();
  return statistics;
}

}  // namespace vx
