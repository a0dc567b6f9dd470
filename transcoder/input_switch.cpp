#include "transcoder/input_switch.h"

#include <algorithm>
#include <array>
#include <deque>
#include <mutex>
#include <utility>

#include "transcoder/content_watch.h"

namespace vx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Buffers of picture size kept for reuse, so that a steady stream allocates nothing.
constexpr std::size_t kSparePictures = 4;

// Hands out 48000 * den / num samples per frame so that the first k frames hold exactly
// floor(k * 48000 * den / num) between them: 1601 or 1602 at 30000/1001, never drifting.
class SampleSplitter {
 public:
  SampleSplitter(std::uint64_t num, std::uint64_t den)
      : per_frame_(static_cast<std::uint64_t>(kSwitchSampleRate) * den), num_(num) {}

  std::uint64_t next() {
    const std::uint64_t total = per_frame_ + remainder_;
    remainder_ = total % num_;
    return total / num_;
  }
  void restart() { remainder_ = 0; }

 private:
  std::uint64_t per_frame_;
  std::uint64_t num_;
  std::uint64_t remainder_ = 0;
};

// Whole sample frames of one source, placed on that source's sample count: front() is the
// position of the oldest one held.
class AudioQueue {
 public:
  std::uint64_t front() const { return front_; }
  std::uint64_t held() const { return (bytes_.size() - head_) / kSwitchSampleBytes; }
  std::uint64_t end() const { return front_ + held(); }

  void append(const std::uint8_t* data, std::size_t samples) {
    if (head_ > 0 && head_ >= bytes_.size() / 2) {
      bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
    bytes_.insert(bytes_.end(), data, data + samples * kSwitchSampleBytes);
  }
  void append_silence(std::uint64_t samples) {
    bytes_.resize(bytes_.size() + samples * kSwitchSampleBytes, 0);
  }
  // Both return how many samples went.
  std::uint64_t drop(std::uint64_t samples) {
    samples = std::min(samples, held());
    head_ += samples * kSwitchSampleBytes;
    front_ += samples;
    return samples;
  }
  std::uint64_t take(std::uint8_t* out, std::uint64_t samples) {
    samples = std::min(samples, held());
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(head_), samples * kSwitchSampleBytes,
                out);
    return drop(samples);
  }
  // Empty, with the next sample appended at `position`.
  void clear_to(std::uint64_t position) {
    bytes_.clear();
    head_ = 0;
    front_ = position;
  }

 private:
  Bytes bytes_;
  std::size_t head_ = 0;  // bytes before it are played or dropped
  std::uint64_t front_ = 0;
};

struct QueuedPicture {
  Bytes bytes;
  std::uint64_t audio_begin = 0;  // its audio on the source's sample count
  std::uint64_t audio_end = 0;
};

// One decoder's output as it waits to be shown.
struct Source {
  Source(std::uint64_t num, std::uint64_t den) : picture_clock(num, den) {}

  std::deque<QueuedPicture> pictures;
  SampleSplitter picture_clock;
  std::uint64_t next_picture_audio = 0;  // where the next pushed picture's audio begins
  AudioQueue audio;
  std::array<std::uint8_t, kSwitchSampleBytes> partial{};
  std::size_t partial_size = 0;
  bool audio_seen = false;  // in this decoder run; a run without audio has no audio to wait for

  // The picture this source showed last. Only next_frame() replaces it, since the frame it
  // returned points at it until the next call.
  Bytes shown;
  bool has_shown = false;
};

// One live input: its decoder's pictures and sound, how steadily they come, and what they show.
struct Live {
  Live(std::uint64_t num, std::uint64_t den, std::size_t luma_bytes)
      : src(num, den), watch(luma_bytes) {}

  Source src;
  bool run = false;  // a picture came since the last pause or end
  SwitchTime last_at{};
  SwitchTime steady_since{};

  int ends_in_a_row = 0;
  bool restart_pending = false;
  SwitchTime restart_at{};

  // What the pictures and sound show, counted in pictures and in 16-bit sample values.
  std::uint64_t black_run = 0;
  std::uint64_t frozen_run = 0;
  std::uint64_t silent_values = 0;
  std::uint64_t good_run = 0;  // pictures since it was last black, silent or frozen too long

  PictureWatch watch;  // only the input's picture reader touches it, outside the lock
};

