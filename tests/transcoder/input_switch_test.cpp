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

// ----- standby sources and switching on what the input shows ----------------------------------

namespace standby {

enum class Look { moving, black, frozen, silent };

// What one live input sends from `from` to `to` seconds; nothing outside its spans.
struct Span {
  double from, to;
  Look look = Look::moving;
};

struct Expected {
  double at;  // seconds, within two frames
  SwitchReport report;
};

struct Scenario {
  const char* name;
  std::vector<std::vector<Span>> inputs;  // the primary, then the standby sources
  bool slate = true;
  ContentLimits content{};
  double seconds = 30;
  std::vector<Expected> reports;
};

// The chroma of every picture names its input (10, 20, ...); its luma shows the look.
Bytes picture_of(int input, Look look, int frame) {
  Bytes picture(kPicture, static_cast<std::uint8_t>(10 * (input + 1)));
  const std::uint8_t luma = look == Look::black    ? 16
                            : look == Look::frozen ? 150
                                                   : static_cast<std::uint8_t>(60 + frame % 100);
  std::fill_n(picture.begin(), 8 * 4, luma);
  return picture;
}

Bytes sound_of(Look look) {
  Bytes pcm(kFrameAudio, 0);
  if (look == Look::silent) return pcm;
  for (std::size_t k = 0; k < pcm.size(); k += 2)
    pcm[k + 1] = 0x10;  // 4096
  return pcm;
}

const Span* span_at(const std::vector<Span>& spans, double t) {
  for (const Span& span : spans) {
    if (t >= span.from && t < span.to) return &span;
  }
  return nullptr;
}

TEST(InputSwitch, StandbySourcesTakeTheAirInOrderAndGiveItBack) {
  using R = SwitchReason;
  const auto moving = [](double from, double to) { return Span{from, to}; };
  const Scenario scenarios[] = {
      {"a failing primary, then each standby in turn, then their return",
       {{moving(0, 5), moving(25, 40)}, {moving(0, 10)}, {moving(0, 14), moving(17, 40)}},
       true,
       {},
       30,
       {{8.0, {0, 1, R::timed_out, 0}},
        {13.0, {1, 2, R::timed_out, 0}},
        {17.0, {2, kSlateInput, R::timed_out, 0}},
        {20.0, {kSlateInput, 2, R::recovered, 3}},
        {26.0, {2, 0, R::recovered, 1}}}},
      {"a dead primary at the start goes to the first standby that delivers",
       {{moving(10, 30)}, {}, {moving(0, 30)}},
       true,
       {},
       20,
       {{3.0, {0, 2, R::timed_out, 0}}, {11.0, {2, 0, R::recovered, 1}}}},
      {"a primary black for longer than its limit, and good again for the recovery time",
       {{moving(0, 5), {5, 15, Look::black}, moving(15, 30)}, {moving(0, 30)}},
       true,
       {.black = std::chrono::seconds(2)},
       25,
       {{7.0, {0, 1, R::black, 2}}, {18.0, {1, 0, R::recovered, 3}}}},
      {"silence and a frozen picture are faults of their own",
       {{moving(0, 5), {5, 12, Look::silent}, moving(12, 14), {14, 20, Look::frozen},
         moving(20, 40)},
        {moving(0, 40)}},
       true,
       {.silence = std::chrono::seconds(2), .frozen = std::chrono::seconds(3)},
       30,
       {{7.0, {0, 1, R::silent, 2}},
        {15.0, {1, 0, R::recovered, 3}},
        {17.0, {0, 1, R::frozen, 3}},
        {23.0, {1, 0, R::recovered, 3}}}},
      {"a black primary goes to the slate when no standby shows anything",
       {{moving(0, 3), {3, 30, Look::black}}, {{0, 30, Look::black}}},
       true,
       {.black = std::chrono::seconds(2)},
       10,
       {{5.0, {0, kSlateInput, R::black, 2}}}},
      {"without a slate a black primary stays when nothing is better",
       {{moving(0, 3), {3, 30, Look::black}}, {{0, 30, Look::black}}},
       false,
       {.black = std::chrono::seconds(2)},
       10,
       {}},
      {"without a slate the last failure gives up",
       {{moving(0, 5)}, {moving(0, 9)}},
       false,
       {},
       20,
       {{8.0, {0, 1, R::timed_out, 0}}, {12.0, {1, kNoInputLeft, R::timed_out, 0}}}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    InputSwitchSettings settings{.width = 8, .height = 4};
    settings.standby_count = scenario.inputs.size() - 1;
    settings.slate = scenario.slate;
    settings.content = scenario.content;
    Channel c(settings);
    std::vector<Expected> seen;
    int frame_number = 0;
    bool gave_up = false;
    for (; std::chrono::duration<double>(c.now - SwitchTime{}).count() < scenario.seconds;
         ++frame_number) {
      const double t = std::chrono::duration<double>(c.now - SwitchTime{}).count();
      for (std::size_t k = 0; k < scenario.inputs.size(); ++k) {
        const Span* span = span_at(scenario.inputs[k], t);
        if (span == nullptr) continue;
        const int input = static_cast<int>(k);
        ASSERT_TRUE(c.input->push_picture(input, picture_of(input, span->look, frame_number), c.now));
        c.input->push_audio(input, sound_of(span->look));
      }
      const OutputFrame frame = c.tick();
      if (frame.report) seen.push_back({t, *frame.report});
      if (frame.event == SwitchEvent::no_input_left) gave_up = true;
      // The picture on air is the input's own, once that input has shown one.
      if (frame.input >= 0 && !frame.repeated && frame.event == SwitchEvent::none) {
        EXPECT_EQ(frame.picture.back(), 10 * (frame.input + 1)) << t;
      }
    }
    ASSERT_EQ(seen.size(), scenario.reports.size());
    for (std::size_t k = 0; k < seen.size(); ++k) {
      EXPECT_EQ(seen[k].report, scenario.reports[k].report) << switch_report_line(seen[k].report);
      EXPECT_NEAR(seen[k].at, scenario.reports[k].at, 0.081) << switch_report_line(seen[k].report);
    }
    EXPECT_EQ(gave_up, !scenario.reports.empty() &&
                           scenario.reports.back().report.to == kNoInputLeft);
  }
}

}  // namespace standby

}  // namespace
}  // namespace vx
