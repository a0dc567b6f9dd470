// What the encoder (ffmpeg) prints, on its way to our standard output where the engine reads its
// progress and keeps it in the channel log: URLs lose their user and password on the way, whole
// lines at a time (a line cut by the pipe waits for its rest). The frozen-video check reads
// along.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "transcoder/progress_watch.h"

namespace vx {

class OutputRelay {
 public:
  explicit OutputRelay(int frozen_video_seconds) : watch_(frozen_video_seconds) {}

  // Relays until every writer has closed the pipe.
  void relay(int fd);
  // The same, and runs `step` after each piece and whenever `period` passes without one, so the
  // caller can look after its other children between reads.
  void relay(int fd, std::chrono::milliseconds period, const std::function<void()>& step);

  // Keeps every line that opens with `start` out of what is passed on; withheld() tells whether
  // one came.
  void withhold(std::string start) { withheld_start_ = std::move(start); }
  bool withheld() const { return withheld_; }

 private:
  void pass_on(std::string_view text);
  void pass_on_rest();
  void say_lines(std::string text);

  ProgressWatch watch_;
  std::string unfinished_line_;
  std::string withheld_start_;
  bool withheld_ = false;
};

}  // namespace vx
