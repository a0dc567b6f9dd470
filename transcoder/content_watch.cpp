#include "transcoder/content_watch.h"

#include <algorithm>
#include <cstdlib>

namespace vx {
namespace {

// Limited range black is 16, white 235: a pixel at most 10 % of the way up counts as black.
constexpr std::uint8_t kBlackLevel = 16 + (235 - 16) / 10;
constexpr std::size_t kBlackShareNumerator = 98;  // of 100 pixels
// -60 dB of full scale: 0.001 * 255 per pixel on average, compared in whole sums.
constexpr std::uint64_t kSameLimitPer1000Pixels = 255;
// -60 dB of full scale in 16-bit samples.
constexpr int kSilenceLevel = 32;

// Counts plain bytes in rows of fixed length so that the compiler can vectorise the loops.
constexpr std::size_t kRow = 4096;

bool quiet(const std::uint8_t* sample) {
  const int value = static_cast<std::int16_t>(sample[0] | sample[1] << 8);
  return value >= -kSilenceLevel && value <= kSilenceLevel;
}

}  // namespace

bool is_black_picture(std::span<const std::uint8_t> luma) {
  if (luma.empty()) return false;
  std::size_t bright = 0;
  for (std::size_t at = 0; at < luma.size(); at += kRow) {
    const std::size_t end = std::min(luma.size(), at + kRow);
    std::uint32_t row = 0;
    for (std::size_t k = at; k < end; ++k)
      row += luma[k] > kBlackLevel ? 1U : 0U;
    bright += row;
  }
  return (luma.size() - bright) * 100 >= luma.size() * kBlackShareNumerator;
}

bool is_same_picture(std::span<const std::uint8_t> luma, std::span<const std::uint8_t> previous) {
  if (luma.size() != previous.size() || luma.empty()) return false;
  const std::uint64_t limit = luma.size() * kSameLimitPer1000Pixels / 1000;
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < luma.size(); at += kRow) {
    const std::size_t end = std::min(luma.size(), at + kRow);
    std::uint32_t row = 0;
    for (std::size_t k = at; k < end; ++k) {
      row += static_cast<std::uint32_t>(std::abs(int{luma[k]} - int{previous[k]}));
    }
    sum += row;
    if (sum > limit) return false;  // a moving picture is told apart after its first rows
  }
  return sum <= limit;
}

SoundLook look_at_sound(std::span<const std::uint8_t> pcm) {
  const std::size_t samples = pcm.size() / 2;
  SoundLook look;
  std::size_t k = 0;
  while (k < samples && quiet(&pcm[2 * k]))
    ++k;
  look.leading_silence = k;
  if (k == samples) {
    look.trailing_silence = samples;
    return look;
  }
  look.heard = true;
  std::size_t end = samples;
  while (end > k && quiet(&pcm[2 * (end - 1)]))
    --end;
  look.trailing_silence = samples - end;
  return look;
}

PictureLook PictureWatch::look(std::span<const std::uint8_t> picture) {
  PictureLook look;
  if (picture.size() < luma_bytes_) return look;
  const std::span<const std::uint8_t> luma = picture.first(luma_bytes_);
  look.black = is_black_picture(luma);
  look.frozen = is_same_picture(luma, previous_);
  previous_.assign(luma.begin(), luma.end());
  return look;
}

}  // namespace vx
