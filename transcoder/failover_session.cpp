#include "transcoder/failover_session.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <utility>

#include "platform/file_io.h"
#include "transcoder/child_process.h"
#include "transcoder/input_switch.h"
#include "transcoder/output_relay.h"
#include "transcoder/relayed_outputs.h"
#include "transcoder/thumbnail.h"
#include "transcoder/thumbnail_keeper.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/product.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr PictureSize kFallbackSize{1280, 720};
constexpr int kAudioRate = 48000;
constexpr int kAudioChannels = 2;
// A returning live source is picked up quickly: short probing.
const std::vector<std::string> kQuickProbe = {"-probesize", "1000000", "-analyzeduration",
                                              "1000000"};

std::string rate_text(FrameRate rate) {
  return std::to_string(rate.numerator) + "/" + std::to_string(rate.denominator);
}

std::string size_text(PictureSize size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::size_t picture_bytes(PictureSize size) {
  return static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * 3 / 2;
}

// Reads until the pipe ends or `bytes` were read; false when it ended first.
bool read_exactly(int fd, char* into, std::size_t bytes) {
  std::size_t got = 0;
  while (got < bytes) {
    const ssize_t count = read_some(fd, into + got, bytes - got);
    if (count <= 0) return false;
    got += static_cast<std::size_t>(count);
  }
  return true;
}

// The still alternate picture: the test bars with the credit line, in the output's size.
std::string render_bars(const std::string& ffmpeg, PictureSize size) {
  const std::string fit = "scale=" + std::to_string(size.width) + ":" +
                          std::to_string(size.height) + ",setsar=1,format=yuv420p";
  for (const std::string& credit :
       {std::string("drawtext=text=") + kCreditLine + ":fontsize=12:fontcolor=black:y=h-th,",
        std::string()}) {
    std::optional<std::string> frame =
        run_helper(
            {ffmpeg, "-hide_banner", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "pal100bars",
             "-vf", credit + fit, "-frames:v", "1", "-f", "rawvideo", "pipe:3"},
            10s, 3)
            .output;
    if (frame && frame->size() == picture_bytes(size)) return *frame;
  }
  // Without ffmpeg's help: black.
  std::string black(picture_bytes(size), '\0');
  std::fill(black.begin(), black.begin() + size.width * size.height, '\x10');
  std::fill(black.begin() + size.width * size.height, black.end(), '\x80');
  return black;
}

// Global options and input options of the primary as the line gave them, without the verbosity
// (the decoder only reports errors) and with short probing before its "-i".
std::vector<std::string> decoder_input(const std::vector<std::string>& primary_input) {
  std::vector<std::string> input;
  for (std::size_t k = 0; k < primary_input.size(); ++k) {
    if ((primary_input[k] == "-v" || primary_input[k] == "-loglevel") &&
        k + 1 < primary_input.size()) {
      ++k;
      continue;
    }
    if (primary_input[k] == "-i") input.insert(input.end(), kQuickProbe.begin(), kQuickProbe.end());
    input.push_back(primary_input[k]);
  }
  return input;
}

// One decoder: its input turned into raw pictures on pipe 3 and raw sound on pipe 4, read by two
// threads that hand them to the switch.
class Decoder {
 public:
  using PictureSink = std::function<void(std::string&&)>;
  using SoundSink = std::function<void(std::string_view)>;

  Decoder(std::vector<std::string> arguments, std::size_t picture_size, PictureSink pictures,
          SoundSink samples)
      : arguments_(std::move(arguments)),
        picture_size_(picture_size),
        pictures_(std::move(pictures)),
        samples_(std::move(samples)) {}
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() { stop(); }

  bool start() {
    Pipe video;
    Pipe audio;
    Pipe chatter;
    if (!video.open() || !audio.open() || !chatter.open()) return false;
    ChildPlan plan;
    plan.argv = argv_of(arguments_);
    plan.output = chatter.write_end.get();
    plan.pipes.emplace_back(video.write_end.get(), 3);
    plan.pipes.emplace_back(audio.write_end.get(), 4);
    pid_ = start_child(plan);
    if (pid_ < 0) return false;
    video.write_end.reset();
    audio.write_end.reset();
    chatter.write_end.reset();
    video_ = std::move(video.read_end);
    audio_ = std::move(audio.read_end);
    chatter_ = std::move(chatter.read_end);
    picture_reader_ = std::thread([this] { read_pictures(); });
    sound_reader_ = std::thread([this] { read_sound(); });
    chatter_reader_ = std::thread([this] { relay_errors(); });
    return true;
  }

  // True once the process is gone and its pipes are drained.
  bool ended() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = -1;
    join();
    return true;
  }

  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait_for(pid_);
      pid_ = -1;
    }
    join();
  }

 private:
  void join() {
    for (std::thread* thread : {&picture_reader_, &sound_reader_, &chatter_reader_}) {
      if (thread->joinable()) thread->join();
    }
  }

  void read_pictures() {
    for (;;) {
      std::string picture(picture_size_, '\0');
      if (!read_exactly(video_.get(), picture.data(), picture.size())) break;
      pictures_(std::move(picture));
    }
  }

  void read_sound() { read_until_end(audio_.get(), 16 * 1024, samples_); }

  // The decoder only prints errors; they reach the channel log marked as the input's.
  void relay_errors() {
    read_until_end(chatter_.get(), 4096,
                   [](std::string_view text) { say("[input] " + std::string(text)); });
  }

  std::vector<std::string> arguments_;
  std::size_t picture_size_;
  PictureSink pictures_;
  SoundSink samples_;
  pid_t pid_ = -1;
  UniqueFd video_;
  UniqueFd audio_;
  UniqueFd chatter_;
  std::thread picture_reader_;
  std::thread sound_reader_;
  std::thread chatter_reader_;
};

