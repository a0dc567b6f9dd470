// What the channel list shows of each channel at a glance besides its texts: the engine's last
// ten minutes of its frame rate, bit rate and state, and the live thumbnail of a channel whose
// transcoder runs. One reading copies what the engine holds under the core lock, lets the lock
// go and only then reads the pictures, so the window never waits on a file with the lock held.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/channel_history.h"
#include "engine/thumbnails.h"

namespace vx {

struct ChannelGlance {
  std::vector<HistorySample> history;  // oldest first, at most kHistorySamples
  // The file of the channel's thumbnail while its transcoder runs; "" otherwise.
  std::string thumbnail_file;
  // The picture in that file when pictures were asked for and the file holds one. Its tag
  // changes with every new picture, so the window decodes only a changed one.
  std::optional<Thumbnail> picture;
};

// The glance of rows 0..rows-1 (at most kMaxChannels): row r is channel slot r, so the row of a
// channel being created shows its idle slot. `with_pictures`: the thumbnails are read too.
std::vector<ChannelGlance> channel_glances(int rows, bool with_pictures);

}  // namespace vx
