// The input switch driven by time points the tests pass in: gaps, the timeout and the way back,
// exact audio per frame, audio out of step with its pictures, restart delays, bad pushes, and
// producers racing the output clock.
#include "transcoder/input_switch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace vx {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPicture = 8 * 4 * 3 / 2;
constexpr std::size_t kFrameAudio = 1920 * kSwitchSampleBytes;  // at 25 frames per second

// Every byte of a test picture, and of its audio, carries the picture's number.
Bytes filled(std::size_t size, std::uint8_t value) {
  return Bytes(size, value);
}
bool all_equal(std::span<const std::uint8_t> bytes, std::uint8_t value) {
  return std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == value; });
}

struct Channel {
  explicit Channel(InputSwitchSettings settings = {}) {
    settings.width = 8;
    settings.height = 4;
    period = std::chrono::nanoseconds(1'000'000'000LL * settings.rate_den / settings.rate_num);
    input = InputSwitch::create(std::move(settings));
  }
  void picture(std::uint8_t id) {
    ASSERT_TRUE(input->push_primary_picture(filled(kPicture, id), now));
  }
  void audio(std::uint8_t id, std::size_t frames = 1) {
    input->push_primary_audio(filled(frames * kFrameAudio, id));
  }
  OutputFrame tick() {
    OutputFrame frame = input->next_frame(now);
    EXPECT_EQ(frame.sequence, sequence++);
    EXPECT_EQ(frame.picture.size(), kPicture);
    now += period;
    return frame;
  }

  std::unique_ptr<InputSwitch> input;
  SwitchTime now{};
  SwitchClock::duration period{};
  std::uint64_t sequence = 0;
};

// No primary at the start; then a primary that pauses once before it is steady, later pauses
// for less than the timeout, and at last fails.
TEST(InputSwitch, SwitchesAtTheTimeoutAndBackAfterSteadyTime) {
  Channel c;
  std::vector<std::pair<SwitchEvent, SwitchClock::duration>> events;
  std::uint8_t newest = 0;
  const auto run = [&](SwitchClock::duration length, bool delivering) {
    for (const SwitchTime end = c.now + length; c.now < end;) {
      if (delivering) {
        newest = static_cast<std::uint8_t>(newest % 200 + 20);
        c.picture(newest), c.audio(newest);
      }
      const SwitchTime at = c.now;
      const OutputFrame frame = c.tick();
      if (frame.event != SwitchEvent::none) events.emplace_back(frame.event, at - SwitchTime{});
      // The still is black (16). The primary's newest picture always comes next, with its own
      // audio, or again with silence in a gap; on the way back too, as those queued while it
      // proved steady are stale.
      EXPECT_EQ(frame.source == InputSource::primary, frame.picture[0] != 16);
      if (frame.source == InputSource::primary) {
        EXPECT_TRUE(all_equal(frame.picture, newest));
        EXPECT_TRUE(all_equal(frame.audio, frame.repeated ? 0 : newest));
      }
    }
  };
  run(4s, false);
  run(500ms, true);
  run(3 * c.period, false);  // longer than two periods: steadiness starts over
  const auto steady_from = c.now - SwitchTime{};
  run(2s, true);
  run(2900ms, false);
  run(1s, true);
  const auto last_delivery = c.now - c.period - SwitchTime{};
  run(4s, false);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], std::pair(SwitchEvent::switched_to_alternate, SwitchClock::duration(3s)));
  EXPECT_EQ(events[1], std::pair(SwitchEvent::switched_back, steady_from + 1s));
  EXPECT_EQ(events[2], std::pair(SwitchEvent::switched_to_alternate, last_delivery + 3s));
  EXPECT_EQ(c.input->statistics().switches, 3u);
}