// The decoder's output part: the picture in the switch's format, the sound at 48 kHz stereo.
// `sound_input`: the input that carries the sound (a capture device's sound card is a second one).
std::vector<std::string> decoder_output(const std::string& filters, PictureSize size,
                                        FrameRate rate, int sound_input = 0) {
  const std::string w = std::to_string(size.width);
  const std::string h = std::to_string(size.height);
  std::string chain = filters.empty() ? std::string() : filters + ",";
  chain += "scale=" + w + ":" + h + ":force_original_aspect_ratio=decrease,pad=" + w + ":" + h +
           ":(ow-iw)/2:(oh-ih)/2,setsar=1,fps=" + rate_text(rate) + ",format=yuv420p";
  return {"-map",
          "0:v:0",
          "-vf",
          chain,
          "-f",
          "rawvideo",
          "pipe:3",
          "-map",
          std::to_string(sound_input) + ":a:0?",
          "-af",
          "aresample=" + std::to_string(kAudioRate) + ":async=1",
          "-ac",
          std::to_string(kAudioChannels),
          "-f",
          "s16le",
          "pipe:4"};
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string_view as_text(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The bytes for one of the encoder's inputs, written by a thread of its own: ffmpeg opens its
// inputs one after the other and reads each while it opens it, so a single writer feeding both
// would wait on one pipe while ffmpeg waits on the other.
class InputFeed {
 public:
  InputFeed(UniqueFd fd, std::size_t limit)
      : fd_(std::move(fd)), limit_(limit), writer_([this] { write(); }) {}
  InputFeed(const InputFeed&) = delete;
  InputFeed& operator=(const InputFeed&) = delete;
  ~InputFeed() {
    close();
    writer_.join();
  }

  // Waits while `limit` pieces are queued (the encoder is behind). False once the encoder is gone.
  bool push(std::string_view bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < limit_ || closed_ || broken_; });
    if (closed_ || broken_) return false;
    queue_.emplace_back(bytes);
    ready_.notify_one();
    return true;
  }

  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    ready_.notify_all();
    room_.notify_all();
  }

 private:
  void write() {
    for (;;) {
      std::string piece;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || closed_; });
        if (queue_.empty()) break;
        piece = std::move(queue_.front());
        queue_.pop_front();
        room_.notify_one();
      }
      if (!write_all(fd_.get(), piece)) {
        std::lock_guard<std::mutex> lock(mutex_);
        broken_ = true;
        room_.notify_all();
        break;
      }
    }
    fd_.reset();  // the encoder sees the end of this input
  }

  UniqueFd fd_;
  std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<std::string> queue_;
  bool closed_ = false;
  bool broken_ = false;
  std::thread writer_;
};

