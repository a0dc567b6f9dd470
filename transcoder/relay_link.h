// One relayed target between the encoding ffmpeg and the relay process that delivers it to its
// network peer (an RTMP ingest, an SRT listener). The encoder is never made to wait: whatever the
// relay cannot take is dropped. A relay that was (re)started gets the stream's start bytes (its
// headers) first and then the stream from the next point a decoder can start at, and after a gap
// the stream resumes at such a point too, so its peer always gets a stream that decodes from its
// first frame. Ends of relays are spaced out by RelayBackoff.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transcoder/stream_framing.h"

namespace vx {

class RelayLink {
 public:
  // queue_limit: the most bytes waiting for the relay; a piece that would go beyond is dropped
  // with everything up to the next start point.
  explicit RelayLink(std::size_t queue_limit) : queue_limit_(queue_limit) {}

  // A relay process was started: it is sent `start_bytes`, then the pieces from the next one
  // whose unit_start is set.
  void relay_started(std::string start_bytes);
  // The relay process ended or its pipe broke: nothing more is queued for it until it starts
  // again, and what was queued is gone.
  void relay_ended();
  bool relay_running() const { return state_ != State::down; }

  // The next piece of the encoder's output, in stream order.
  void push(const StreamPiece& piece);

  // What is to be written to the relay now (empty when nothing is), and how much of it was.
  std::string_view pending() const { return std::string_view(queue_).substr(sent_); }
  void consumed(std::size_t count);

  struct Statistics {
    std::uint64_t bytes_queued = 0;
    std::uint64_t bytes_dropped = 0;  // while the relay was down, waiting or full
    std::uint64_t gaps = 0;           // times a full queue made the stream skip ahead
  };
  const Statistics& statistics() const { return statistics_; }

 private:
  enum class State { down, waiting_for_start_point, streaming };

  void drop(std::size_t bytes) { statistics_.bytes_dropped += bytes; }
  void queue(std::string_view bytes);

  const std::size_t queue_limit_;
  State state_ = State::down;
  std::string queue_;
  std::size_t sent_ = 0;  // bytes at the front of queue_ already written
  Statistics statistics_;
};

// When to start a relay again after it ended: 1 s after the first end, doubling with every end
// up to 10 s; a relay that had streamed for kSteadyStreaming before it ended is counted as
// healthy, and the next wait is 1 s again.
class RelayBackoff {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kFirstWait = std::chrono::seconds(1);
  static constexpr auto kLongestWait = std::chrono::seconds(10);
  static constexpr auto kSteadyStreaming = std::chrono::seconds(30);

  void started(Clock::time_point now) { started_at_ = now; }
  // The relay ended at `now`: how long to wait before starting it again.
  Clock::duration ended(Clock::time_point now);

 private:
  Clock::time_point started_at_{};
  Clock::duration next_wait_ = kFirstWait;
};

}  // namespace vx
