#include "transcoder/progress_watch.h"

#include <cstdlib>

namespace vx {
namespace {

constexpr std::size_t kLongestReport = 4096;

// "frame=  250 fps=..." at the start of a progress report.
std::optional<std::int64_t> frame_count_of(std::string_view report) {
  const std::size_t at = report.find("frame=");
  if (at == std::string_view::npos || report.find(" time=") == std::string_view::npos) {
    return std::nullopt;
  }
  std::size_t i = at + 6;
  while (i < report.size() && report[i] == ' ')
    ++i;
  if (i == report.size() || report[i] < '0' || report[i] > '9') return std::nullopt;
  std::int64_t count = 0;
  for (; i < report.size() && report[i] >= '0' && report[i] <= '9' && count < (1LL << 60); ++i) {
    count = count * 10 + (report[i] - '0');
  }
  return count;
}

}  // namespace

void ProgressWatch::take_frame_count(std::string_view report, double now) {
  const std::optional<std::int64_t> count = frame_count_of(report);
  if (!count) return;
  last_report_at_ = now;
  if (!frames_ || *count != *frames_) {
    frames_ = count;
    frames_changed_at_ = now;
  }
}

bool ProgressWatch::frozen_after(std::string_view output, double now) {
  for (char c : output) {
    if (c == '\r' || c == '\n') {
      take_frame_count(partial_, now);
      partial_.clear();
    } else if (partial_.size() < kLongestReport) {
      partial_.push_back(c);
    }
  }
  if (reported_ || !frames_) return false;
  // Only while reports keep coming: a silent ffmpeg is not frozen video but a hang.
  const bool reporting = now - last_report_at_ <= limit_;
  if (reporting && last_report_at_ - frames_changed_at_ > limit_) {
    reported_ = true;
    return true;
  }
  return false;
}

}  // namespace vx
