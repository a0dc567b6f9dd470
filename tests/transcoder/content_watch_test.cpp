// The measures the failover judges its inputs by, at the edges of their thresholds: how much of
// a picture may be lit and still be black, how little a picture may change and still be frozen,
// and where silence begins and ends in a chunk of sound.
#include "transcoder/content_watch.h"

#include <gtest/gtest.h>

#include <vector>

namespace vx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 1000 luma bytes at `level`, `lit` of them at 200.
Bytes luma(std::uint8_t level, std::size_t lit = 0) {
  Bytes plane(1000, level);
  std::fill_n(plane.begin(), lit, std::uint8_t{200});
  return plane;
}

TEST(ContentWatch, BlackPicturesAndFrozenPicturesAtTheirThresholds) {
  struct Case {
    const char* name;
    Bytes picture;
    bool black;
  };
  const Case black_cases[] = {
      {"limited-range black", luma(16), true},
      {"full-range black", luma(0), true},
      {"10 % above black", luma(37), true},
      {"just above that", luma(38), false},
      {"2 % of the picture lit", luma(16, 20), true},
      {"2.1 % lit", luma(16, 21), false},
      {"mid grey", luma(128), false},
      {"no picture", Bytes{}, false},
  };
  for (const Case& c : black_cases)
    EXPECT_EQ(is_black_picture(c.picture), c.black) << c.name;

  struct Pair {
    const char* name;
    Bytes a, b;
    bool same;
  };
  Bytes noise = luma(100);
  for (std::size_t k = 0; k < 255; ++k)
    noise[k * 3] = 101;  // 255 levels of difference in 1000 pixels: exactly -60 dB
  Bytes more = noise;
  more[999] = 101;
  const Pair pairs[] = {
      {"identical", luma(100), luma(100), true},
      {"within -60 dB", luma(100), noise, true},
      {"one level more", luma(100), more, false},
      {"a moving picture", luma(100), luma(110), false},
      {"sizes differ", luma(100), Bytes(999, 100), false},
      {"nothing before it", luma(100), Bytes{}, false},
  };
  for (const Pair& p : pairs)
    EXPECT_EQ(is_same_picture(p.a, p.b), p.same) << p.name;

  // The watch compares each picture with the one before it, on the luma plane only.
  PictureWatch watch(1000);
  Bytes picture = luma(16);
  picture.resize(1500, 128);
  EXPECT_FALSE(watch.look(picture).frozen) << "the first picture has nothing to match";
  EXPECT_TRUE(watch.look(picture).black);
  std::fill(picture.begin() + 1000, picture.end(), std::uint8_t{50});
  EXPECT_TRUE(watch.look(picture).frozen) << "chroma is not compared";
  EXPECT_FALSE(watch.look(Bytes(10, 0)).black) << "a short picture is not judged";
}

TEST(ContentWatch, SilenceIsCountedFromBothEndsOfAChunk) {
  const auto samples = [](std::initializer_list<int> values) {
    Bytes pcm;
    for (int v : values) {
      pcm.push_back(static_cast<std::uint8_t>(v & 0xff));
      pcm.push_back(static_cast<std::uint8_t>((v >> 8) & 0xff));
    }
    return pcm;
  };
  struct Case {
    Bytes pcm;
    std::size_t leading, trailing;
    bool heard;
  };
  const Case cases[] = {
      {samples({0, 0, 0}), 3, 3, false},
      {samples({32, -32, 0}), 3, 3, false},  // -60 dB is still silence
      {samples({0, 33, 0, 0}), 1, 2, true},
      {samples({-33, 0}), 0, 1, true},
      {samples({0, 0, 5000}), 2, 0, true},
      {samples({-32768}), 0, 0, true},
      {Bytes{}, 0, 0, false},
  };
  for (const Case& c : cases) {
    const SoundLook look = look_at_sound(c.pcm);
    EXPECT_EQ(look.leading_silence, c.leading);
    EXPECT_EQ(look.trailing_silence, c.trailing);
    EXPECT_EQ(look.heard, c.heard);
  }
}

}  // namespace
}  // namespace vx