std::string check_settings(const InputSwitchSettings& s) {
  const auto even_in_range = [](int v) { return v >= 2 && v <= 16384 && v % 2 == 0; };
  if (!even_in_range(s.width) || !even_in_range(s.height)) {
    return "picture size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
           " must be even, from 2 to 16384";
  }
  if (s.rate_num < 1 || s.rate_den < 1 || s.rate_num < s.rate_den ||
      static_cast<std::int64_t>(s.rate_num) > 1000LL * s.rate_den) {
    return "frame rate " + std::to_string(s.rate_num) + "/" + std::to_string(s.rate_den) +
           " must be from 1 to 1000 frames per second";
  }
  const std::size_t picture_bytes =
      static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height) * 3 / 2;
  if (!s.still_picture.empty() && s.still_picture.size() != picture_bytes) {
    return "the still picture has " + std::to_string(s.still_picture.size()) + " bytes, not " +
           std::to_string(picture_bytes);
  }
  if (s.timeout.count() <= 0 || s.steady_time.count() < 0 || s.steady_gap_frames < 1) {
    return "the timeout must be positive, the steady time and gap not negative";
  }
  // Room for at least two frames of audio, so that one frame's worth can always wait.
  if (s.max_queued_pictures < 1 || s.max_queued_audio.count() * s.rate_num < 2000LL * s.rate_den) {
    return "the queues must hold at least one picture and two frames of audio";
  }
  if (s.first_restart_delay.count() <= 0 || s.max_restart_delay < s.first_restart_delay) {
    return "the restart delays must be positive, the first no longer than the maximum";
  }
  if (s.standby_count > static_cast<std::size_t>(kMaxStandbySources)) {
    return "at most " + std::to_string(kMaxStandbySources) + " standby sources";
  }
  const ContentLimits& c = s.content;
  if (s.standby_steady_time.count() < 0 || c.black.count() < 0 || c.silence.count() < 0 ||
      c.frozen.count() < 0 || c.recovery.count() < 0) {
    return "the standby steady time and the content limits must not be negative";
  }
  return {};
}

}  // namespace

struct InputSwitch::State {
  explicit State(InputSwitchSettings s)
      : settings(std::move(s)),
        picture_bytes(static_cast<std::size_t>(settings.width) *
                      static_cast<std::size_t>(settings.height) * 3 / 2),
        audio_limit(static_cast<std::uint64_t>(settings.max_queued_audio.count()) *
                    kSwitchSampleRate / 1000),
        frame_time(std::chrono::nanoseconds(1'000'000'000LL * settings.rate_den /
                                            settings.rate_num)),
        steady_gap(frame_time * settings.steady_gap_frames),
        alternate(settings.rate_num, settings.rate_den),
        output_clock(settings.rate_num, settings.rate_den),
        still(std::move(settings.still_picture)) {
    const std::size_t luma = static_cast<std::size_t>(settings.width) *
                             static_cast<std::size_t>(settings.height);
    for (std::size_t k = 0; k <= settings.standby_count; ++k) {
      live.push_back(std::make_unique<Live>(settings.rate_num, settings.rate_den, luma));
    }
    if (still.empty()) {
      // Black in the limited range ffmpeg uses for yuv420p.
      still.assign(picture_bytes, 128);
      std::fill_n(still.begin(), luma, std::uint8_t{16});
    }
  }

  // The queue's picture has all of its audio, or its source has none to wait for.
  bool audio_complete(const Source& src, const QueuedPicture& picture) const {
    return !src.audio_seen || src.audio.end() >= picture.audio_end;
  }

  void recycle(Bytes&& bytes) {
    if (spares.size() < kSparePictures) spares.push_back(std::move(bytes));
  }

  bool is_primary(const Source& src) const { return &src == &live.front()->src; }

  void drop_oldest_picture(Source& src) {
    recycle(std::move(src.pictures.front().bytes));
    src.pictures.pop_front();
    if (is_primary(src)) ++stats.dropped_pictures;
  }

  void enqueue_picture(Source& src, Bytes&& bytes) {
    if (src.pictures.size() >= settings.max_queued_pictures) drop_oldest_picture(src);
    const std::uint64_t begin = src.next_picture_audio;
    src.next_picture_audio += src.picture_clock.next();
    src.pictures.push_back({std::move(bytes), begin, src.next_picture_audio});
  }

