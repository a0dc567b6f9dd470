#include "window_logic/history_sparklines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "vocabulary/channel_glance.h"

namespace vx {
namespace {

using Points = std::vector<SparkPoint>;
constexpr ChannelState kOn = ChannelState::running;
constexpr ChannelState kQuiet = ChannelState::no_signal;

// Frame rates with a bit rate of 100 times the figure (none where it is missing).
std::vector<HistorySample> rates(const std::vector<std::int32_t>& fps, ChannelState state = kOn) {
  std::vector<HistorySample> samples;
  for (const std::int32_t figure : fps)
    samples.push_back({figure, figure < 0 ? -1 : 100 * figure, state});
  return samples;
}

// A box one pixel per second (600 x 10): second k of the axis has its point at x = k + 0.5.
constexpr double kWidth = kHistorySamples;
constexpr double kHeight = 10;
constexpr double kLast = kHistorySamples - 0.5;

TEST(HistorySparklines, LinesAreScaledToTheirPeakAndBrokenWhereAFigureIsMissing) {
  std::vector<std::int32_t> ramp(kHistorySamples);
  for (int k = 0; k < kHistorySamples; ++k)
    ramp[static_cast<std::size_t>(k)] = k % 7;
  std::vector<std::int32_t> one_too_many = {99};  // older than ten minutes: not drawn
  one_too_many.insert(one_too_many.end(), ramp.begin(), ramp.end());

  struct Case {
    const char* name;
    std::vector<std::int32_t> fps;
    std::int32_t peak;
    std::vector<Points> runs;
  };
  const Case cases[] = {
      {"missing at both ends", {-1, -1, 10, 20, -1}, 20, {{{kLast - 2, 5}, {kLast - 1, 0}}}},
      {"all missing", {-1, -1, -1}, 0, {}},
      {"nothing yet", {}, 0, {}},
      {"a single sample", {25}, 25, {{{kLast, 0}}}},
      {"a flat line sits at the top",
       {25, 25, 25},
       25,
       {{{kLast - 2, 0}, {kLast - 1, 0}, {kLast, 0}}}},
      {"a dip",
       {20, 10, 0, 20},
       20,
       {{{kLast - 3, 0}, {kLast - 2, 5}, {kLast - 1, 10}, {kLast, 0}}}},
      {"a gap leaves two dots", {8, -1, 4}, 8, {{{kLast - 2, 0}}, {{kLast, 5}}}},
      {"only zeros lie at the bottom", {0, 0}, 0, {{{kLast - 1, kHeight}, {kLast, kHeight}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HistorySparklines lines = history_sparklines(rates(c.fps), kWidth, kHeight);
    EXPECT_EQ(lines.fps.peak, c.peak);
    EXPECT_EQ(lines.fps.runs, c.runs);
    // The bit rate is the same line a hundred times higher: the same points, its own peak.
    EXPECT_EQ(lines.bitrate.runs, c.runs);
    EXPECT_EQ(lines.bitrate.peak, 100 * c.peak);
    EXPECT_TRUE(lines.no_signal.empty());
  }

  // Ten minutes fill the axis end to end; a sample older than that is left out.
  for (const auto& fps : {ramp, one_too_many}) {
    const HistorySparklines full = history_sparklines(rates(fps), kWidth, kHeight);
    EXPECT_EQ(full.fps.peak, 6);
    ASSERT_EQ(full.fps.runs.size(), 1u);
    const Points& run = full.fps.runs.front();
    ASSERT_EQ(run.size(), static_cast<std::size_t>(kHistorySamples));
    EXPECT_EQ(run.front(), (SparkPoint{0.5, kHeight}));
    EXPECT_EQ(run[6], (SparkPoint{6.5, 0}));
    EXPECT_EQ(run.back(), (SparkPoint{kLast, kHeight - kHeight * (599 % 7) / 6}));
  }

  // In a box narrower than ten minutes, a pixel column keeps only its highest and lowest point
  // in their order: the ramp's in each column of six seconds, a single second's dip, one point of
  // a level stretch.
  const HistorySparklines narrow = history_sparklines(rates(ramp), 100, kHeight);
  const double second = 100.0 / kHistorySamples;
  ASSERT_EQ(narrow.fps.runs.size(), 1u);
  EXPECT_EQ(narrow.fps.runs[0].size(), 200u);
  EXPECT_EQ(narrow.fps.runs[0][0], (SparkPoint{second / 2, kHeight}));
  EXPECT_EQ(narrow.fps.runs[0][1],
            (SparkPoint{5 * second + second / 2, kHeight - kHeight * 5 / 6}));
  std::vector<std::int32_t> dip(kHistorySamples, 25);
  dip[301] = 5;
  const std::vector<SparkPoint> level = history_sparklines(rates(dip), 100, kHeight).fps.runs[0];
  EXPECT_EQ(level.size(), 101u);
  EXPECT_EQ(std::count_if(level.begin(), level.end(), [](SparkPoint p) { return p.y == 8; }), 1);

  // Each line has its own gaps, and the axis scales with the box.
  std::vector<HistorySample> no_bitrate = rates({30, 15});
  for (HistorySample& sample : no_bitrate)
    sample.bitrate_kbps = -1;
  const HistorySparklines half = history_sparklines(no_bitrate, kWidth / 2, 4);
  EXPECT_EQ(half.fps.runs, (std::vector<Points>{{{kLast / 2 - 0.5, 0}, {kLast / 2, 2}}}));
  EXPECT_TRUE(half.bitrate.runs.empty());
}

TEST(HistorySparklines, SecondsWithoutASignalAreStretchesOfTheAxis) {
  std::vector<HistorySample> samples = rates({25, 0, 0, 25, 0, -1});
  const ChannelState states[] = {kOn, kQuiet, kQuiet, kOn, kQuiet, ChannelState::idle};
  for (std::size_t k = 0; k < samples.size(); ++k)
    samples[k].state = states[k];
  const HistorySparklines lines = history_sparklines(samples, kWidth, kHeight);
  EXPECT_EQ(lines.no_signal, (std::vector<SparkSpan>{{595, 597}, {598, 599}}));
  // The quiet seconds still draw their figure: the dip to 0 is what the operator looks for.
  ASSERT_EQ(lines.fps.runs.size(), 1u);
  EXPECT_EQ(lines.fps.runs[0].size(), 5u);
  EXPECT_EQ(history_sparklines(rates({0, 0}, kQuiet), kWidth, kHeight).no_signal,
            (std::vector<SparkSpan>{{598, 600}}));
}

TEST(HistorySparklines, TheTipGivesTheReachPeaksAndQuietSeconds) {
  std::vector<HistorySample> ten_minutes = rates(std::vector<std::int32_t>(kHistorySamples, 25));
  for (int k = 100; k < 112; ++k)
    ten_minutes[static_cast<std::size_t>(k)].state = kQuiet;
  ten_minutes[300].bitrate_kbps = 4500;
  std::vector<HistorySample> no_bitrate = rates({24, -1, 25});
  no_bitrate[2].bitrate_kbps = -1;
  no_bitrate[0].bitrate_kbps = -1;

  const std::pair<std::vector<HistorySample>, std::string> cases[] = {
      {{}, "No history yet."},
      {rates({-1, -1}, ChannelState::idle),
       "Last 2 s, newest at the right: no frame rate, no bit rate."},
      {no_bitrate,
       "Last 3 s, newest at the right: frame rate (upper line) up to 25 fps, no bit "
       "rate."},
      {ten_minutes,
       "Last 10 min, newest at the right: frame rate (upper line) up to 25 fps, bit "
       "rate (lower line) up to 4500 Kbps, no signal (red) for 12 s."},
  };
  for (const auto& [samples, tip] : cases)
    EXPECT_EQ(history_tip(samples), tip);
}

}  // namespace
}  // namespace vx
