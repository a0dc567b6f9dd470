#include "engine/channel_history.h"

#include <algorithm>
#include <array>

#include "engine/channel_slot.h"
#include "vocabulary/channel_glance.h"
#include "vocabulary/product.h"

namespace vx {
namespace {

struct Ring {
  std::array<HistorySample, kHistorySamples> samples{};
  int next = 0;   // where the next sample goes
  int count = 0;  // samples held, at most kHistorySamples

  void push(const HistorySample& sample) {
    samples[static_cast<std::size_t>(next)] = sample;
    next = (next + 1) % kHistorySamples;
    if (count < kHistorySamples) ++count;
  }
};

struct History {
  std::array<Ring, kMaxChannels> rings{};
  std::int64_t last_second = 0;  // 0: nothing sampled yet
};

History& history() {
  static History value;
  return value;
}

HistorySample sample_of(const ChannelSlot& slot) {
  HistorySample sample;
  sample.state = slot.state;
  const bool transcoding = slot.state != ChannelState::idle && slot.state != ChannelState::extract;
  if (transcoding) {
    sample.fps = slot.fps;
    sample.bitrate_kbps = slot.bitrate_kbps;
  }
  return sample;
}

}  // namespace

void channel_history_sample(std::int64_t now) {
  History& all = history();
  if (now <= 0) return;
  std::int64_t due = 1;  // the first sample, or one after the clock went back
  if (all.last_second != 0 && now == all.last_second) return;
  if (all.last_second != 0 && now > all.last_second) due = now - all.last_second;
  if (due > kHistorySamples) due = kHistorySamples;
  all.last_second = now;
  for (int channel = 0; channel < kMaxChannels; ++channel) {
    const HistorySample sample = sample_of(*engine_slot(channel));
    Ring& ring = all.rings[static_cast<std::size_t>(channel)];
    for (std::int64_t k = 0; k < due; ++k) ring.push(sample);
  }
}

std::vector<HistorySample> channel_history(int channel) {
  if (channel < 0 || channel >= kMaxChannels) return {};
  const Ring& ring = history().rings[static_cast<std::size_t>(channel)];
  std::vector<HistorySample> samples;
  samples.reserve(static_cast<std::size_t>(ring.count));
  const int first = (ring.next - ring.count + kHistorySamples) % kHistorySamples;
  for (int k = 0; k < ring.count; ++k) {
    samples.push_back(ring.samples[static_cast<std::size_t>((first + k) % kHistorySamples)]);
  }
  return samples;
}

void channel_history_remove(int channel) {
  if (channel < 0 || channel >= kMaxChannels) return;
  auto& rings = history().rings;
  std::move(rings.begin() + channel + 1, rings.end(), rings.begin() + channel);
  rings.back() = Ring{};
}

void channel_history_forget(int channel) {
  if (channel < 0 || channel >= kMaxChannels) return;
  history().rings[static_cast<std::size_t>(channel)] = Ring{};
}

void channel_history_reset() {
  history() = History{};
}

const char* history_state_word(ChannelState state) {
  switch (state) {
    case ChannelState::idle:
      return "idle";
    case ChannelState::extract:
      return "extract";
    case ChannelState::running:
      return "running";
    case ChannelState::preview:
      return "preview";
    case ChannelState::no_signal:
      return "no_signal";
    case ChannelState::stopping:
      return "stopping";
  }
  return "";
}

}  // namespace vx
