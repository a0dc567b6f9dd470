// What the channel list's history cell draws from a channel's last ten minutes: a frame-rate and
// a bit-rate sparkline, each scaled to its own largest figure so that a dip shows however small
// the channel's rate, broken where the engine had no figure; the stretches of seconds without a
// signal; and the tip that gives the lines their scale. The time axis is the same for every row:
// the newest second at the right end, ten minutes across, so rows can be compared at a glance.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/channel_history.h"

namespace vx {

struct SparkPoint {
  double x = 0;
  double y = 0;  // 0: the line's largest figure; the box's height: nothing

  bool operator==(const SparkPoint&) const = default;
};

struct Sparkline {
  // Runs of seconds that have a figure, oldest first; a missing figure ends a run. A run of one
  // point is drawn as a dot. Where several seconds fall in one pixel column (x between two whole
  // numbers) only the highest and the lowest of them are kept, in their order.
  std::vector<std::vector<SparkPoint>> runs;
  std::int32_t peak = 0;  // the largest figure, drawn at the top; 0 when there is none
};

// A stretch of the time axis, from its left edge to its right edge.
struct SparkSpan {
  double from = 0;
  double to = 0;

  bool operator==(const SparkSpan&) const = default;
};

struct HistorySparklines {
  Sparkline fps;
  Sparkline bitrate;
  std::vector<SparkSpan> no_signal;  // seconds the channel ran without a signal
};

// The lines of `samples` (oldest first) in a box `width` x `height` with its origin at the top
// left. Second k of the kHistorySamples on the axis spans [k, k + 1) * width / kHistorySamples and
// its point lies in the middle; the newest sample takes the last second, so a short history
// starts part way along. Only the newest kHistorySamples samples are drawn; a negative figure is
// a missing one.
HistorySparklines history_sparklines(const std::vector<HistorySample>& samples, double width,
                                     double height);

// The tip over the history cell: how far it reaches back, each line's largest figure and the
// seconds without a signal.
std::string history_tip(const std::vector<HistorySample>& samples);

}  // namespace vx