  void count_dropped_audio(const Source& src, std::uint64_t samples) {
    if (is_primary(src)) stats.dropped_audio_bytes += samples * kSwitchSampleBytes;
  }

  void enqueue_audio(Source& src, std::span<const std::uint8_t> pcm) {
    if (pcm.empty()) return;
    src.audio_seen = true;
    std::size_t used = 0;
    if (src.partial_size > 0) {
      while (src.partial_size < kSwitchSampleBytes && used < pcm.size()) {
        src.partial[src.partial_size++] = pcm[used++];
      }
      if (src.partial_size < kSwitchSampleBytes) return;
      src.audio.append(src.partial.data(), 1);
      src.partial_size = 0;
    }
    const std::size_t whole = (pcm.size() - used) / kSwitchSampleBytes;
    src.audio.append(pcm.data() + used, whole);
    used += whole * kSwitchSampleBytes;
    while (used < pcm.size())
      src.partial[src.partial_size++] = pcm[used++];
    if (src.audio.held() > audio_limit) {
      count_dropped_audio(src, src.audio.drop(src.audio.held() - audio_limit));
    }
  }

  // A decoder run ended: the next one starts its pictures and audio together after what this
  // one delivered, and a sample frame it left half-written is dropped.
  void start_new_run(Source& src) {
    src.partial_size = 0;
    src.audio_seen = false;
    const std::uint64_t start = std::max(src.next_picture_audio, src.audio.end());
    const std::uint64_t gap = start - src.audio.end();
    if (src.audio.held() + gap <= audio_limit) {
      src.audio.append_silence(gap);  // the last pictures of the run that lacked audio
    } else {
      count_dropped_audio(src, src.audio.held());
      src.audio.clear_to(start);
    }
    src.next_picture_audio = start;
    src.picture_clock.restart();
  }

  // Switching to `src`: pictures older than the newest one whose audio is complete would only
  // add latency. The next frame takes a picture even if its audio is incomplete, so that a
  // picture of an earlier turn is never shown again.
  void enter(Source& src) {
    for (std::size_t i = src.pictures.size(); i-- > 0;) {
      if (audio_complete(src, src.pictures[i])) {
        while (i-- > 0)
          drop_oldest_picture(src);
        break;
      }
    }
    take_any_picture = true;
  }

  // This frame's audio for a picture whose own audio starts at `begin`. Small offsets (the
  // picture's sample count differs from the frame's by one, audio that came late) play on
  // without a jump; larger ones are closed: audio behind the picture is dropped, audio ahead
  // of it waits behind silence.
  void fill_audio(Source& src, std::uint64_t begin, std::uint64_t samples, std::uint8_t* out) {
    const std::int64_t offset =
        static_cast<std::int64_t>(src.audio.front()) - static_cast<std::int64_t>(begin);
    const std::int64_t slack = static_cast<std::int64_t>(samples / 2);
    std::uint64_t lead = 0;
    if (offset < -slack) {
      count_dropped_audio(src, src.audio.drop(static_cast<std::uint64_t>(-offset)));
    } else if (offset > slack) {
      lead = std::min(static_cast<std::uint64_t>(offset), samples);
    }
    src.audio.take(out + lead * kSwitchSampleBytes, samples - lead);
  }

  void produce(Source& src, std::uint64_t samples, OutputFrame& frame) {
    audio_out.assign(samples * kSwitchSampleBytes, 0);
    frame.audio = audio_out;
    const bool take =
        !src.pictures.empty() &&
        (take_any_picture || audio_complete(src, src.pictures.front()) ||
         src.pictures.size() >= settings.max_queued_pictures);  // waited as long as it can
    take_any_picture = false;
    if (take) {
      QueuedPicture& next = src.pictures.front();
      std::swap(src.shown, next.bytes);  // the picture shown before is no longer referenced
      src.has_shown = true;
      fill_audio(src, next.audio_begin, samples, audio_out.data());
      recycle(std::move(next.bytes));
      src.pictures.pop_front();
      frame.picture = src.shown;
    } else if (src.has_shown) {
      frame.picture = src.shown;
      frame.repeated = true;
      ++stats.repeated_pictures;
    } else {
      frame.picture = still;
    }
  }

  // ----- what each live input is fit for ----------------------------------------------------

  bool has_input(int input) const {
    return input >= 0 && static_cast<std::size_t>(input) < live.size();
  }

