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
#include "platform/process.h"
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

void record_progress(ChannelSlot& slot, std::string_view chunk) {
  const std::size_t time_at = chunk.find(kProgressTime);
  if (time_at == std::string_view::npos) return;
  std::int32_t position = 0;
  if (read_clock_time(chunk.substr(time_at + kProgressTime.size()), position)) {
    slot.position_seconds = position;
  }
  if (contains(chunk, kProgressFps)) read_int(after(chunk, kProgressFps), slot.fps);
  if (contains(chunk, kProgressBitrate))
    read_int(after(chunk, kProgressBitrate), slot.bitrate_kbps);
}

// Longer lines are no target report the engine takes: a URL and a reason fit many times over.
constexpr std::size_t kMaxTargetLine = 4096;

// Whether the start of a line may still grow into a target report.
bool may_be_target_line(std::string_view start) {
  return kTargetLinePrefix.starts_with(start.substr(0, kTargetLinePrefix.size()));
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

// Whether the line so far is, or may still grow into, a viewer report: the prefix, the target's
// number, the word, the count.
bool may_be_viewer_line(std::string_view line) {
  if (!may_be_target_line(line)) return false;
  if (line.size() <= kTargetLinePrefix.size()) return true;
  line.remove_prefix(kTargetLinePrefix.size());
  const std::size_t number = leading_digits(line);
  if (number == 0) return false;
  line.remove_prefix(number);
  if (line.size() <= kTargetViewers.size()) return kTargetViewers.starts_with(line);
  if (!line.starts_with(kTargetViewers)) return false;
  line.remove_prefix(kTargetViewers.size());
  return leading_digits(line) == line.size();
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

// One piece of the current line, `ends` when the line ends after it. Appends to `kept` what of the
// line may go on to the log now; returns false when the line is a viewer report or is held back.
bool take_line_piece(ChannelSlot& slot, std::string_view piece, bool ends, std::string& kept) {
  const bool was_held = slot.holding_line;
  bool appended = false;
  std::string_view line = piece;
  if (!slot.unfinished_line.empty() || !ends) {
    if (slot.unfinished_line.size() + piece.size() > kMaxTargetLine) {
      slot.skipping_line = true;
    } else {
      slot.unfinished_line.append(piece);
      appended = true;
      line = slot.unfinished_line;
      if (!may_be_target_line(line)) slot.skipping_line = true;
    }
  }
  const bool viewer_report = !slot.skipping_line && ends && read_target_line(slot, line);
  slot.holding_line = !slot.skipping_line && !ends && may_be_viewer_line(line);
  if (!viewer_report && !slot.holding_line) {
    if (was_held) kept.append(slot.unfinished_line);
    if (!was_held || !appended) kept.append(piece);
  }
  if (slot.skipping_line) slot.unfinished_line.clear();
  return !viewer_report && !slot.holding_line;
}

// Cuts the chunks into lines ("\n" or "\r" ends one) and reads the target reports; returns the
// chunk without its viewer reports. Only a line that may be a target report is carried over to
// the next chunk; the rest of any other line is passed on without a copy into the slot.
std::string take_target_lines(ChannelSlot& slot, std::string_view chunk) {
  std::string kept;
  kept.reserve(chunk.size());
  while (!chunk.empty()) {
    const std::size_t end = chunk.find_first_of("\r\n");
    const std::string_view piece = chunk.substr(0, end);
    const bool line_ends = end != std::string_view::npos;
    const std::string_view ending = line_ends ? chunk.substr(end, 1) : std::string_view();
    if (slot.skipping_line) {
      kept.append(piece).append(ending);
    } else if (take_line_piece(slot, piece, line_ends, kept)) {
      kept.append(ending);
    }
    if (!line_ends) break;
    slot.unfinished_line.clear();
    slot.skipping_line = false;
    chunk.remove_prefix(end + 1);
  }
  return kept;
}

// Whether the failover leaves its alternate input on air after the chunk: the latest of its two
// texts tells; nullopt when the chunk holds neither.
std::optional<bool> alternate_on_air_after(std::string_view chunk) {
  const std::size_t away = chunk.rfind(kPrimaryInputTimedOut);
  const std::size_t back = chunk.rfind(kPrimaryInputBack);
  if (away == std::string_view::npos && back == std::string_view::npos) return std::nullopt;
  return back == std::string_view::npos || (away != std::string_view::npos && away > back);
}

}  // namespace

void engine_set_output_callback(EngineOutputCallback callback) {
  output_callback.store(callback);
}

void engine_parse_output(int slot_number, std::string_view chunk) {
  ChannelSlot* slot = engine_slot(slot_number);
  // Viewer reports go neither to the log nor to the progress figures: viewers come and go all
  // day, the log is for the events an operator reads, and a busy stream would fill it.
  std::string kept;
  std::string_view passed_on = chunk;
  const std::optional<bool> alternate = alternate_on_air_after(chunk);
  if (slot != nullptr) {
    slot->last_output_time = engine_now();
    kept = take_target_lines(*slot, chunk);
    passed_on = kept;
    record_progress(*slot, passed_on);
    if (alternate) slot->on_alternate_input = *alternate;
  }
  if (!passed_on.empty()) engine_log(slot_number, false, passed_on);
  if (slot != nullptr && slot->state != ChannelState::idle &&
      (contains(chunk, kNoBufferedAudio) || contains(chunk, kVideoFrameFreezing))) {
    // Supervision restarts the channel once it has ended.
    signal_child_group(slot->pid, SIGINT);
    slot->state = ChannelState::stopping;
    engine_log(slot_number, true, "stop transcoding");
  }
  if (slot != nullptr && alternate) {
    if (slot->state == ChannelState::running && *alternate) {
      slot->state = ChannelState::no_signal;
    } else if (slot->state == ChannelState::no_signal && !*alternate) {
      slot->state = ChannelState::running;
    }
  }
  if (EngineOutputCallback callback = output_callback.load()) callback(slot_number, chunk);
}

void engine_end_output(int slot_number) {
  ChannelSlot* slot = engine_slot(slot_number);
  if (slot == nullptr || !slot->holding_line) return;
  engine_log(slot_number, false, slot->unfinished_line);
  slot->unfinished_line.clear();
  slot->holding_line = false;
}

}  // namespace vx