TEST(InputSwitch, AudioPerFrameAddsUpExactlyAndPlaysWithoutAGlitch) {
  Channel c(InputSwitchSettings{.rate_num = 30000, .rate_den = 1001});
  for (int i = 0; i < 3; ++i)
    c.tick();  // so that the primary's frames do not start at sequence 0
  // A count in the left channel, 1 in the right one to tell it from silence, in odd chunks.
  std::uint16_t next = 0, expected = 0;
  std::uint64_t total = 3 * 48000 * 1001 / 30000, silent = 0;
  std::size_t chunk = 1;
  for (std::uint64_t k = 0; k < 1001; ++k) {
    c.picture(1);
    Bytes pcm;
    for (auto n = k * 48000 * 1001 / 30000; n < (k + 1) * 48000 * 1001 / 30000; ++n, ++next) {
      pcm.insert(pcm.end(), {std::uint8_t(next), std::uint8_t(next >> 8), 1, 0});
    }
    for (std::size_t at = 0; at < pcm.size(); at += chunk, chunk = chunk % 13 + 2) {
      c.input->push_primary_audio(std::span(pcm).subspan(at, std::min(chunk, pcm.size() - at)));
    }
    const OutputFrame frame = c.tick();
    const std::size_t samples = frame.audio.size() / kSwitchSampleBytes;
    ASSERT_TRUE(samples == 1601 || samples == 1602);
    ASSERT_EQ(total += samples, (k + 4) * 48000 * 1001 / 30000);
    for (const std::uint8_t* s = frame.audio.data(); s != frame.audio.data() + frame.audio.size();
         s += kSwitchSampleBytes) {
      if (s[2] == 0) {
        ++silent;
      } else {
        ASSERT_EQ(s[0] | s[1] << 8, expected++) << "frame " << k;
      }
    }
  }
  EXPECT_LE(silent, 1u);  // the frame's share may once exceed what the picture brought by one
  EXPECT_EQ(c.input->statistics().dropped_audio_bytes, 0u);
}

TEST(InputSwitch, BurstKeepsTheNewestPicturesEachWithItsOwnAudio) {
  Channel c;
  c.picture(1), c.audio(1), c.tick();
  for (std::uint8_t id = 2; id <= 101; ++id)
    c.picture(id), c.audio(id);
  EXPECT_EQ(c.input->statistics().dropped_pictures, 100u - 16u);
  for (std::uint8_t id = 101 - 15; id <= 101; ++id) {
    const OutputFrame frame = c.tick();
    EXPECT_TRUE(all_equal(frame.picture, id) && all_equal(frame.audio, id)) << int(id);
  }
  EXPECT_TRUE(c.tick().repeated);  // nothing older is left to add latency
}

TEST(InputSwitch, PicturesWaitForLateAudioButNotForever) {
  Channel c;
  c.picture(1), c.audio(1), c.tick();
  const auto half = [&](int id) { c.input->push_primary_audio(filled(kFrameAudio / 2, id)); };
  for (std::uint8_t id = 2; id <= 60; ++id) {
    c.picture(id);
    // Audio 4.5 frames behind its picture: a picture with half of its audio waits, silent.
    if (id >= 7 && id <= 40) half(id - 5);
    if (id >= 6 && id <= 39) half(id - 4);
    const OutputFrame frame = c.tick();
    // After picture 35 no audio comes: the next ones wait only until their queue of 16 is full.
    EXPECT_EQ(frame.repeated, id < 7 || (id > 40 && id < 51)) << int(id);
    EXPECT_TRUE(all_equal(frame.audio, frame.repeated || id > 40 ? 0 : frame.picture[0]));
  }
}

// Audio beyond its queue, and decoder runs that end with less or more audio than pictures (and
// half a sample frame): no picture plays with audio that is not its own.
TEST(InputSwitch, AudioOutOfStepNeverPlaysWithTheWrongPicture) {
  Channel ahead;
  ahead.picture(1), ahead.audio(1), ahead.tick();
  for (std::uint8_t id = 2; id <= 41; ++id)
    ahead.audio(id);
  for (std::uint8_t id = 2; id <= 41; ++id) {
    ahead.picture(id);
    EXPECT_TRUE(all_equal(ahead.tick().audio, id <= 16 ? 0 : id)) << int(id);  // 1 s is kept
  }

  Channel c;
  c.picture(1), c.audio(1), c.tick();
  c.picture(2), c.picture(3), c.input->push_primary_audio(filled(2, 9));
  c.input->primary_ended(c.now);
  c.picture(4), c.audio(4), c.audio(9, 3);
  c.input->primary_ended(c.now);
  c.picture(5), c.audio(5);
  for (std::uint8_t id = 2; id <= 5; ++id) {
    const OutputFrame frame = c.tick();
    EXPECT_TRUE(all_equal(frame.picture, id) && all_equal(frame.audio, id >= 4 ? id : 0));
  }
}

