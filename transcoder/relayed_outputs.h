// The outputs ffmpeg writes into pipes that relay processes deliver to their network peers: the
// pipes, and one thread per output that reads the encoder's bytes at once (the encoder never
// waits), hands them to its relay, starts the relay again with a back-off whenever it ends, and
// says in the channel log when the target is lost and when it is back. At the end of the
// encoder's stream each relay gets the rest, then the end of its input, and finishes its output.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "transcoder/child_process.h"
#include "transcoder/translation.h"

namespace vx {

// The most bytes a relay may be behind before the stream skips to a later key frame for it.
inline constexpr std::size_t kRelayQueueLimit = std::size_t{8} << 20;

class RelayedOutputs {
 public:
  explicit RelayedOutputs(std::string ffmpeg) : ffmpeg_(std::move(ffmpeg)) {}
  RelayedOutputs(const RelayedOutputs&) = delete;
  RelayedOutputs& operator=(const RelayedOutputs&) = delete;
  ~RelayedOutputs() { join(); }

  // Opens the pipes; false after one line that says why.
  bool open(const std::vector<RelayedOutput>& relayed);
  // Hands the pipes to the encoder under the numbers its arguments name.
  void hand_to(ChildPlan& plan) const;
  // Once the encoder runs: the relays start and the pumps run. Our write ends stay open, so that
  // an encoder started again in its place writes into the same pipes.
  void start_pumping();
  // Once no other encoder will get the pipes: our write ends close, and the pumps end with the
  // encoder's.
  void close_write_ends();
  // Once the encoder is gone: our write ends close, and it waits until every pipe has ended and
  // every relay has finished.
  void join();

 private:
  struct Output {
    RelayedOutput plan;
    Pipe pipe;
  };

  std::string ffmpeg_;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::vector<std::thread> pumps_;
};

}  // namespace vx
