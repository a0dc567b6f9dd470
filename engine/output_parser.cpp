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

// The target's number right after the prefix: digits only, at least one; 0 when there is none.
std::int32_t take_target_number(std::string_view& text) {
  std::size_t digits = 0;
  std::int32_t number = 0;
  for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits)
    number = std::min(number * 10 + (text[digits] - '0'), 1000);
  text.remove_prefix(digits);
  return number;
}

// One whole line; a report of a target outside 1..kMaxChannelTargets, of one never announced, or
// in a form other than the three is ignored.
void read_target_line(ChannelSlot& slot, std::string_view line) {
  if (!line.starts_with(kTargetLinePrefix)) return;
  line.remove_prefix(kTargetLinePrefix.size());
  const std::int32_t number = take_target_number(line);
  if (number < 1 || number > kMaxChannelTargets) return;
  std::optional<TargetState>& target = slot.relayed_targets[static_cast<std::size_t>(number - 1)];
  const bool closed = line.ends_with(')');
  if (line.starts_with(kTargetRelayed) && closed) {
    target = TargetState::on_air;
  } else if (line.starts_with(kTargetLost) && contains(line, "): ") && target) {
    target = TargetState::lost;
  } else if (line.starts_with(kTargetBack) && closed && target) {
    target = TargetState::on_air;
  }
}

// Cuts the chunks into lines ("\n" or "\r" ends one). Only a line that may be a target report
// is carried over to the next chunk; the rest of any other line is skipped without a copy.
void record_target_lines(ChannelSlot& slot, std::string_view chunk) {
  while (!chunk.empty()) {
    const std::size_t end = chunk.find_first_of("\r\n");
    const std::string_view piece = chunk.substr(0, end);
    const bool line_ends = end != std::string_view::npos;
    if (!slot.skipping_line) {
      if (slot.unfinished_line.empty() && line_ends) {
        read_target_line(slot, piece);
      } else if (slot.unfinished_line.size() + piece.size() > kMaxTargetLine) {
        slot.skipping_line = true;
      } else {
        slot.unfinished_line.append(piece);
        if (!may_be_target_line(slot.unfinished_line)) {
          slot.skipping_line = true;
        } else if (line_ends) {
          read_target_line(slot, slot.unfinished_line);
        }
      }
      if (slot.skipping_line) slot.unfinished_line.clear();
    }
    if (!line_ends) return;
    slot.unfinished_line.clear();
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
  if (slot != nullptr) {
    slot->last_output_time = engine_now();
    record_progress(*slot, chunk);
    record_target_lines(*slot, chunk);
  }
  engine_log(slot_number, false, chunk);
  if (slot != nullptr && slot->state != ChannelState::idle &&
      (contains(chunk, kNoBufferedAudio) || contains(chunk, kVideoFrameFreezing))) {
    // Supervision restarts the channel once it has ended.
    signal_child_group(slot->pid, SIGINT);
    slot->state = ChannelState::stopping;
    engine_log(slot_number, true, "stop transcoding");
  }
  if (slot != nullptr) {
    if (slot->state == ChannelState::running && contains(chunk, kPrimaryInputTimedOut)) {
      slot->state = ChannelState::no_signal;
    } else if (slot->state == ChannelState::no_signal && contains(chunk, kPrimaryInputBack)) {
      slot->state = ChannelState::running;
    }
  }
  if (EngineOutputCallback callback = output_callback.load()) callback(slot_number, chunk);
}

}  // namespace vx
