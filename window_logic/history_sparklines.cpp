#include "window_logic/history_sparklines.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "vocabulary/channel_glance.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

using Figure = std::int32_t HistorySample::*;

// The samples drawn: the newest kHistorySamples.
std::span<const HistorySample> drawn_samples(const std::vector<HistorySample>& samples) {
  const std::size_t most = static_cast<std::size_t>(kHistorySamples);
  const std::span<const HistorySample> all(samples);
  return all.size() > most ? all.last(most) : all;
}

// The axis: where the drawn samples start and how wide one second is.
struct TimeAxis {
  std::size_t first_second = 0;
  double second_width = 0;

  double left(std::size_t sample) const {
    return static_cast<double>(first_second + sample) * second_width;
  }
  double middle(std::size_t sample) const { return left(sample) + second_width / 2; }
};

TimeAxis time_axis(std::size_t samples, double width) {
  return {static_cast<std::size_t>(kHistorySamples) - samples, width / kHistorySamples};
}

// A run with at most two points in each pixel column: of the points that fall in one, the highest
// and the lowest in their order (one when they lie level), so a dip of a single second stays
// while a long history costs no more to draw than the box is wide.
std::vector<SparkPoint> thinned(const std::vector<SparkPoint>& run) {
  std::vector<SparkPoint> kept;
  for (std::size_t first = 0; first < run.size();) {
    const double column = std::floor(run[first].x);
    std::size_t end = first;
    std::size_t top = first, bottom = first;
    for (; end < run.size() && std::floor(run[end].x) == column; ++end) {
      if (run[end].y < run[top].y) top = end;
      if (run[end].y > run[bottom].y) bottom = end;
    }
    kept.push_back(run[std::min(top, bottom)]);
    if (run[top].y != run[bottom].y) kept.push_back(run[std::max(top, bottom)]);
    first = end;
  }
  return kept;
}

std::int32_t peak_of(std::span<const HistorySample> samples, Figure figure) {
  std::int32_t peak = 0;
  for (const HistorySample& sample : samples)
    peak = std::max(peak, sample.*figure);
  return peak;
}

Sparkline sparkline(std::span<const HistorySample> samples, Figure figure, const TimeAxis& axis,
                    double height) {
  Sparkline line;
  line.peak = peak_of(samples, figure);
  bool in_run = false;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const std::int32_t value = samples[k].*figure;
    if (value < 0) {
      in_run = false;
      continue;
    }
    if (!in_run) line.runs.emplace_back();
    in_run = true;
    const double y = line.peak > 0 ? height - height * value / line.peak : height;
    line.runs.back().push_back({axis.middle(k), y});
  }
  for (std::vector<SparkPoint>& run : line.runs)
    run = thinned(run);
  return line;
}

std::vector<SparkSpan> no_signal_spans(std::span<const HistorySample> samples,
                                       const TimeAxis& axis) {
  std::vector<SparkSpan> spans;
  bool in_span = false;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (samples[k].state != ChannelState::no_signal) {
      in_span = false;
      continue;
    }
    if (!in_span) spans.push_back({axis.left(k), axis.left(k)});
    in_span = true;
    spans.back().to = axis.left(k + 1);
  }
  return spans;
}

std::string reach_text(std::size_t seconds) {
  std::string text;
  if (seconds < 120) {
    append_format(text, "%zu s", seconds);
  } else {
    append_format(text, "%zu min", seconds / 60);
  }
  return text;
}

}  // namespace

HistorySparklines history_sparklines(const std::vector<HistorySample>& samples, double width,
                                     double height) {
  const std::span<const HistorySample> drawn = drawn_samples(samples);
  const TimeAxis axis = time_axis(drawn.size(), width);
  return {sparkline(drawn, &HistorySample::fps, axis, height),
          sparkline(drawn, &HistorySample::bitrate_kbps, axis, height),
          no_signal_spans(drawn, axis)};
}

std::string history_tip(const std::vector<HistorySample>& samples) {
  const std::span<const HistorySample> drawn = drawn_samples(samples);
  if (drawn.empty()) return "No history yet.";
  const auto reported = [&](Figure figure) {
    return std::any_of(drawn.begin(), drawn.end(),
                       [figure](const HistorySample& sample) { return sample.*figure >= 0; });
  };
  std::string tip = "Last " + reach_text(drawn.size()) + ", newest at the right: ";
  if (reported(&HistorySample::fps)) {
    append_format(tip, "frame rate (upper line) up to %d fps, ",
                  peak_of(drawn, &HistorySample::fps));
  } else {
    tip += "no frame rate, ";
  }
  if (reported(&HistorySample::bitrate_kbps)) {
    append_format(tip, "bit rate (lower line) up to %d Kbps",
                  peak_of(drawn, &HistorySample::bitrate_kbps));
  } else {
    tip += "no bit rate";
  }
  const auto quiet = std::count_if(drawn.begin(), drawn.end(), [](const HistorySample& sample) {
    return sample.state == ChannelState::no_signal;
  });
  if (quiet > 0)
    append_format(tip, ", no signal (red) for %s",
                  reach_text(static_cast<std::size_t>(quiet)).c_str());
  return tip + ".";
}

}  // namespace vx
