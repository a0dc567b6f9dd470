// The failover's content measures on a 1280x720 picture: black, frozen (against the picture
// before it) and a frame's worth of sound. At 25 frames per second, a measure that takes T
// microseconds costs T * 25 / 10^4 % of one core per watched input.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "transcoder/content_watch.h"

namespace {

constexpr std::size_t kLuma = 1280 * 720;
constexpr std::size_t kPicture = kLuma * 3 / 2;

std::vector<std::uint8_t> noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (std::uint8_t& byte : bytes)
    byte = static_cast<std::uint8_t>(random());
  return bytes;
}

// A moving picture: the usual case, and the cheapest for the frozen test, which stops early.
void BM_MovingPicture(benchmark::State& state) {
  const std::vector<std::uint8_t> a = noise(kPicture, 1), b = noise(kPicture, 2);
  vx::PictureWatch watch(kLuma);
  bool flip = false;
  for (auto _ : state) {
    benchmark::DoNotOptimize(watch.look(flip ? a : b));
    flip = !flip;
  }
}
BENCHMARK(BM_MovingPicture)->Unit(benchmark::kMicrosecond);

// A frozen picture: the frozen test reads the whole plane.
void BM_FrozenPicture(benchmark::State& state) {
  const std::vector<std::uint8_t> a = noise(kPicture, 1);
  vx::PictureWatch watch(kLuma);
  for (auto _ : state)
    benchmark::DoNotOptimize(watch.look(a));
}
BENCHMARK(BM_FrozenPicture)->Unit(benchmark::kMicrosecond);

// One frame of 48 kHz stereo sound at 25 frames per second, all of it silent.
void BM_SilentSound(benchmark::State& state) {
  const std::vector<std::uint8_t> pcm(1920 * 4, 0);
  for (auto _ : state)
    benchmark::DoNotOptimize(vx::look_at_sound(pcm));
}
BENCHMARK(BM_SilentSound)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
