#include "vocabulary/channel_state.h"

#include <array>

namespace vx {

const char* channel_state_word(ChannelState state) {
  static constexpr std::array<const char*, 6> kWords = {"IDLE",    "EXTRACT",   "RUNNING",
                                                        "PREVIEW", "NO SIGNAL", "STOPPING"};
  const auto index = static_cast<std::uint32_t>(state);
  return index < kWords.size() ? kWords[index] : "";
}

const char* target_state_word(TargetState state) {
  switch (state) {
    case TargetState::on_air:
      return "on air";
    case TargetState::lost:
      return "lost";
  }
  return "";
}

}  // namespace vx