  std::uint64_t frames_in(std::chrono::milliseconds time) const {
    return static_cast<std::uint64_t>(time.count()) * static_cast<std::uint64_t>(settings.rate_num) /
           (1000ULL * static_cast<std::uint64_t>(settings.rate_den));
  }

  // Why the input's content is not fit to be on air, if it is not.
  std::optional<SwitchReason> content_fault(const Live& l) const {
    const ContentLimits& c = settings.content;
    const auto over = [&](std::chrono::seconds limit, std::uint64_t frames) {
      return limit.count() > 0 && frames >= frames_in(limit);
    };
    if (over(c.black, l.black_run)) return SwitchReason::black;
    if (over(c.frozen, l.frozen_run)) return SwitchReason::frozen;
    if (c.silence.count() > 0 && l.silent_values >= static_cast<std::uint64_t>(c.silence.count()) *
                                                        kSwitchSampleRate * kSwitchChannels) {
      return SwitchReason::silent;
    }
    return std::nullopt;
  }

  int content_limit_seconds(SwitchReason reason) const {
    const ContentLimits& c = settings.content;
    const std::chrono::seconds limit = reason == SwitchReason::black    ? c.black
                                       : reason == SwitchReason::frozen ? c.frozen
                                                                        : c.silence;
    return static_cast<int>(limit.count());
  }

  // Pictures are coming now (a pause of a few frames aside).
  bool delivering(const Live& l, SwitchTime now) const {
    return l.run && now - l.last_at <= std::max<SwitchClock::duration>(steady_gap, kDeliveringGap);
  }

  std::chrono::milliseconds steady_time(int input) const {
    return input == kPrimaryInput ? settings.steady_time : settings.standby_steady_time;
  }

  // How long an input must have been fit before it takes the air from a lower one.
  std::chrono::milliseconds good_time(int input) const {
    return settings.content.watched() ? std::max(steady_time(input), settings.content.recovery)
                                      : steady_time(input);
  }

  // Delivering steadily, and showing something, for long enough to take the air back.
  bool may_take_back(int input, SwitchTime now) const {
    const Live& l = *live[static_cast<std::size_t>(input)];
    return l.run && !l.src.pictures.empty() && now - l.last_at <= steady_gap &&
           now - l.steady_since >= steady_time(input) && !content_fault(l) &&
           (!settings.content.watched() || l.good_run >= frames_in(settings.content.recovery));
  }

  // Where to go when `from` fails for `reason`: the first live input that delivers and shows
  // something, else the slate; failing both, a live input that delivers whatever it shows when
  // `from` stopped delivering. nullopt: stay (`from` still delivers and nothing is better).
  std::optional<int> next_input(int from, SwitchReason reason, SwitchTime now) const {
    for (std::size_t k = 0; k < live.size(); ++k) {
      const int input = static_cast<int>(k);
      if (input != from && delivering(*live[k], now) && !content_fault(*live[k])) return input;
    }
    if (settings.slate) return kSlateInput;
    if (reason != SwitchReason::timed_out) return std::nullopt;
    for (std::size_t k = 0; k < live.size(); ++k) {
      if (static_cast<int>(k) != from && delivering(*live[k], now)) return static_cast<int>(k);
    }
    return kNoInputLeft;
  }

  Source& source_of(int input) {
    return input == kSlateInput ? alternate : live[static_cast<std::size_t>(input)]->src;
  }

  void switch_to(int to, SwitchReport report, OutputFrame& frame) {
    report.to = to;
    frame.report = report;
    if (to == kNoInputLeft) {
      frame.event = SwitchEvent::no_input_left;
      gave_up = true;
      return;
    }
    frame.event = to == kPrimaryInput             ? SwitchEvent::switched_back
                  : report.from == kPrimaryInput ? SwitchEvent::switched_to_alternate
                                                 : SwitchEvent::switched_between;
    on_air = to;
    enter(source_of(to));
    ++stats.switches;
  }

