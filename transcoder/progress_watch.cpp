#include "transcoder/progress_watch.h"

#include <cstdlib>

namespace vx {
namespace {

constexpr std::size_t kLongestReport = 4096;
constexpr std::string_view kPosition = " time=";

// "frame=  250 fps=..." at the start of a progress report.
std::optional<std::int64_t> frame_count_of(std::string_view report) {
  const std::size_t at = report.find("frame=");
  if (at == std::string_view::npos || report.find(kPosition) == std::string_view::npos) {
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

// "00:01:02.48" (or "N/A") after " time=": how far the output has got.
std::string_view position_of(std::string_view report) {
  const std::size_t at = report.find(kPosition);
  if (at == std::string_view::npos) return {};
  const std::string_view rest = report.substr(at + kPosition.size());
  return rest.substr(0, rest.find(' '));
}

}  // namespace

// A source whose video is one still picture (music with its cover, a slide) keeps the frame
// count standing for good while the output position moves on with its sound: that output is
// alive. An encoder that is stuck, or a source that stopped delivering, holds both.
void ProgressWatch::take_report(std::string_view report, double now) {
  const std::optional<std::int64_t> count = frame_count_of(report);
  if (!count) return;
  last_report_at_ = now;
  const std::string_view position = position_of(report);
  if (!frames_ || *count != *frames_ || position != position_) {
    frames_ = count;
    position_ = position;
    moved_at_ = now;
  }
}

bool ProgressWatch::frozen_after(std::string_view output, double now) {
  for (char c : output) {
    if (c == '\r' || c == '\n') {
      take_report(partial_, now);
      partial_.clear();
    } else if (partial_.size() < kLongestReport) {
      partial_.push_back(c);
    }
  }
  if (reported_ || !frames_) return false;
  // Only while reports keep coming: a silent ffmpeg is not frozen video but a hang.
  const bool reporting = now - last_report_at_ <= limit_;
  if (reporting && last_report_at_ - moved_at_ > limit_) {
    reported_ = true;
    return true;
  }
  return false;
}

}  // namespace vx
