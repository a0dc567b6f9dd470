#include "transcoder/relay_link.h"

#include <algorithm>

namespace vx {

void RelayLink::relay_started(std::string start_bytes) {
  queue_ = std::move(start_bytes);
  sent_ = 0;
  state_ = State::waiting_for_start_point;
}

void RelayLink::relay_ended() {
  drop(queue_.size() - sent_);
  queue_.clear();
  sent_ = 0;
  state_ = State::down;
}

void RelayLink::push(const StreamPiece& piece) {
  if (state_ == State::down) return drop(piece.bytes.size());
  if (state_ == State::waiting_for_start_point) {
    if (!piece.unit_start) return drop(piece.bytes.size());
    state_ = State::streaming;
  }
  if (pending().size() + piece.bytes.size() > queue_limit_) {
    // What was queued stays whole (the relay may be in the middle of it); the stream goes on at
    // the next start point, so the peer sees a jump, never a broken frame.
    ++statistics_.gaps;
    state_ = State::waiting_for_start_point;
    return drop(piece.bytes.size());
  }
  queue(piece.bytes);
}

void RelayLink::queue(std::string_view bytes) {
  // Written bytes are let go once they are a good part of the buffer, not on every write.
  if (sent_ > 0 && sent_ >= queue_.size() / 2) {
    queue_.erase(0, sent_);
    sent_ = 0;
  }
  queue_.append(bytes);
  statistics_.bytes_queued += bytes.size();
}

void RelayLink::consumed(std::size_t count) {
  sent_ += std::min(count, queue_.size() - sent_);
  if (sent_ == queue_.size()) {
    queue_.clear();
    sent_ = 0;
  }
}

RelayBackoff::Clock::duration RelayBackoff::ended(Clock::time_point now) {
  if (now - started_at_ >= kSteadyStreaming) next_wait_ = kFirstWait;
  const Clock::duration wait = next_wait_;
  next_wait_ = std::min<Clock::duration>(next_wait_ * 2, kLongestWait);
  return wait;
}

}  // namespace vx