  // The input on air fails, or one above it takes the air back.
  void decide(SwitchTime now, OutputFrame& frame) {
    if (waiting) {
      if (!live.front()->src.pictures.empty()) {
        waiting = false;
        on_air = kPrimaryInput;
        enter(live.front()->src);
      } else if (now - started_at >= settings.timeout) {
        waiting = false;
        const std::optional<int> to = next_input(kPrimaryInput, SwitchReason::timed_out, now);
        if (*to == kSlateInput && on_air == kSlateInput) {
          frame.report = SwitchReport{kPrimaryInput, kSlateInput, SwitchReason::timed_out, 0};
          frame.event = SwitchEvent::switched_to_alternate;
          ++stats.switches;
        } else {
          switch_to(*to, {kPrimaryInput, kSlateInput, SwitchReason::timed_out, 0}, frame);
        }
      }
      return;
    }
    if (on_air != kSlateInput) {
      const Live& l = *live[static_cast<std::size_t>(on_air)];
      std::optional<SwitchReason> fault;
      if (now - l.last_at >= settings.timeout) {
        fault = SwitchReason::timed_out;
      } else {
        fault = content_fault(l);
      }
      if (fault) {
        const std::optional<int> to = next_input(on_air, *fault, now);
        if (to) {
          const int seconds = *fault == SwitchReason::timed_out ? 0 : content_limit_seconds(*fault);
          switch_to(*to, {on_air, kSlateInput, *fault, seconds}, frame);
          return;
        }
      }
    }
    const int above = on_air == kSlateInput ? static_cast<int>(live.size()) : on_air;
    for (int input = 0; input < above; ++input) {
      if (!may_take_back(input, now)) continue;
      const auto good = std::chrono::duration_cast<std::chrono::seconds>(good_time(input));
      switch_to(input, {on_air, input, SwitchReason::recovered, static_cast<int>(good.count())},
                frame);
      return;
    }
  }

  // At most this long between pictures still counts as delivering when a failing input's
  // successor is chosen: decoders deliver in bursts.
  static constexpr std::chrono::milliseconds kDeliveringGap{500};
  static constexpr std::uint64_t kSwitchChannels = 2;

  InputSwitchSettings settings;
  const std::size_t picture_bytes;
  const std::uint64_t audio_limit;  // samples per source
  const SwitchClock::duration frame_time;
  const SwitchClock::duration steady_gap;

  std::mutex mutex;
  std::vector<std::unique_ptr<Live>> live;  // the primary, then the standby sources
  Source alternate;
  std::vector<Bytes> spares;
  SampleSplitter output_clock;
  Bytes still;
  Bytes audio_out;
  std::uint64_t sequence = 0;
  bool waiting = true;  // for the primary's first picture
  int on_air = kSlateInput;
  bool gave_up = false;
  bool take_any_picture = false;
  bool forget_alternate = false;  // it ended: its last picture goes at the next frame
  bool started = false;
  SwitchTime started_at{};

  InputSwitchStatistics stats;
};

std::unique_ptr<InputSwitch> InputSwitch::create(InputSwitchSettings settings, std::string* error) {
  std::string problem = check_settings(settings);
  if (!problem.empty()) {
    if (error) *error = std::move(problem);
    return nullptr;
  }
  return std::unique_ptr<InputSwitch>(
      new InputSwitch(std::make_unique<State>(std::move(settings))));
}

InputSwitch::InputSwitch(std::unique_ptr<State> state) : state_(std::move(state)) {}
InputSwitch::~InputSwitch() = default;

std::size_t InputSwitch::picture_bytes() const {
  return state_->picture_bytes;
}

namespace {

// Copies a picture into a buffer from the spares, outside the lock: only the handing over of
// buffers is locked.
Bytes copy_picture(std::mutex& mutex, std::vector<Bytes>& spares,
                   std::span<const std::uint8_t> picture) {
  Bytes buffer;
  {
    std::lock_guard lock(mutex);
    if (!spares.empty()) {
      buffer = std::move(spares.back());
      spares.pop_back();
    }
  }
  buffer.assign(picture.begin(), picture.end());
  return buffer;
}

void count_run(bool seen, std::uint64_t& run) {
  run = seen ? run + 1 : 0;
}

}  // namespace

bool InputSwitch::push_picture(int input, std::span<const std::uint8_t> picture, SwitchTime now) {
  State& s = *state_;
  if (picture.size() != s.picture_bytes || !s.has_input(input)) {
    std::lock_guard lock(s.mutex);
    ++s.stats.rejected_pictures;
    return false;
  }
  Live& l = *s.live[static_cast<std::size_t>(input)];
  const ContentLimits& limits = s.settings.content;
  PictureLook look;
  if (limits.black.count() > 0 || limits.frozen.count() > 0) look = l.watch.look(picture);
  Bytes buffer = copy_picture(s.mutex, s.spares, picture);
  std::lock_guard lock(s.mutex);
  if (!l.run || now - l.last_at > s.steady_gap) {
    l.run = true;
    l.steady_since = now;
  }
  l.last_at = now;
  if (now - l.steady_since >= s.steady_time(input)) l.ends_in_a_row = 0;
  count_run(look.black, l.black_run);
  count_run(look.frozen, l.frozen_run);
  if (s.content_fault(l)) {
    l.good_run = 0;
  } else {
    ++l.good_run;
  }
  s.enqueue_picture(l.src, std::move(buffer));
  return true;
}

