#include "transcoder/progress_watch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vx {
namespace {

std::string report(int frame, const std::string& position = "00:00:04.00") {
  return "frame=" + std::to_string(frame) + " fps=25 q=28.0 size=100kB time=" + position +
         " bitrate=200.0kbits/s speed=1x    \r";
}

std::string position_at(int second) {
  char text[32];
  std::snprintf(text, sizeof text, "00:%02d:%02d.00", second / 60, second % 60);
  return text;
}

TEST(ProgressWatch, ReportsVideoThatStandsStillOnce) {
  ProgressWatch watch(10);
  double now = 100;
  for (int second = 0; second < 10; ++second, now += 1) {
    EXPECT_FALSE(watch.frozen_after(report(50 + second), now));
  }
  // From here on the count stays at 59.
  bool reported = false;
  int reports = 0;
  for (int second = 0; second < 15; ++second, now += 1) {
    if (watch.frozen_after(report(59), now)) {
      reported = true;
      ++reports;
      EXPECT_GT(second, 10 - 1);
    }
  }
  EXPECT_TRUE(reported);
  EXPECT_EQ(reports, 1);
}

TEST(ProgressWatch, SilenceAudioOnlyAndMovingVideoAreNotFrozen) {
  ProgressWatch silent(10);
  EXPECT_FALSE(silent.frozen_after(report(5), 0));
  EXPECT_FALSE(silent.frozen_after("", 30));  // nothing reported for 30 s: the engine's business

  ProgressWatch audio(10);
  for (int second = 0; second < 30; ++second) {
    EXPECT_FALSE(audio.frozen_after("size=10kB time=00:00:01.00 bitrate=64.0kbits/s\r", second));
  }

  ProgressWatch moving(10);
  for (int second = 0; second < 30; ++second) {
    EXPECT_FALSE(moving.frozen_after(report(second * 25), second));
  }
}

// Music with its cover picture: one frame for good while the output moves on with the sound.
// Once the position stops as well, the output is frozen after all.
TEST(ProgressWatch, AStillPictureWithMovingOutputIsNotFrozenUntilTheOutputStops) {
  ProgressWatch watch(10);
  int second = 0;
  for (; second < 60; ++second) {
    EXPECT_FALSE(watch.frozen_after(report(1, position_at(second)), second)) << second;
  }
  int reports = 0;
  for (int still = 0; still < 30; ++still) {
    if (watch.frozen_after(report(1, position_at(second)), second + still)) {
      ++reports;
      EXPECT_GT(still, 10 - 1);
    }
  }
  EXPECT_EQ(reports, 1);
}

TEST(ProgressWatch, ReportsSplitAcrossReadsCount) {
  ProgressWatch watch(2);
  const std::string line = report(7);
  double now = 0;
  for (int second = 0; second < 6; ++second, now += 1) {
    const std::size_t cut = static_cast<std::size_t>(second) * 7 % line.size();
    watch.frozen_after(line.substr(0, cut), now);
    if (watch.frozen_after(line.substr(cut), now)) {
      EXPECT_GE(second, 3);
      return;
    }
  }
  ADD_FAILURE() << "a count split across reads was never seen standing still";
}

}  // namespace
}  // namespace vx
