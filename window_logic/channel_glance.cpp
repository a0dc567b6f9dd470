#include "window_logic/channel_glance.h"

#include <algorithm>

#include "config/core_lock.h"
#include "vocabulary/product.h"

namespace vx {

std::vector<ChannelGlance> channel_glances(int rows, bool with_pictures) {
  std::vector<ChannelGlance> glances(static_cast<std::size_t>(std::clamp(rows, 0, kMaxChannels)));
  {
    const CoreLock lock = core_lock();
    for (std::size_t row = 0; row < glances.size(); ++row) {
      const int channel = static_cast<int>(row);
      glances[row].history = channel_history(channel);
      glances[row].thumbnail_file = engine_thumbnail_file(channel).value_or("");
    }
  }
  if (!with_pictures) return glances;
  for (ChannelGlance& glance : glances) {
    if (!glance.thumbnail_file.empty()) glance.picture = read_thumbnail(glance.thumbnail_file);
  }
  return glances;
}

}  // namespace vx