// The picture size the switch and the encoder work in: the output's own, else 720p. Never the
// primary's: the encoder is started once and at once, so that output flows and a dead primary
// gives way to the alternate at the timeout, and no probe of a live source answers that quickly.
// Sound alone gets a tiny one: the switch still counts frames.
PictureSize working_size(const FailoverPlan& plan) {
  if (!plan.video) return {16, 16};
  const PictureSize size = requested_size(plan.output);
  return size.width == 0 ? kFallbackSize : size;
}

// The switch: the plan's standby sources and content limits (black and frozen only where there
// are pictures, silence only where there is sound), with the test bars as the still picture of
// the built-in slate. Without a slate the still picture is only seen before the first input
// delivers: black.
std::unique_ptr<InputSwitch> make_switch(const FailoverPlan& plan, const std::string& ffmpeg,
                                         PictureSize size, FrameRate rate, std::string* error) {
  InputSwitchSettings settings;
  settings.width = size.width;
  settings.height = size.height;
  settings.rate_num = rate.numerator;
  settings.rate_den = rate.denominator;
  settings.standby_count = plan.standby_inputs.size();
  settings.slate = plan.slate;
  if (plan.video) {
    settings.content.black = std::chrono::seconds(plan.switch_on.black);
    settings.content.frozen = std::chrono::seconds(plan.switch_on.frozen);
  }
  if (plan.audio) settings.content.silence = std::chrono::seconds(plan.switch_on.silence);
  if (plan.slate) {
    const std::string bars = render_bars(ffmpeg, size);
    settings.still_picture.assign(bars.begin(), bars.end());
  }
  return InputSwitch::create(settings, error);
}

