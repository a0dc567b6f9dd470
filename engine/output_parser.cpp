#include "engine/output_parser.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <optional>
#include <string>

#include "engine/channel_log.h"
#include "engine/channel_slot.h"
#include "engine/engine_clock.h"
#include "engine/signal_watch.h"
#include "platform/process.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

std::atomic<EngineOutputCallback> output_callback{nullptr};

// Reads a decimal integer at the start of the text (blanks skipped, saturated at the 32-bit
// limits) and drops it from the text; false, with the text unchanged, when none is there.
bool take_int(std::string_view& text, std::int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size() || text[i] < '0' || text[i] > '9') return false;
  std::int64_t number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = std::min<std::int64_t>(number * 10 + (text[i] - '0'),
                                    std::numeric_limits<std::int32_t>::max());
  }
  value = static_cast<std::int32_t>(negative ? -number : number);
  text.remove_prefix(i);
  return true;
}

bool read_int(std::string_view text, std::int32_t& value) {
  return take_int(text, value);
}

// "01:02:05.32": hours, minutes and seconds; the fraction is ignored.
bool read_clock_time(std::string_view text, std::int32_t& seconds) {
  text = text.substr(0, std::min<std::size_t>(text.find_first_of(". \t\r\n"), 99));
  std::int32_t hours = 0, minutes = 0, secs = 0;
  auto take_colon = [&text] {
    if (text.empty() || text.front() != ':') return false;
    text.remove_prefix(1);
    return true;
  };
  if (!take_int(text, hours) || !take_colon() || !take_int(text, minutes) || !take_colon() ||
      !take_int(text, secs)) {
    return false;
  }
  const std::int64_t total = std::int64_t{hours} * 3600 + std::int64_t{minutes} * 60 + secs;
  seconds = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      total, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  return true;
}

std::string_view after(std::string_view text, std::string_view marker) {
  const std::size_t at = text.find(marker);
  return at == std::string_view::npos ? std::string_view() : text.substr(at + marker.size());
}

void record_progress(int slot_number, ChannelSlot& slot, std::string_view chunk) {
  const std::size_t time_at = chunk.find(kProgressTime);
  if (time_at == std::string_view::npos) return;
  std::int32_t position = 0;
  if (read_clock_time(chunk.substr(time_at + kProgressTime.size()), position)) {
    signal_watch_position(slot_number, slot, position, engine_now());
  }
  if (contains(chunk, kProgressFps)) read_int(after(chunk, kProgressFps), slot.fps);
  if (contains(chunk, kProgressBitrate))
    read_int(after(chunk, kProgressBitrate), slot.bitrate_kbps);
}

// Longer lines are none of the transcoder's own: a URL and a reason fit many times over.
constexpr std::size_t kMaxOwnLine = 4096;

// The lines the transcoder writes itself, as against what ffmpeg prints: those with its prefix,
// and the reports of the failover's switch, which stand alone on their lines
// (vocabulary/input_switch_report.h). Whether the start of a line may still be, or already is,
// one of them.
bool may_be_own_line(std::string_view start) {
  return kOwnLinePrefix.starts_with(start.substr(0, kOwnLinePrefix.size())) ||
         may_be_switch_report(start);
}

bool is_own_line(std::string_view line) {
  return line.starts_with(kOwnLinePrefix) || parse_switch_report(line).has_value();
}

std::size_t leading_digits(std::string_view text) {
  std::size_t count = 0;
  while (count < text.size() && text[count] >= '0' && text[count] <= '9')
    ++count;
  return count;
}

// The number at the start of the text (digits only, saturated at `limit`), dropped from the text;
// 0 when there is none.
std::int32_t take_number(std::string_view& text, std::int32_t limit) {
  const std::size_t digits = leading_digits(text);
  std::int64_t number = 0;
  for (std::size_t k = 0; k < digits; ++k)
    number = std::min<std::int64_t>(number * 10 + (text[k] - '0'), limit);
  text.remove_prefix(digits);
  return static_cast<std::int32_t>(number);
}

// The rest of a viewer report after the target's number; false when it is none.
bool read_viewer_count(std::string_view rest, std::int32_t& viewers) {
  if (!rest.starts_with(kTargetViewers)) return false;
  rest.remove_prefix(kTargetViewers.size());
  if (rest.empty() || leading_digits(rest) != rest.size()) return false;
  viewers = take_number(rest, std::numeric_limits<std::int32_t>::max());
  return true;
}

// One whole line; a report of a target outside 1..kMaxChannelTargets, a state change of one never
// announced, or a report in a form other than the four is ignored. Returns whether the line is a
// viewer report, which is kept out of the log.
bool read_target_line(ChannelSlot& slot, std::string_view line) {
  if (!line.starts_with(kTargetLinePrefix)) return false;
  line.remove_prefix(kTargetLinePrefix.size());
  if (leading_digits(line) == 0) return false;
  const std::int32_t number = take_number(line, 1000);
  const bool known_number = number >= 1 && number <= kMaxChannelTargets;
  const std::size_t index = static_cast<std::size_t>(known_number ? number - 1 : 0);
  if (std::int32_t viewers = 0; read_viewer_count(line, viewers)) {
    if (known_number) slot.served_viewers[index] = viewers;
    return true;
  }
  if (!known_number) return false;
  std::optional<TargetState>& target = slot.relayed_targets[index];
  const bool closed = line.ends_with(')');
  if (line.starts_with(kTargetRelayed) && closed) {
    target = TargetState::on_air;
  } else if (line.starts_with(kTargetLost) && contains(line, "): ") && target) {
    target = TargetState::lost;
  } else if (line.starts_with(kTargetBack) && closed && target) {
    target = TargetState::on_air;
  }
  return false;
}

