// The viewer reports of the outputs the transcoder serves over HTTP: each output's count once at
// the start, then whenever it changes, at most once a second per output (and again every ten
// seconds while it does not), so that the engine learns the counts without a line for every
// viewer that comes and goes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transcoder/http_fanout.h"

namespace vx {

// "morvi-transcoder: target N viewers K"
std::string viewer_report(int target, std::size_t viewers);

class ViewerReports {
 public:
  // An output the engine knows by its target number.
  struct Watched {
    int target = 0;
    const HttpFanout* fanout = nullptr;
  };

  ViewerReports() = default;
  ViewerReports(const ViewerReports&) = delete;
  ViewerReports& operator=(const ViewerReports&) = delete;
  ~ViewerReports() { stop(); }

  // Says every count at once, then watches them on a thread of its own until stop(). The fan-outs
  // must outlive the watching.
  void start(const std::vector<Watched>& outputs);
  void stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Output {
    Watched watched;
    std::size_t said = 0;
    Clock::time_point said_at{};
  };

  void run();
  static void say_count(Output& output, std::size_t viewers, Clock::time_point now);

  std::vector<Output> outputs_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vx