// A live input's decoder: the input as this system's ffmpeg reads it (a capture device becomes
// its V4L2 and ALSA inputs), short probing, the primary's filters for the primary only. Empty,
// after one line saying why, when the input cannot be read here.
std::vector<std::string> live_decoder_arguments(const std::vector<std::string>& input,
                                                const std::string& filters,
                                                const std::string& ffmpeg, PictureSize size,
                                                FrameRate rate, const TranslationContext& context,
                                                const std::string& name) {
  // An input's "-c:v" names a decoder, which the encoder list does not hold.
  TranslationContext input_context = context;
  input_context.encoders.clear();
  const Translation translated = translate_arguments(input, input_context);
  if (!translated.error.empty()) {
    say(translated.error + " (" + name + ")\n");
    return {};
  }
  std::vector<std::string> arguments = {ffmpeg,     "-hide_banner", "-nostdin",
                                        "-nostats", "-v",           "error"};
  for (std::string& argument : decoder_input(translated.arguments)) {
    arguments.push_back(std::move(argument));
  }
  const auto inputs = std::count(translated.arguments.begin(), translated.arguments.end(), "-i");
  for (std::string& argument : decoder_output(filters, size, rate, inputs > 1 ? 1 : 0)) {
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

// The media alternate: the file in a loop, at its own pace.
std::vector<std::string> alternate_decoder_arguments(const std::string& file,
                                                     const std::string& ffmpeg, PictureSize size,
                                                     FrameRate rate) {
  std::vector<std::string> arguments = {ffmpeg, "-hide_banner", "-nostdin", "-nostats",
                                        "-v",   "error",        "-re",      "-stream_loop",
                                        "-1",   "-i",           file};
  for (std::string& argument : decoder_output("", size, rate)) {
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

// The encoder: the switch's pictures (pipe 3) and sound (pipe 4) in, the line's own outputs out.
std::vector<std::string> encoder_arguments(const FailoverPlan& plan, const std::string& ffmpeg,
                                           PictureSize size, FrameRate rate,
                                           const std::vector<std::string>& outputs) {
  std::vector<std::string> encoder = {ffmpeg, "-hide_banner", "-nostdin"};
  if (plan.video) {
    encoder.insert(encoder.end(),
                   {"-thread_queue_size", "512", "-f", "rawvideo", "-pix_fmt", "yuv420p",
                    "-video_size", size_text(size), "-framerate", rate_text(rate), "-i", "pipe:3"});
  }
  if (plan.audio) {
    encoder.insert(encoder.end(),
                   {"-thread_queue_size", "512", "-f", "s16le", "-ar", std::to_string(kAudioRate),
                    "-ac", std::to_string(kAudioChannels), "-i", "pipe:4"});
  }
  if (plan.video) encoder.insert(encoder.end(), {"-map", "0:v"});
  if (plan.audio) encoder.insert(encoder.end(), {"-map", plan.video ? "1:a" : "0:a"});
  encoder.insert(encoder.end(), outputs.begin(), outputs.end());
  return encoder;
}

// One run of a live input's decoder on its way into the switch: a picture goes with the sound of
// its frame period. An input without sound gets silence for each picture; an input with sound
// alone gets a blank picture per frame of sound, so the switch sees it alive. The decoder's two
// reader threads call in at the same time.
class LiveRun {
 public:
  LiveRun(InputSwitch& input_switch, int input, FrameRate rate, bool video,
          std::size_t picture_size)
      : switch_(input_switch),
        input_(input),
        rate_(rate),
        video_(video),
        blank_(picture_size, '\0') {}
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;

  // A new decoder run counts from its own first picture and sample.
  void start_over() {
    std::lock_guard<std::mutex> lock(mutex_);
    pictures_ = 0;
    sound_bytes_ = 0;
    silent_ = false;
  }

  void take_picture(std::string_view picture) {
    if (!video_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    switch_.push_picture(input_, as_bytes(picture), Clock::now());
    ++pictures_;
    if (silent_) {
      push_silence(pictures_ - 1, pictures_);
    } else if (sound_bytes_ == 0 &&
               pictures_ > 2 * static_cast<std::uint64_t>(rate_.numerator / rate_.denominator)) {
      silent_ = true;
      push_silence(0, pictures_);
    }
  }

  void take_sound(std::string_view samples) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (silent_) return;
    sound_bytes_ += samples.size();
    switch_.push_audio(input_, as_bytes(samples));
    if (video_) return;
    while (sound_bytes_before(pictures_ + 1) <= sound_bytes_) {
      switch_.push_picture(input_, as_bytes(blank_), Clock::now());
      ++pictures_;
    }
  }

 private:
  std::uint64_t sound_bytes_before(std::uint64_t frame) const {
    return frame * kAudioRate * static_cast<std::uint64_t>(rate_.denominator) /
           static_cast<std::uint64_t>(rate_.numerator) * kSwitchSampleBytes;
  }

  void push_silence(std::uint64_t from_frame, std::uint64_t to_frame) {
    const std::string silence(sound_bytes_before(to_frame) - sound_bytes_before(from_frame), '\0');
    switch_.push_audio(input_, as_bytes(silence));
  }

  InputSwitch& switch_;
  const int input_;
  const FrameRate rate_;
  const bool video_;
  const std::string blank_;
  std::mutex mutex_;
  std::uint64_t pictures_ = 0;
  std::uint64_t sound_bytes_ = 0;
  bool silent_ = false;  // no sound after two seconds of pictures: silence is made here
};

}  // namespace

PictureSize requested_size(const std::vector<std::string>& output) {
  for (std::size_t k = 0; k + 1 < output.size(); ++k) {
    if (output[k] != "-s:v" && output[k] != "-s") continue;
    int width = 0;
    int height = 0;
    if (std::sscanf(output[k + 1].c_str(), "%dx%d", &width, &height) == 2 && width > 0 &&
        height > 0) {
      return {(width + 1) & ~1, (height + 1) & ~1};
    }
  }
  return {};
}

FrameRate requested_rate(const std::vector<std::string>& output) {
  struct Named {
    const char* name;
    FrameRate rate;
  };
  static constexpr Named kNames[] = {{"ntsc", {30000, 1001}},  {"pal", {25, 1}},
                                     {"film", {24, 1}},        {"ntsc-film", {24000, 1001}},
                                     {"qntsc", {30000, 1001}}, {"qpal", {25, 1}}};
  for (std::size_t k = 0; k + 1 < output.size(); ++k) {
    if (output[k] != "-r:v" && output[k] != "-r") continue;
    const std::string& text = output[k + 1];
    for (const Named& named : kNames) {
      if (text == named.name) return named.rate;
    }
    int numerator = 0;
    int denominator = 0;
    if (std::sscanf(text.c_str(), "%d/%d", &numerator, &denominator) == 2 && numerator > 0 &&
        denominator > 0) {
      return {numerator, denominator};
    }
    const double value = std::atof(text.c_str());
    if (value > 0 && value <= 240) {
      // Decimal rates such as 23.976 or 59.94 are the NTSC ones.
      const double rounded = static_cast<double>(static_cast<int>(value + 0.5));
      if (rounded - value > 0.01) return {static_cast<int>(rounded) * 1000, 1001};
      return {static_cast<int>(rounded), 1};
    }
  }
  return {};
}

namespace {

// One live input (the primary or a standby source) and its decoder, restarted with a growing
// pause whenever it ends.
struct LiveInput {
  LiveInput(InputSwitch& input_switch, int input, FrameRate rate, bool video,
            std::size_t picture_size)
      : run(input_switch, input, rate, video, picture_size) {}

  LiveRun run;
  std::vector<std::string> arguments;  // empty: it cannot be read here and is never started
  std::unique_ptr<Decoder> decoder;
};

// One failover from start to end. The members own every child, pipe and thread; shut_down() stops
// them, whether the encoder ended or the set could not start.
//
// Every standby source's decoder runs from the start, not only once the primary fails: a live
// source takes a second or more to be opened and probed, so a standby started at the failure
// would leave the slate on air for that long, and the switch could not tell beforehand which
// standby delivers. A warm standby is ready the moment it is needed.
class FailoverSession {
 public:
  FailoverSession(const FailoverPlan& plan, const SessionOptions& options)
      : plan_(plan), options_(options) {}
  FailoverSession(const FailoverSession&) = delete;
  FailoverSession& operator=(const FailoverSession&) = delete;
  ~FailoverSession() { shut_down(); }

  // Until the encoder ends: its exit status, or 1 after one line when the set cannot start or
  // no input is left.
  int run(const TranslationContext& context);

 private:
  bool prepare_switch(const TranslationContext& context);
  void start_alternate();
  bool start_encoder(const Translation& output);
  bool start_live_input(int input);
  void look_after_live_inputs();
  void start_clock();
  void run_clock();
  void stop_clock();
  int shut_down();

  const FailoverPlan& plan_;
  const SessionOptions& options_;
  PictureSize size_;
  FrameRate rate_;
  std::unique_ptr<InputSwitch> switch_;
  std::vector<std::unique_ptr<LiveInput>> live_;  // the primary, then the standby sources
  // The encoder's pipes: the switch's pictures and sound in, what it prints out.
  Pipe pictures_;
  Pipe sound_;
  Pipe chatter_;
  ServedOutputs served_;
  RelayedOutputs relayed_{options_.ffmpeg};
  pid_t encoder_ = -1;
  int status_ = 1;
  std::optional<InputFeed> picture_feed_;
  std::optional<InputFeed> sound_feed_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> no_input_left_{false};
  std::thread clock_;
  std::unique_ptr<Decoder> alternate_;
  std::optional<ThumbnailKeeper> thumbnail_;
};

int FailoverSession::run(const TranslationContext& context) {
  // Pipes 3 and 4 carry the switch's pictures and sound into the encoder.
  TranslationContext output_context = context;
  output_context.first_pipe_fd = 5;
  const Translation output = translate_arguments(plan_.output, output_context);
  if (!output.error.empty()) {
    say(output.error + "\n");
    return 1;
  }
  // A stop that arrives before the encoder runs ends the start: it was meant for the encoder.
  if (!prepare_switch(context)) return interrupted() ? kInterruptedStatus : 1;
  start_alternate();
  if (interrupted() || !start_encoder(output)) return interrupted() ? kInterruptedStatus : 1;
  start_clock();
  for (std::size_t k = 0; k < live_.size() && !interrupted(); ++k) {
    const int input = static_cast<int>(k);
    if (!start_live_input(input) && !interrupted()) {
      say("morvi-transcoder: the " + input_name(input) + " input cannot be started\n");
    }
  }
  OutputRelay(options_.frozen_video_seconds).relay(chatter_.read_end.get(), 100ms, [this] {
    look_after_live_inputs();
  });
  const int status = shut_down();
  return no_input_left_ ? 1 : status;
}

bool FailoverSession::prepare_switch(const TranslationContext& context) {
  size_ = working_size(plan_);
  rate_ = requested_rate(plan_.output);
  std::string error;
  switch_ = make_switch(plan_, options_.ffmpeg, size_, rate_, &error);
  if (!switch_) {
    say("morvi-transcoder: " + error + "; nothing started\n");
    return false;
  }
  for (std::size_t k = 0; k <= plan_.standby_inputs.size(); ++k) {
    const int input = static_cast<int>(k);
    auto live =
        std::make_unique<LiveInput>(*switch_, input, rate_, plan_.video, picture_bytes(size_));
    live->arguments =
        live_decoder_arguments(k == 0 ? plan_.primary_input : plan_.standby_inputs[k - 1],
                               k == 0 ? plan_.primary_filters : std::string(), options_.ffmpeg,
                               size_, rate_, context, input_name(input));
    live_.push_back(std::move(live));
  }
  return true;
}

void FailoverSession::start_alternate() {
  if (plan_.alternate_file.empty()) return;
  alternate_ = std::make_unique<Decoder>(
      alternate_decoder_arguments(plan_.alternate_file, options_.ffmpeg, size_, rate_),
      picture_bytes(size_),
      [this](std::string&& picture) { switch_->push_alternate_picture(as_bytes(picture)); },
      [this](std::string_view samples) { switch_->push_alternate_audio(as_bytes(samples)); });
  if (!alternate_->start() && !interrupted()) {
    say("morvi-transcoder: the alternate input cannot be started\n");
  }
}

bool FailoverSession::start_encoder(const Translation& output) {
  if (!pictures_.open() || !sound_.open() || !chatter_.open()) {
    say("morvi-transcoder: no pipes for the encoder; nothing started\n");
    return false;
  }
  std::vector<std::string> arguments =
      encoder_arguments(plan_, options_.ffmpeg, size_, rate_, output.arguments);
  if (!served_.open(output.served) || !relayed_.open(output.relayed)) return false;
  ChildPlan plan;
  plan.output = chatter_.write_end.get();
  plan.pipes.emplace_back(pictures_.read_end.get(), 3);
  plan.pipes.emplace_back(sound_.read_end.get(), 4);
  served_.hand_to(plan);
  relayed_.hand_to(plan);
  // The thumbnail shows what is on air: the switch's pictures, as the encoder takes them in.
  if (options_.thumbnail && plan_.video && takes_a_thumbnail(output)) {
    thumbnail_.emplace(options_.thumbnail->path);
    if (!thumbnail_->open()) return false;
    const int fd = plan.next_pipe_number();
    plan.pipes.emplace_back(thumbnail_->write_end(), fd);
    const std::vector<std::string> thumbnail = thumbnail_output("0:v", fd);
    arguments.insert(arguments.end(), thumbnail.begin(), thumbnail.end());
  }
  plan.argv = argv_of(arguments);
  encoder_ = start_child(plan);
  if (encoder_ < 0) {
    if (interrupted()) return false;
    say("morvi-transcoder: cannot start " + options_.ffmpeg + "\n");
    return false;
  }
  pictures_.read_end.reset();
  sound_.read_end.reset();
  chatter_.write_end.reset();
  if (thumbnail_) thumbnail_->start();
  served_.start_pumping();
  relayed_.start_pumping();
  served_.close_write_ends();  // the encoder is never started again
  relayed_.close_write_ends();
  return true;
}

// A new run of a live input's decoder; false when it could not start.
bool FailoverSession::start_live_input(int input) {
  LiveInput& live = *live_[static_cast<std::size_t>(input)];
  if (live.arguments.empty()) return false;
  live.run.start_over();
  live.decoder = std::make_unique<Decoder>(
      live.arguments, picture_bytes(size_),
      [&live](std::string&& picture) { live.run.take_picture(picture); },
      [&live](std::string_view samples) { live.run.take_sound(samples); });
  if (live.decoder->start()) return true;
  live.decoder.reset();
  return false;
}

// Each live decoder that ended is restarted when the switch says its pause is over.
void FailoverSession::look_after_live_inputs() {
  for (std::size_t k = 0; k < live_.size(); ++k) {
    const int input = static_cast<int>(k);
    LiveInput& live = *live_[k];
    if (live.arguments.empty()) continue;
    if (live.decoder && live.decoder->ended()) {
      switch_->input_ended(input, Clock::now());
      live.decoder.reset();
    }
    if (!live.decoder && switch_->restart_due(input, Clock::now())) start_live_input(input);
  }
}

// About one second of frames may wait for a slow encoder; more would only hold memory.
void FailoverSession::start_clock() {
  const std::size_t queue_limit = static_cast<std::size_t>(rate_.numerator / rate_.denominator + 1);
  if (plan_.video) {
    picture_feed_.emplace(std::move(pictures_.write_end), queue_limit);  // the feed closes it
  }
  if (plan_.audio) {
    sound_feed_.emplace(std::move(sound_.write_end), queue_limit);  // the feed closes it
  }
  pictures_.write_end.reset();  // a stream the line does not switch gets no writer
  sound_.write_end.reset();
  clock_ = std::thread([this] { run_clock(); });
}

// The output clock: one picture and its sound every frame period, whatever the inputs do. When no
// input is left (no slate), the encoder's inputs end and with them the channel.
void FailoverSession::run_clock() {
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(rate_.denominator) / rate_.numerator));
  auto next = Clock::now();
  while (!stopping_) {
    std::this_thread::sleep_until(next);
    const OutputFrame frame = switch_->next_frame(Clock::now());
    if (frame.report) say("\n" + switch_report_line(*frame.report) + "\n");
    if (frame.event == SwitchEvent::no_input_left) {
      no_input_left_ = true;
      break;
    }
    if (picture_feed_ && !picture_feed_->push(as_text(frame.picture))) break;
    if (sound_feed_ && !sound_feed_->push(as_text(frame.audio))) break;
    next += period;
    if (next < Clock::now() - 10 * period) next = Clock::now();  // the encoder held us up
  }
  if (picture_feed_) picture_feed_->close();
  if (sound_feed_) sound_feed_->close();
}

void FailoverSession::stop_clock() {
  stopping_ = true;
  if (picture_feed_) picture_feed_->close();
  if (sound_feed_) sound_feed_->close();
  if (clock_.joinable()) clock_.join();
  picture_feed_.reset();
  sound_feed_.reset();
}

// The one order of the end. The clock and the encoder's inputs go first: after the encoder's own
// end that changes nothing, and an encoder still running then ends its outputs properly (it is
// never sent a signal: a second SIGINT would cost the trailer). Then the encoder is reaped, the
// decoders that feed the switch stop, and the served and relayed outputs drain.
int FailoverSession::shut_down() {
  stop_clock();
  if (encoder_ > 0) status_ = wait_for(std::exchange(encoder_, -1));
  for (std::unique_ptr<LiveInput>& live : live_)
    live->decoder.reset();
  alternate_.reset();
  served_.join();
  relayed_.join();
  if (thumbnail_) thumbnail_->finish();
  return status_;
}

}  // namespace

int run_failover_session(const FailoverPlan& plan, const TranslationContext& context,
                         const SessionOptions& options) {
  install_signal_handling();
  FailoverSession session(plan, options);
  return session.run(context);
}

}  // namespace vx
