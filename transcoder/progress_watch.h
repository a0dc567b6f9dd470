// Notices an output whose video has stopped moving: ffmpeg still reports progress, but neither
// the frame count nor the output position has advanced for a while. ffmpeg that reports nothing
// at all is left to the engine's own silence watchdog.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

inline constexpr int kFrozenVideoSeconds = 10;

class ProgressWatch {
 public:
  explicit ProgressWatch(int limit_seconds = kFrozenVideoSeconds) : limit_(limit_seconds) {}

  // Takes what ffmpeg printed at `now` (seconds, any steady clock). True once, the first time
  // the frame count and the output position have stood still for longer than the limit while
  // progress kept coming.
  bool frozen_after(std::string_view output, double now);

 private:
  void take_report(std::string_view report, double now);

  int limit_;
  std::string partial_;  // a progress report not yet ended by "\r" or "\n"
  std::optional<std::int64_t> frames_;
  std::string position_;  // the report's "time=" value
  double moved_at_ = 0;
  double last_report_at_ = 0;
  bool reported_ = false;
};

}  // namespace vx
