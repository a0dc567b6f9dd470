// What an operator sees of every channel at a glance, agreed between the transcoder that makes
// it, the engine that keeps it and the two front ends that draw it: the live thumbnail's width
// and how often it is renewed, and how long a channel's history of frame rate, bit rate and
// state reaches back.
#pragma once

#include <cstdint>

namespace vx {

// A running channel's picture, a JPEG about this wide (the height keeps the picture's shape,
// rounded to an even number), renewed every kThumbnailSeconds from the frames the transcoder
// already decodes. A channel whose targets all copy the picture decodes only its key frames for
// it, so its thumbnail is renewed at each key frame instead.
inline constexpr int kThumbnailWidth = 320;
inline constexpr int kThumbnailSeconds = 2;
// A picture the transcoder keeps is refused above this size (a 320-pixel JPEG is some 10-40 KiB).
inline constexpr std::int64_t kMaxThumbnailBytes = 1 << 20;

// The engine samples each channel's frame rate, bit rate and state once every
// kHistoryIntervalSeconds and keeps the last kHistorySamples of them (ten minutes).
inline constexpr int kHistoryIntervalSeconds = 1;
inline constexpr int kHistorySamples = 600;

}  // namespace vx
