#include "engine/engine.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "engine/channel_history.h"
#include "engine/channel_log.h"
#include "engine/command_line.h"
#include "engine/engine_clock.h"
#include "engine/load_monitor.h"
#include "engine/output_parser.h"
#include "engine/signal_watch.h"
#include "engine/thumbnails.h"
#include "platform/host.h"
#include "platform/process.h"
#include "vocabulary/text_format.h"
#include "vocabulary/transcoder_protocol.h"
#include "vocabulary/url_credentials.h"

namespace vx {
namespace {

struct EngineGlobals {
  bool initialised = false;
  int log_level = 0;
  std::string transcoder_folder;  // ends with '/'
  std::string transcoder_path;
  std::string log_folder;  // ends with '/'
  std::string plugin_core_path;
  std::string cookies_path;
  int cores_per_channel = 0;
  std::optional<std::int64_t> first_initialised_at;  // survives a shutdown, for the uptime
};

EngineGlobals& globals() {
  static EngineGlobals value;
  return value;
}

constexpr int kOutputChunk = 4095;
constexpr int kShutdownWaits = 100;
constexpr auto kShutdownWait = std::chrono::milliseconds(30);

std::string with_trailing_slash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

bool ffmpeg_is_available() {
  const char* configured = std::getenv("MORVI_FFMPEG");
  if (configured != nullptr && *configured != '\0') return find_program(configured).has_value();
  return find_program("ffmpeg").has_value();
}

// ----- the launcher ---------------------------------------------------------------------------

int launch(ChannelSlot& slot, const std::vector<std::string>& argv) {
  ChildProcess child;
  switch (spawn_child(argv, child)) {
    case SpawnResult::started:
      break;
    case SpawnResult::no_pipe:
      return kErrorPipe;
    case SpawnResult::not_started:
      return kErrorProcess;
  }
  slot.pid = child.pid;
  slot.input = std::move(child.input);
  slot.output = std::move(child.output);
  slot.pending_input.clear();
  slot.extract_output.clear();
  forget_transcoder_lines(slot);
  return 0;
}

// Feeds the process what is left of its first line without ever waiting for it; the input is
// closed once the line is through, so the process sees the end of its input.
void feed_pending_input(ChannelSlot& slot) {
  if (!slot.input) return;
  while (!slot.pending_input.empty()) {
    const ssize_t written =
        ::write(slot.input.get(), slot.pending_input.data(), slot.pending_input.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return;
      slot.pending_input.clear();  // the process is gone or closed its input
      break;
    }
    slot.pending_input.erase(0, static_cast<std::size_t>(written));
  }
  slot.input.reset();
}

void release_process(ChannelSlot& slot) {
  slot.pid = 0;
  slot.input.reset();
  slot.output.reset();
  slot.pending_input.clear();
  slot.extract_output.clear();
  slot.saved_request.reset();  // a yt-dlp stage that was stopped leaves its start behind
  forget_transcoder_lines(slot);
}

void discard_process(ChannelSlot& slot) {
  if (slot.pid <= 0) return;
  signal_child_group(slot.pid, SIGKILL);
  std::uint32_t ignored = 0;
  for (int attempt = 0; attempt < 50 && !child_has_ended(slot.pid, ignored); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  release_process(slot);
}

// ----- starting ---------------------------------------------------------------------------------

int launch_ytdlp(int slot_number, ChannelSlot& slot, const StartRequest& request) {
  const EngineGlobals& engine = globals();
  const std::string& page_url = request.sources.front().url;
  // Beside the transcoder when it is there (looked for at every start, so it can be added or
  // updated while the program runs), else from PATH.
  const std::string beside = engine.transcoder_folder + std::string(kYtdlpFileName);
  const std::string program = is_executable_file(beside) ? beside : std::string(kYtdlpFileName);
  std::vector<std::string> argv = {program, "-q", "--no-warnings", "-g"};
  if (!engine.cookies_path.empty()) {
    argv.push_back("--cookies");
    argv.push_back(engine.cookies_path);
  }
  // After "--" the page URL is a URL even when it starts with '-'.
  argv.push_back("--");
  argv.push_back(page_url);
  engine_log_printf(slot_number, true, "extracting %s using yt-dlp...",
                    quoted_argument(url_without_credentials(page_url)).c_str());
  const int code = launch(slot, argv);
  if (code != 0) {
    engine_log_printf(slot_number, true, "yt-dlp error %d", code);
    return code;
  }
  slot.input.reset();  // yt-dlp reads nothing
  slot.state = ChannelState::extract;
  slot.saved_request = std::make_unique<StartRequest>(request);  // a deep copy of the start
  return 0;
}

// The affinity mask of a slot: k processors per channel, the slots laid side by side and wrapped
// around the processors there are (32-bit arithmetic, as masks are 32 bits wide).
std::uint32_t affinity_mask(int slot_number, int cores_per_channel) {
  const std::uint32_t cores = static_cast<std::uint32_t>(cores_per_channel);
  const std::uint32_t ones = cores >= 32 ? 0xffffffffu : (1u << cores) - 1u;
  const std::uint32_t shift = (static_cast<std::uint32_t>(slot_number) * cores) %
                              static_cast<std::uint32_t>(logical_processor_count());
  return shift >= 32 ? 0u : ones << shift;
}

int launch_transcoder(int slot_number, ChannelSlot& slot, const StartRequest& request) {
  const EngineGlobals& engine = globals();
  // ffmpeg would end at once and the channel restart over and over; one refusal says why.
  slot.start_problem = output_folder_problem(request);
  if (!slot.start_problem.empty()) {
    engine_log_printf(slot_number, true, "error %d: %s", kErrorOutputFolderUnwritable,
                      slot.start_problem.c_str());
    return kErrorOutputFolderUnwritable;
  }
  CommandSettings settings;
  settings.slot = slot_number;
  settings.log_level = engine.log_level;
  settings.plugin_core_path = engine.plugin_core_path;
  settings.session_folder = engine.log_folder;
  settings.thumbnail_file = thumbnail_file(slot_number);
  std::string line;
  if (int code = build_command_line(request, settings, line); code != 0) {
    engine_log_printf(slot_number, true, "error %d", code);
    return code;
  }
  if (engine_log(slot_number, true, argument_line_without_credentials(line)) != 0 &&
      engine.log_level != 0) {
    engine_log_printf(slot_number, true, "error %d", kErrorLogUnwritable);
    return kErrorLogUnwritable;
  }
  const FailoverInputs failover = failover_inputs(request);
  if (!failover.standby_left_out.empty()) {
    engine_log_printf(slot_number, true, "%s not used: %s",
                      request.standby.empty() ? "switchOn is" : "the standby sources are",
                      failover.standby_left_out.c_str());
  }
  // A start while yt-dlp still runs (a second start in EXTRACT) replaces it: it must not be
  // left behind unreaped with its pipes gone.
  discard_process(slot);
  thumbnail_forget(slot_number);
  if (int code = launch(slot, {engine.transcoder_path}); code != 0) {
    engine_log_printf(slot_number, true, "error %d", code);
    return code;
  }
  slot.position_seconds = -1;
  slot.fps = -1;
  slot.bitrate_kbps = -1;
  slot.last_output_time = 0;
  ++slot.starts;
  slot.last_start_time = engine_now();
  slot.last_position_move = slot.last_start_time;
  slot.state = request.preview ? ChannelState::preview : ChannelState::running;
  slot.runs_failover = failover.runs;
  slot.standby_inputs = failover.standby;
  slot.slate_input = failover.slate;
  // Before the first line goes out: the transcoder starts its encoders only after reading it,
  // so they inherit the binding.
  if (engine.cores_per_channel > 0) {
    set_child_affinity(slot.pid, affinity_mask(slot_number, engine.cores_per_channel));
  }
  slot.pending_input.assign(kTranscoderToken);
  slot.pending_input.push_back(' ');
  slot.pending_input.append(line);
  slot.pending_input.push_back('\n');
  feed_pending_input(slot);
  return 0;
}

// ----- polling ----------------------------------------------------------------------------------

void read_extract_output(ChannelSlot& slot) {
  char buffer[4096];
  while (slot.output) {
    const long count = read_available(slot.output.get(), buffer, sizeof buffer);
    if (count <= 0) break;
    slot.extract_output.append(buffer, static_cast<std::size_t>(count));
  }
}

// yt-dlp prints one stream URL per line (picture, then sound, for sites that serve them apart)
// and, on failure, error texts that may quote the page URL: the lines that are a URL alone.
std::vector<std::string> stream_urls(std::string_view text) {
  std::vector<std::string> urls;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ')
      line.remove_prefix(1);
    if (contains(line, "://") && line.find_first_of(" \t") == std::string_view::npos) {
      urls.emplace_back(line);
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return urls;
}

// A second input would move the inputs that bound channels count by number, and a failover line
// has room for one primary input only (its standby sources and the slate follow it), so the sound
// joins only a channel that has neither.
bool takes_a_sound_input(const StartRequest& request) {
  return request.sources.size() == 1 && !failover_inputs(request).runs;
}

void finish_extraction(int slot_number, ChannelSlot& slot) {
  std::unique_ptr<StartRequest> request = std::move(slot.saved_request);
  std::string text = std::move(slot.extract_output);
  release_process(slot);
  if (text.empty()) {
    slot.state = ChannelState::idle;
    engine_log_printf(slot_number, true, "transcoding stopped (0x%08x)", slot.exit_code);
    return;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  engine_log_printf(slot_number, true, "yt-dlp output: %s",
                    text_without_url_credentials(text).c_str());
  const std::vector<std::string> urls = stream_urls(text);
  if (urls.empty() || !request || request->sources.empty()) {
    slot.state = ChannelState::idle;
    return;
  }
  request->sources.front().url = urls[0];
  if (urls.size() > 1) {
    if (takes_a_sound_input(*request)) {
      request->sources.front().sound_url = urls[1];
    } else {
      engine_log(slot_number, true,
                 "yt-dlp gave the sound apart; it is left out with bound channels, an "
                 "alternate input or standby sources");
    }
  }
  // The slot is still in EXTRACT, so this start skips the yt-dlp stage.
  if (engine_start_channel(slot_number, *request) < 0) slot.state = ChannelState::idle;
}

void poll_extraction(int slot_number, ChannelSlot& slot) {
  read_extract_output(slot);
  if (!child_has_ended(slot.pid, slot.exit_code)) return;
  read_extract_output(slot);  // what it printed just before it ended
  finish_extraction(slot_number, slot);
}

enum class OutputFlow { flowing, quiet, closed };

// Hands every waiting chunk to the parser. A read shorter than a chunk drained the pipe, so the
// common pass costs one read per slot.
OutputFlow pass_on_output(int slot_number, ChannelSlot& slot) {
  char buffer[kOutputChunk];
  OutputFlow flow = OutputFlow::quiet;
  while (slot.output) {
    const long count = read_available(slot.output.get(), buffer, sizeof buffer);
    if (count == 0) return OutputFlow::closed;
    if (count < 0) break;
    engine_parse_output(slot_number, std::string_view(buffer, static_cast<std::size_t>(count)));
    flow = OutputFlow::flowing;
    if (count < kOutputChunk) break;
  }
  return flow;
}

// A process that is still printing has not ended; it is asked when it falls quiet or closes its
// output, and at least once a second (its children may hold the output open after it ended).
bool transcoder_has_ended(ChannelSlot& slot, OutputFlow flow, std::int64_t now) {
  if (flow == OutputFlow::flowing && slot.last_end_check == now) return false;
  slot.last_end_check = now;
  return child_has_ended(slot.pid, slot.exit_code);
}

void kill_silent_transcoder(int slot_number, ChannelSlot& slot, std::int64_t now) {
  if (slot.last_output_time == 0 || now - slot.last_output_time <= kLivenessLimitSeconds) return;
  engine_log(slot_number, true, "channel seems to be hanging for over 30 secs, killing...");
  if (slot.state != ChannelState::idle) {
    signal_child_group(slot.pid, SIGKILL);
    slot.state = ChannelState::stopping;
    engine_log(slot_number, true, "stop transcoding forcedly");
  }
  // Fires again two seconds later unless output resumes.
  slot.last_output_time = now - (kLivenessLimitSeconds - 1);
}

void count_end(ChannelSlot& slot) {
  ++slot.ends;
  slot.last_transcoder_exit = slot.exit_code;
}

// Also ends a yt-dlp that was stopped while it resolved (its start is still saved then).
void poll_transcoder(int slot_number, ChannelSlot& slot, std::int64_t now) {
  feed_pending_input(slot);
  if (transcoder_has_ended(slot, pass_on_output(slot_number, slot), now)) {
    while (pass_on_output(slot_number, slot) == OutputFlow::flowing) {
    }  // the last words before it ended
    engine_end_output(slot_number);
    if (!slot.saved_request) count_end(slot);
    release_process(slot);
    thumbnail_forget(slot_number);
    slot.state = ChannelState::idle;
    slot.last_output_time = 0;
    engine_log_printf(slot_number, true, "transcoding stopped (0x%08x)", slot.exit_code);
    return;
  }
  kill_silent_transcoder(slot_number, slot, now);
  signal_watch_poll(slot_number, slot, now, globals().log_level);
}

void poll_slot(int slot_number, ChannelSlot& slot, std::int64_t now) {
  if (slot.state == ChannelState::idle) return;
  if (slot.state == ChannelState::extract) {
    poll_extraction(slot_number, slot);
  } else {
    poll_transcoder(slot_number, slot, now);
  }
}

void reset_slots() {
  for (int slot_number = 0; slot_number < kSlotCount; ++slot_number) {
    *engine_slot(slot_number) = ChannelSlot{};
  }
}

}  // namespace

bool engine_is_initialised() {
  return globals().initialised;
}

std::optional<std::int64_t> engine_first_initialised_at() {
  return globals().first_initialised_at;
}

int engine_init(const EngineSettings& settings) {
  EngineGlobals& engine = globals();
  if (engine.initialised) return 0;
  const std::string transcoder_folder = with_trailing_slash(
      settings.transcoder_folder.empty() ? module_folder() : settings.transcoder_folder);
  const std::string transcoder_path = transcoder_folder + std::string(kTranscoderFileName);
  if (!is_executable_file(transcoder_path)) return kErrorTranscoderMissing;
  if (!ffmpeg_is_available()) return kErrorFfmpegMissing;

  engine.transcoder_folder = transcoder_folder;
  engine.transcoder_path = transcoder_path;
  engine.log_folder =
      with_trailing_slash(settings.log_folder.empty() ? module_folder() : settings.log_folder);
  engine.plugin_core_path = settings.plugin_core_path;
  engine.cookies_path = settings.cookies_path;
  engine.cores_per_channel = settings.cores_per_channel;
  engine.log_level = settings.log_level;
  if (!engine.first_initialised_at) engine.first_initialised_at = engine_now();
  // Writes into a pipe whose reader has gone must fail, not end the program.
  ::signal(SIGPIPE, SIG_IGN);
  channel_log_open(engine.log_folder, engine.log_level);
  load_monitor_open();
  thumbnails_open();
  reset_slots();
  engine.initialised = true;
  return 0;
}

int engine_set_options(const EngineSettings& settings) {
  EngineGlobals& engine = globals();
  if (!engine.initialised) return engine_init(settings);
  engine.log_level = settings.log_level;
  engine.plugin_core_path = settings.plugin_core_path;
  engine.cookies_path = settings.cookies_path;
  channel_log_set_level(settings.log_level);
  return 0;
}

std::string output_folder_problem(const StartRequest& request) {
  for (const TargetGroup& group : request.groups) {
    for (const EngineTarget& target : group) {
      const bool written_here = target.format == FormatId::file || target.format == FormatId::hls ||
                                target.format == FormatId::dash;
      if (!written_here || target.url.empty() || target.url.front() != '/') continue;
      const std::filesystem::path folder = std::filesystem::path(target.url).parent_path();
      std::error_code error;
      std::filesystem::create_directories(folder, error);
      if (error) return "cannot make the folder " + folder.string() + ": " + error.message();
      if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "cannot write into the folder " + folder.string() + ": " + std::strerror(errno);
      }
    }
  }
  return {};
}

int engine_start_channel(int slot_number, const StartRequest& request) {
  const EngineGlobals& engine = globals();
  if (engine.initialised) {
    engine_log_printf(slot_number, true, "morv_linux_%dch_v%s start %s", kMaxChannels,
                      version_text(), request.preview ? "preview" : "transcoding");
  }
  if (!engine.initialised) return kErrorNotInitialised;
  ChannelSlot* slot = engine_slot(slot_number);
  if (slot == nullptr) {
    engine_log_printf(slot_number, true, "error %d", kErrorBadSlot);
    return kErrorBadSlot;
  }
  if (slot->state != ChannelState::idle && slot->state != ChannelState::extract) {
    engine_log_printf(slot_number, true, "error %d", kErrorSlotBusy);
    return kErrorSlotBusy;
  }
  if (!request.sources.empty() && request.sources.front().kind == FormatId::ytdlp &&
      slot->state != ChannelState::extract) {
    return launch_ytdlp(slot_number, *slot, request);
  }
  return launch_transcoder(slot_number, *slot, request);
}

void engine_stop_channel(int slot_number, StopMode mode) {
  ChannelSlot* slot = engine_slot(slot_number);
  if (slot == nullptr || slot->state == ChannelState::idle) return;
  if (mode == StopMode::orderly) {
    // A yt-dlp still resolving has nothing to finish, and an interrupt sent just after it
    // started was seen to go unheeded on a loaded machine (it then ran on for its whole
    // time-out), so it is ended at once.
    signal_child_group(slot->pid, slot->state == ChannelState::extract ? SIGKILL : SIGINT);
    engine_log(slot_number, true, "stop transcoding");
  } else {
    signal_child_group(slot->pid, SIGKILL);
    engine_log(slot_number, true, "stop transcoding forcedly");
  }
  slot->state = ChannelState::stopping;
}

void engine_poll_slots() {
  const std::int64_t now = engine_now();
  for (int slot_number = 0; slot_number < kSlotCount; ++slot_number) {
    poll_slot(slot_number, *engine_slot(slot_number), now);
  }
  load_monitor_sample(now);
  channel_history_sample(now);
}

void engine_shutdown() {
  EngineGlobals& engine = globals();
  if (!engine.initialised) return;
  engine.initialised = false;
  for (int slot_number = 0; slot_number < kSlotCount; ++slot_number) {
    ChannelSlot& slot = *engine_slot(slot_number);
    if (slot.state == ChannelState::running || slot.state == ChannelState::preview ||
        slot.state == ChannelState::no_signal) {
      signal_child_group(slot.pid, SIGINT);
      slot.state = ChannelState::stopping;
      engine_log(slot_number, true, "stop transcoding");
    }
  }
  // One budget of about three seconds for all slots together.
  int waits = 0;
  for (int slot_number = 0; slot_number < kSlotCount; ++slot_number) {
    while (engine_slot(slot_number)->state != ChannelState::idle && waits < kShutdownWaits) {
      std::this_thread::sleep_for(kShutdownWait);
      engine_poll_slots();
      ++waits;
    }
  }
  for (int slot_number = 0; slot_number < kSlotCount; ++slot_number) {
    ChannelSlot& slot = *engine_slot(slot_number);
    if (slot.state == ChannelState::idle) continue;
    slot.state = ChannelState::stopping;
    engine_log(slot_number, true, "stop transcoding forcedly");
    discard_process(slot);  // SIGKILL ends it at once; reaped, no zombie outlives the engine
  }
  reset_slots();
  channel_log_close();
  load_monitor_close();
  thumbnails_close();
}

}  // namespace vx
