// HttpFanout: the transcoder's own HTTP(S) server for the outputs it serves itself. It takes one
// stream (MPEG-TS, fragmented MP4 or MJPEG) as ffmpeg writes it and gives it to any number of
// viewers, each from the latest key frame so its first picture decodes at once (or, when that is
// too far back, from the live edge, or for MP4 the next key frame); a viewer that cannot keep up is
// dropped, never the stream.
// It also guards the descriptors it lives on: connections per client address and in all are
// limited, and a connection that has not become a viewer soon after it arrives is closed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "vocabulary/transcoder_protocol.h"

namespace vx {

enum class StreamKind { mpegts, fragmented_mp4, mjpeg };

struct FanoutConfig {
  std::string host{};      // listening address from the output URL, e.g. "0.0.0.0" or "127.0.0.1"
  std::uint16_t port = 0;  // 0 picks a free port; see HttpFanout::port()
  StreamKind kind = StreamKind::mpegts;
  // Both set: HTTPS with this PEM certificate and key; both empty: HTTP.
  std::string tls_cert_path{};
  std::string tls_key_path{};
  // How far (in bytes) a viewer may fall behind the live edge before it is dropped. It is also
  // all the stream memory held for every viewer together, so it must exceed the largest
  // fragment or picture of the stream.
  std::size_t viewer_backlog_limit = std::size_t{8} << 20;
  // The most stream bytes since the latest key frame (fragment, picture) a new viewer is started
  // with. Further back, or at 0, it waits for the next packet boundary, fragment that opens with a
  // key frame, or picture instead. Never more than half the backlog limit, so such a viewer has
  // room to catch up.
  std::size_t instant_start_limit = std::size_t{4} << 20;
  // Connections from one client address at once; more are closed as they arrive. An office
  // behind one address must still be able to watch, so a few hundred rather than a handful.
  std::size_t viewers_per_address = kDefaultViewersPerAddress;
  // Connections at once from every address together; 0: fanout_connection_budget(). Beyond it a
  // new connection is closed as it arrives, never left waiting.
  std::size_t connection_limit = 0;
  // A connection has this long from its arrival to finish its request head, however slowly it
  // trickles (the idle timeout starts again with every byte). Viewers it no longer concerns.
  std::chrono::milliseconds head_deadline{10'000};
};

// The configuration a served stream of `kind` starts from. A fragmented MP4 viewer starts at the
// latest fragment that opens with a key frame, up to a whole key-frame interval back: its stream
// memory is doubled (16 MiB, 8 MiB of them for instant starts, a 10 s interval up to some
// 6.7 Mbit/s). Further back a new viewer waits for the next key frame instead.
FanoutConfig fanout_config_for(StreamKind kind);

// The connections this process's fan-outs may hold together: the descriptor limit in force less
// room for ffmpeg's pipes, the relays and the program's own files, two descriptors for each.
std::size_t fanout_connection_budget();

struct FanoutStatistics {
  std::uint64_t viewers_served = 0;   // stream requests answered
  std::uint64_t viewers_dropped = 0;  // for falling too far behind
  std::uint64_t viewers_started_at_key_frame = 0;
  // What instant starts hold besides the ring: the MPEG-TS tables, a moof being judged.
  std::size_t instant_start_bytes = 0;
  std::uint64_t bytes_fed = 0;
  // Stream responses MHD still holds: dropped viewers count until their connection is gone.
  std::size_t open_responses = 0;
};

struct FanoutState;  // the server, the stream and its viewers; in http_fanout.cpp

class HttpFanout {
 public:
  // Listens and serves every path on that port (GET and HEAD). nullptr and a one-line error text
  // (naming the address and port and the reason) on failure.
  static std::unique_ptr<HttpFanout> start(const FanoutConfig& config, std::string& error);

  HttpFanout(const HttpFanout&) = delete;
  HttpFanout& operator=(const HttpFanout&) = delete;
  ~HttpFanout();  // stops serving, closes every viewer

  // The stream's bytes in order as ffmpeg writes them, in any chunk sizes. feed(), finish() and
  // the destructor come from one thread (the transcoder's reader). Never blocks on viewers.
  void feed(std::string_view bytes);
  // The end of the stream: viewers get the rest and their responses end.
  void finish();

  // Viewers connected and not dropped, including those waiting for their first fragment.
  std::size_t viewer_count() const;
  std::uint16_t port() const;
  FanoutStatistics statistics() const;

 private:
  explicit HttpFanout(std::unique_ptr<FanoutState> state);

  std::unique_ptr<FanoutState> state_;
};

}  // namespace vx
