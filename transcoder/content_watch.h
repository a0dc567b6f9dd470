// What a decoded input looks and sounds like, measured on the pictures and samples the failover
// already has, so that no second decoder and no ffmpeg filter is needed: black pictures, pictures
// that no longer change, and silence. The thresholds are ffmpeg's detectors' defaults
// (blackdetect: pixels at most 10 % above black, 98 % of the picture; freezedetect and
// silencedetect: -60 dB).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vx {

// The luma plane of a yuv420p picture in the limited range.
bool is_black_picture(std::span<const std::uint8_t> luma);
// The mean absolute difference of the two luma planes is below -60 dB of full scale.
bool is_same_picture(std::span<const std::uint8_t> luma, std::span<const std::uint8_t> previous);

// One chunk of s16le samples (any number of channels, whole samples): how many silent samples it
// begins and ends with, and whether it holds a sound at all.
struct SoundLook {
  std::size_t leading_silence = 0;  // all of them when `heard` is false
  std::size_t trailing_silence = 0;
  bool heard = false;
};
SoundLook look_at_sound(std::span<const std::uint8_t> pcm);

struct PictureLook {
  bool black = false;
  bool frozen = false;  // the same as the picture before it
};

// One input's pictures, one after the other. Only the thread that reads that input's pictures
// calls it, so it takes no lock.
class PictureWatch {
 public:
  // `luma_bytes`: width * height of the pictures it is given.
  explicit PictureWatch(std::size_t luma_bytes) : luma_bytes_(luma_bytes) {}
  PictureLook look(std::span<const std::uint8_t> picture);

 private:
  std::size_t luma_bytes_;
  std::vector<std::uint8_t> previous_;
};

}  // namespace vx
