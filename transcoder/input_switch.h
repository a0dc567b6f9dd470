// InputSwitch: keeps a channel on air when its live input fails or shows nothing worth showing.
// It owns the choice, one source per output frame, between the live inputs (the primary decoder
// and the standby sources' decoders, in that order) and the slate (the test picture or a looping
// media file), and when each of them is fit to go on air.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <optional>
#include <vector>

#include "vocabulary/input_switch_report.h"

namespace vx {

using SwitchClock = std::chrono::steady_clock;
using SwitchTime = SwitchClock::time_point;

// The audio every source delivers and the encoder receives: 48 kHz, two channels, s16le.
inline constexpr int kSwitchSampleRate = 48000;
inline constexpr std::size_t kSwitchSampleBytes = 4;

// Switching on what the input on air shows: black, silent or frozen for this long (0: not watched)
// puts the next fit input on air.
struct ContentLimits {
  std::chrono::seconds black{0};
  std::chrono::seconds silence{0};
  std::chrono::seconds frozen{0};
  // An input that was black, silent or frozen takes the air back after this long without.
  std::chrono::milliseconds recovery{3000};

  bool watched() const { return black.count() > 0 || silence.count() > 0 || frozen.count() > 0; }
};

struct InputSwitchSettings {
  int width = 0;  // yuv420p pictures of width * height * 3 / 2 bytes; both even
  int height = 0;
  int rate_num = 25;  // frames per second: rate_num / rate_den, e.g. 30000 / 1001
  int rate_den = 1;
  // What the alternate shows while no media alternate delivers (its audio is silence): one
  // picture of the size above; empty means black.
  std::vector<std::uint8_t> still_picture{};
  std::chrono::milliseconds timeout{3000};      // no picture for this long: the next input
  std::chrono::milliseconds steady_time{1000};  // primary delivering this long: back to it
  std::chrono::milliseconds standby_steady_time{3000};  // the same for a standby source
  int steady_gap_frames = 2;  // a longer pause between a live input's pictures starts it again
  // Live inputs after the primary, tried in order: 0 to kMaxStandbySources.
  std::size_t standby_count = 0;
  // Whether the alternate may go on air. Without it the switch gives up (no_input_left) when no
  // live input delivers; until the first one does, frames are the still picture.
  bool slate = true;
  ContentLimits content{};
  // Per source. Beyond them the oldest is dropped: a live input is never held back, and the
  // latency they add stays bounded. Audio may run ahead of its pictures by up to the audio limit.
  std::size_t max_queued_pictures = 16;
  std::chrono::milliseconds max_queued_audio{1000};
  // Delay before restarting a primary decoder that ended: doubles with each end in a row, up to
  // the maximum, and starts over once the primary has delivered steadily.
  std::chrono::milliseconds first_restart_delay{1000};
  std::chrono::milliseconds max_restart_delay{10000};
};

enum class InputSource { primary, alternate };  // the alternate: a standby source or the slate

enum class SwitchEvent {
  none,
  switched_to_alternate,  // from the primary to a standby source or the slate
  switched_back,          // to the primary
  switched_between,       // between standby sources and the slate
  no_input_left,          // no slate and no live input: the channel ends
};

struct OutputFrame {
  // Both stay valid until the next call of next_frame().
  std::span<const std::uint8_t> picture;  // picture_bytes()
  std::span<const std::uint8_t> audio;    // this frame's sample count * 4 bytes
  std::uint64_t sequence = 0;             // 0, 1, 2, ... without gaps
  InputSource source = InputSource::alternate;
  int input = kSlateInput;  // on air: kPrimaryInput, a standby source from 1, or kSlateInput
  bool repeated = false;  // the source had no picture ready: its previous one again, silent
  SwitchEvent event = SwitchEvent::none;
  std::optional<SwitchReport> report;  // with every event: from, to and why
};

struct InputSwitchStatistics {
  std::uint64_t frames_out = 0;
  std::uint64_t primary_frames = 0;
  std::uint64_t alternate_frames = 0;  // standby sources' and the slate's
  std::uint64_t repeated_pictures = 0;
  std::uint64_t dropped_pictures = 0;     // primary ones never shown: queue full, or passed over
  std::uint64_t rejected_pictures = 0;    // pushes of the wrong size, from either source
  std::uint64_t dropped_audio_bytes = 0;  // primary audio never played: queue full, or out of step
  std::uint64_t switches = 0;             // every change of the input on air
};

// Producers (reader threads) and the consumer (the output clock thread) may call at any time;
// next_frame() from one thread only, and each live input's pictures from one thread at a time.
// Times are any steady clock's, passed in by the caller. Live inputs are numbered as in
// vocabulary/input_switch_report.h: kPrimaryInput, then the standby sources from 1.
//
// Each decoder's pictures and audio must begin together (constant frame rate, audio without
// gaps): the n-th picture goes with the audio from sample floor(n * 48000 * den / num) of the
// same decoder run. That, not arrival order, keeps them in step: a picture waits in its queue
// until its audio has arrived, and audio whose picture was dropped is dropped with it.
class InputSwitch {
 public:
  // Null, with the reason in `error`, when the settings cannot work.
  static std::unique_ptr<InputSwitch> create(InputSwitchSettings settings,
                                             std::string* error = nullptr);
  ~InputSwitch();
  InputSwitch(const InputSwitch&) = delete;
  InputSwitch& operator=(const InputSwitch&) = delete;

  std::size_t picture_bytes() const;

  // A picture of any other size, or for an input the switch does not have, is rejected (false)
  // and counted; nothing else changes.
  bool push_picture(int input, std::span<const std::uint8_t> picture, SwitchTime now);
  // Chunks of any size: a sample frame split across chunks is completed by the next one.
  void push_audio(int input, std::span<const std::uint8_t> pcm);
  // The input's decoder exited. What it delivered still plays; its next run starts afresh.
  void input_ended(int input, SwitchTime now);
  // True once per input_ended(), when its restart delay has passed: restart the decoder now.
  bool restart_due(int input, SwitchTime now);

  bool push_primary_picture(std::span<const std::uint8_t> picture, SwitchTime now) {
    return push_picture(kPrimaryInput, picture, now);
  }
  void push_primary_audio(std::span<const std::uint8_t> pcm) { push_audio(kPrimaryInput, pcm); }
  void primary_ended(SwitchTime now) { input_ended(kPrimaryInput, now); }
  bool restart_due(SwitchTime now) { return restart_due(kPrimaryInput, now); }

  // A media alternate (a decoder looping a file). Until it delivers, and after it ends, the
  // alternate is the still picture with silence.
  bool push_alternate_picture(std::span<const std::uint8_t> picture);
  void push_alternate_audio(std::span<const std::uint8_t> pcm);
  void alternate_ended();

  // Called once per frame period. Until the primary first delivers, frames come from the
  // alternate without an event; if that takes longer than the timeout, the switch to the first
  // fit standby source (or the slate) is reported then, and from there on an input must be
  // steady to take the air.
  OutputFrame next_frame(SwitchTime now);

  InputSwitchStatistics statistics() const;

 private:
  struct State;
  explicit InputSwitch(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace vx