// What of the output goes to the log, in order: ffmpeg's text as it came (progress lines end in a
// carriage return), the transcoder's own lines each time-stamped on a line of its own, so that an
// operator finds them by their time and a search finds them whole.
class OutputLog {
 public:
  explicit OutputLog(int slot_number) : slot_number_(slot_number) {}
  ~OutputLog() { flush(); }
  OutputLog(const OutputLog&) = delete;
  OutputLog& operator=(const OutputLog&) = delete;

  void add_text(std::string_view text) {
    raw_.append(text);
    as_written_.append(text);
  }
  void add_own_line(std::string_view line) {
    flush();
    engine_log(slot_number_, true, line);
  }
  // Everything but the transcoder's own lines and the viewer reports, for the progress figures.
  const std::string& ffmpeg_text() const { return as_written_; }

 private:
  void flush() {
    if (!raw_.empty()) engine_log(slot_number_, false, raw_);
    raw_.clear();
  }

  int slot_number_;
  std::string raw_;
  std::string as_written_;
};

// A whole line that may be the transcoder's own: a viewer report is read and dropped, another own
// line is read and logged on its own; a line that only began like one is ffmpeg's text.
void take_whole_line(ChannelSlot& slot, std::string_view line, std::string_view ending,
                     OutputLog& log) {
  if (!is_own_line(line)) {
    log.add_text(line);
    log.add_text(ending);
  } else if (!read_target_line(slot, line)) {
    log.add_own_line(line);
    if (const std::optional<SwitchReport> report = parse_switch_report(line)) {
      signal_watch_switch(slot, *report);
    }
  }
}

// Cuts the chunks into lines ("\n" or "\r" ends one). A line that may be the transcoder's own is
// held until it ends (or grows too long to be one); the rest of any other line is passed on as it
// comes, without a copy into the slot.
void take_output_lines(ChannelSlot& slot, std::string_view chunk, OutputLog& log) {
  while (!chunk.empty()) {
    const std::size_t end = chunk.find_first_of("\r\n");
    const std::string_view piece = chunk.substr(0, end);
    const bool line_ends = end != std::string_view::npos;
    const std::string_view ending = line_ends ? chunk.substr(end, 1) : std::string_view();
    if (!slot.skipping_line && slot.unfinished_line.size() + piece.size() > kMaxOwnLine) {
      log.add_text(slot.unfinished_line);
      slot.unfinished_line.clear();
      slot.skipping_line = true;
    }
    if (slot.skipping_line) {
      log.add_text(piece);
      log.add_text(ending);
    } else {
      slot.unfinished_line.append(piece);
      if (!may_be_own_line(slot.unfinished_line)) {
        log.add_text(slot.unfinished_line);
        log.add_text(ending);
        slot.skipping_line = !line_ends;
      } else if (line_ends) {
        take_whole_line(slot, slot.unfinished_line, ending, log);
      }
      if (slot.skipping_line || line_ends) slot.unfinished_line.clear();
    }
    slot.holding_line = !slot.unfinished_line.empty();
    if (!line_ends) break;
    slot.skipping_line = false;
    chunk.remove_prefix(end + 1);
  }
}

}  // namespace

void engine_set_output_callback(EngineOutputCallback callback) {
  output_callback.store(callback);
}

void engine_parse_output(int slot_number, std::string_view chunk) {
  ChannelSlot* slot = engine_slot(slot_number);
  // Viewer reports go neither to the log nor to the progress figures: viewers come and go all
  // day, the log is for the events an operator reads, and a busy stream would fill it.
  if (slot == nullptr) {
    engine_log(slot_number, false, chunk);
  } else {
    slot->last_output_time = engine_now();
    OutputLog log(slot_number);
    take_output_lines(*slot, chunk, log);
    record_progress(slot_number, *slot, log.ffmpeg_text());
  }
  if (slot != nullptr && slot->state != ChannelState::idle &&
      (contains(chunk, kNoBufferedAudio) || contains(chunk, kVideoFrameFreezing))) {
    // Supervision restarts the channel once it has ended.
    signal_child_group(slot->pid, SIGINT);
    slot->state = ChannelState::stopping;
    engine_log(slot_number, true, "stop transcoding");
  }
  if (EngineOutputCallback callback = output_callback.load()) callback(slot_number, chunk);
}

void engine_end_output(int slot_number) {
  ChannelSlot* slot = engine_slot(slot_number);
  if (slot == nullptr || !slot->holding_line) return;
  engine_log(slot_number, is_own_line(slot->unfinished_line), slot->unfinished_line);
  slot->unfinished_line.clear();
  slot->holding_line = false;
}

}  // namespace vx
