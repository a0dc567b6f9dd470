#include "transcoder/viewer_reports.h"

#include "transcoder/child_process.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

// A count that changed is said once it has been a second since the output's last report; it is
// looked at this often, so the latest count always follows soon after a burst of changes.
constexpr auto kLookPeriod = std::chrono::milliseconds(100);
constexpr auto kLeastGap = std::chrono::seconds(1);
// An unchanged count is said again this often: ffmpeg writes to the same output, and a report
// that lands inside one of its unfinished lines is not recognised; the next one mends it.
constexpr auto kRepeatGap = std::chrono::seconds(10);

}  // namespace

std::string viewer_report(int target, std::size_t viewers) {
  return std::string(kTargetLinePrefix) + std::to_string(target) + std::string(kTargetViewers) +
         std::to_string(viewers) + "\n";
}

void ViewerReports::start(const std::vector<Watched>& outputs) {
  const Clock::time_point now = Clock::now();
  for (const Watched& watched : outputs) {
    Output output{watched};
    say_count(output, watched.fanout->viewer_count(), now);
    outputs_.push_back(output);
  }
  if (!outputs_.empty()) thread_ = std::thread([this] { run(); });
}

void ViewerReports::stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void ViewerReports::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kLookPeriod, [this] { return stopping_; })) {
    const Clock::time_point now = Clock::now();
    for (Output& output : outputs_) {
      const std::size_t viewers = output.watched.fanout->viewer_count();
      const auto since = now - output.said_at;
      if ((viewers != output.said && since >= kLeastGap) || since >= kRepeatGap)
        say_count(output, viewers, now);
    }
  }
}

void ViewerReports::say_count(Output& output, std::size_t viewers, Clock::time_point now) {
  say(viewer_report(output.watched.target, viewers));
  output.said = viewers;
  output.said_at = now;
}

}  // namespace vx
