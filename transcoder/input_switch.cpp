#include "transcoder/input_switch.h"

#include <algorithm>
#include <array>
#include <deque>
#include <mutex>
#include <utility>

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

enum class Mode { waiting, primary, alternate };

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
        steady_gap(
            std::chrono::nanoseconds(1'000'000'000LL * settings.rate_den / settings.rate_num) *
            settings.steady_gap_frames),
        primary(settings.rate_num, settings.rate_den),
        alternate(settings.rate_num, settings.rate_den),
        output_clock(settings.rate_num, settings.rate_den),
        still(std::move(settings.still_picture)) {
    if (still.empty()) {
      // Black in the limited range ffmpeg uses for yuv420p.
      const std::size_t luma = picture_bytes * 2 / 3;
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

  void drop_oldest_picture(Source& src) {
    recycle(std::move(src.pictures.front().bytes));
    src.pictures.pop_front();
    if (&src == &primary) ++stats.dropped_pictures;
  }

  void enqueue_picture(Source& src, Bytes&& bytes) {
    if (src.pictures.size() >= settings.max_queued_pictures) drop_oldest_picture(src);
    const std::uint64_t begin = src.next_picture_audio;
    src.next_picture_audio += src.picture_clock.next();
    src.pictures.push_back({std::move(bytes), begin, src.next_picture_audio});
  }

  void count_dropped_audio(const Source& src, std::uint64_t samples) {
    if (&src == &primary) stats.dropped_audio_bytes += samples * kSwitchSampleBytes;
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

  InputSwitchSettings settings;
  const std::size_t picture_bytes;
  const std::uint64_t audio_limit;  // samples per source
  const SwitchClock::duration steady_gap;

  std::mutex mutex;
  Source primary;
  Source alternate;
  std::vector<Bytes> spares;
  SampleSplitter output_clock;
  Bytes still;
  Bytes audio_out;
  std::uint64_t sequence = 0;
  Mode mode = Mode::waiting;
  bool take_any_picture = false;
  bool forget_alternate = false;  // it ended: its last picture goes at the next frame
  bool started = false;
  SwitchTime started_at{};

  bool primary_run = false;  // a primary picture came since the last pause or end
  SwitchTime last_primary_at{};
  SwitchTime steady_since{};

  int ends_in_a_row = 0;
  bool restart_pending = false;
  SwitchTime restart_at{};

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

}  // namespace

bool InputSwitch::push_primary_picture(std::span<const std::uint8_t> picture, SwitchTime now) {
  State& s = *state_;
  if (picture.size() != s.picture_bytes) {
    std::lock_guard lock(s.mutex);
    ++s.stats.rejected_pictures;
    return false;
  }
  Bytes buffer = copy_picture(s.mutex, s.spares, picture);
  std::lock_guard lock(s.mutex);
  if (!s.primary_run || now - s.last_primary_at > s.steady_gap) {
    s.primary_run = true;
    s.steady_since = now;
  }
  s.last_primary_at = now;
  if (now - s.steady_since >= s.settings.steady_time) s.ends_in_a_row = 0;
  s.enqueue_picture(s.primary, std::move(buffer));
  return true;
}

void InputSwitch::push_primary_audio(std::span<const std::uint8_t> pcm) {
  std::lock_guard lock(state_->mutex);
  state_->enqueue_audio(state_->primary, pcm);
}

void InputSwitch::primary_ended(SwitchTime now) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  s.start_new_run(s.primary);
  s.primary_run = false;
  if (s.restart_pending) return;  // the same end reported again
  ++s.ends_in_a_row;
  auto delay = s.settings.first_restart_delay;
  for (int i = 1; i < s.ends_in_a_row && delay < s.settings.max_restart_delay; ++i) {
    delay = std::min(delay * 2, s.settings.max_restart_delay);
  }
  s.restart_pending = true;
  s.restart_at = now + delay;
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

  switch (s.mode) {
    case Mode::waiting:
      if (!s.primary.pictures.empty()) {
        s.mode = Mode::primary;
        s.enter(s.primary);
      } else if (now - s.started_at >= s.settings.timeout) {
        s.mode = Mode::alternate;
        frame.event = SwitchEvent::switched_to_alternate;
      }
      break;
    case Mode::primary:
      if (now - s.last_primary_at >= s.settings.timeout) {
        s.mode = Mode::alternate;
        s.enter(s.alternate);
        frame.event = SwitchEvent::switched_to_alternate;
      }
      break;
    case Mode::alternate:
      if (s.primary_run && !s.primary.pictures.empty() && now - s.last_primary_at <= s.steady_gap &&
          now - s.steady_since >= s.settings.steady_time) {
        s.mode = Mode::primary;
        s.enter(s.primary);
        frame.event = SwitchEvent::switched_back;
      }
      break;
  }
  if (frame.event != SwitchEvent::none) ++s.stats.switches;

  frame.source = s.mode == Mode::primary ? InputSource::primary : InputSource::alternate;
  s.produce(frame.source == InputSource::primary ? s.primary : s.alternate, s.output_clock.next(),
            frame);
  ++s.stats.frames_out;
  ++(frame.source == InputSource::primary ? s.stats.primary_frames : s.stats.alternate_frames);
  return frame;
}

bool InputSwitch::restart_due(SwitchTime now) {
  std::lock_guard lock(state_->mutex);
  if (!state_->restart_pending || now < state_->restart_at) return false;
  state_->restart_pending = false;
  return true;
}

InputSwitchStatistics InputSwitch::statistics() const {
  std::lock_guard lock(state_->mutex);
  return state_->stats;
}

}  // namespace vx