void InputSwitch::push_audio(int input, std::span<const std::uint8_t> pcm) {
  State& s = *state_;
  if (!s.has_input(input)) return;
  Live& l = *s.live[static_cast<std::size_t>(input)];
  SoundLook look;
  const bool watched = s.settings.content.silence.count() > 0;
  if (watched) look = look_at_sound(pcm);
  std::lock_guard lock(s.mutex);
  if (watched) {
    l.silent_values = look.heard ? look.trailing_silence : l.silent_values + look.leading_silence;
  }
  s.enqueue_audio(l.src, pcm);
}

void InputSwitch::input_ended(int input, SwitchTime now) {
  State& s = *state_;
  if (!s.has_input(input)) return;
  Live& l = *s.live[static_cast<std::size_t>(input)];
  std::lock_guard lock(s.mutex);
  s.start_new_run(l.src);
  l.run = false;
  l.black_run = l.frozen_run = l.silent_values = l.good_run = 0;
  if (l.restart_pending) return;  // the same end reported again
  ++l.ends_in_a_row;
  auto delay = s.settings.first_restart_delay;
  for (int i = 1; i < l.ends_in_a_row && delay < s.settings.max_restart_delay; ++i) {
    delay = std::min(delay * 2, s.settings.max_restart_delay);
  }
  l.restart_pending = true;
  l.restart_at = now + delay;
}

bool InputSwitch::restart_due(int input, SwitchTime now) {
  State& s = *state_;
  if (!s.has_input(input)) return false;
  Live& l = *s.live[static_cast<std::size_t>(input)];
  std::lock_guard lock(s.mutex);
  if (!l.restart_pending || now < l.restart_at) return false;
  l.restart_pending = false;
  return true;
}

bool InputSwitch::push_alternate_picture(std::span<const std::uint8_t> picture) {
  State& s = *state_;
  if (picture.size() != s.picture_bytes) {
    std::lock_guard lock(s.mutex);
    ++s.stats.rejected_pictures;
    return false;
  }
  Bytes buffer = copy_picture(s.mutex, s.spares, picture);
  std::lock_guard lock(s.mutex);
  s.enqueue_picture(s.alternate, std::move(buffer));
  return true;
}

void InputSwitch::push_alternate_audio(std::span<const std::uint8_t> pcm) {
  std::lock_guard lock(state_->mutex);
  state_->enqueue_audio(state_->alternate, pcm);
}

void InputSwitch::alternate_ended() {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  while (!s.alternate.pictures.empty())
    s.drop_oldest_picture(s.alternate);
  s.alternate.audio.clear_to(0);
  s.alternate.next_picture_audio = 0;
  s.alternate.picture_clock.restart();
  s.alternate.partial_size = 0;
  s.alternate.audio_seen = false;
  s.forget_alternate = true;  // `shown` may be in the consumer's hands until its next call
}

OutputFrame InputSwitch::next_frame(SwitchTime now) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  OutputFrame frame;
  frame.sequence = s.sequence++;
  if (s.forget_alternate) {
    s.alternate.has_shown = false;
    s.forget_alternate = false;
  }
  if (!s.started) {
    s.started = true;
    s.started_at = now;
    s.enter(s.alternate);
  }
  if (!s.gave_up) s.decide(now, frame);

  frame.input = s.on_air;
  frame.source = s.on_air == kPrimaryInput ? InputSource::primary : InputSource::alternate;
  s.produce(s.source_of(s.on_air), s.output_clock.next(), frame);
  ++s.stats.frames_out;
  ++(s.on_air == kPrimaryInput ? s.stats.primary_frames : s.stats.alternate_frames);
  return frame;
}

InputSwitchStatistics InputSwitch::statistics() const {
  std::lock_guard lock(state_->mutex);
  return state_->stats;
}

}  // namespace vx