TEST(InputSwitch, RestartDelayDoublesUpToTheMaximumAndStartsOverWhenSteady) {
  Channel c;
  for (const auto delay : {1s, 2s, 4s, 8s, 10s, 10s}) {
    c.input->primary_ended(c.now);
    EXPECT_FALSE(c.input->restart_due(c.now + delay - 1ms));
    EXPECT_TRUE(c.input->restart_due(c.now + delay));
    EXPECT_FALSE(c.input->restart_due(c.now + delay + 1s));
    c.now += delay;
  }
  for (int i = 0; i <= 25; ++i, c.now += c.period)
    c.picture(1);
  c.input->primary_ended(c.now);
  EXPECT_TRUE(c.input->restart_due(c.now + 1s));
}

TEST(InputSwitch, WrongSizedPicturesAreRejectedAndDoNotKeepThePrimaryAlive) {
  Channel c;
  c.picture(5), c.tick();
  while (c.now < SwitchTime{} + 3s) {
    EXPECT_FALSE(c.input->push_primary_picture(filled(kPicture - 1, 9), c.now));
    EXPECT_FALSE(c.input->push_alternate_picture(filled(kPicture + 1, 9)));
    EXPECT_TRUE(all_equal(c.tick().picture, 5));
  }
  EXPECT_EQ(c.tick().event, SwitchEvent::switched_to_alternate);
  EXPECT_EQ(c.input->statistics().rejected_pictures, 2u * 74);
}

TEST(InputSwitch, MediaAlternatePlaysUntilItEndsThenTheStill) {
  Channel c(InputSwitchSettings{.still_picture = filled(kPicture, 200)});
  for (std::uint8_t id = 1; id < 5; ++id) {
    ASSERT_TRUE(c.input->push_alternate_picture(filled(kPicture, id)));
    c.input->push_alternate_audio(filled(kFrameAudio, id));
    const OutputFrame frame = c.tick();
    EXPECT_TRUE(all_equal(frame.picture, id) && all_equal(frame.audio, id));
  }
  c.input->alternate_ended();
  const OutputFrame frame = c.tick();
  EXPECT_TRUE(all_equal(frame.picture, 200) && all_equal(frame.audio, 0));
}

TEST(InputSwitch, RejectsSettingsThatCannotWork) {
  const InputSwitchSettings good{.width = 8, .height = 4};
  std::vector<InputSwitchSettings> bad(5, good);
  bad[0].width = 7;
  bad[1].rate_den = 0;
  bad[2].rate_num = 2001, bad[2].rate_den = 2;  // above 1000 frames per second
  bad[3].still_picture.assign(kPicture - 1, 0);
  bad[4].max_queued_audio = 50ms;  // not two frames
  EXPECT_NE(InputSwitch::create(good), nullptr);
  for (const InputSwitchSettings& settings : bad) {
    std::string error;
    EXPECT_EQ(InputSwitch::create(settings, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
}

// Reader threads push (and their decoders end) while the clock takes frames: every frame whole.
TEST(InputSwitch, ProducersRacingTheClockNeverTearAFrame) {
  Channel c(InputSwitchSettings{.still_picture = filled(kPicture, 0)});
  const auto feed = [&](bool primary) {
    for (int i = 0; i < 3000; ++i) {
      const auto id = static_cast<std::uint8_t>(i % 250 + 1);
      const Bytes picture = filled(kPicture, id), audio = filled(1000 + i % 7, id);
      if (primary) c.input->push_primary_picture(picture, SwitchTime{} + i * c.period);
      if (primary) c.input->push_primary_audio(audio);
      if (!primary) c.input->push_alternate_picture(picture), c.input->push_alternate_audio(audio);
      if (i % 500 == 0) primary ? c.input->primary_ended(SwitchTime{}) : c.input->alternate_ended();
    }
  };
  std::thread primary(feed, true), alternate(feed, false);
  for (int i = 0; i < 3000; ++i) {
    const OutputFrame frame = c.tick();
    ASSERT_TRUE(all_equal(frame.picture, frame.picture[0]));
    ASSERT_EQ(frame.audio.size(), kFrameAudio);
  }
  primary.join();
  alternate.join();
  EXPECT_EQ(c.input->statistics().primary_frames + c.input->statistics().alternate_frames, 3000u);
}

}  // namespace
}  // namespace vx
