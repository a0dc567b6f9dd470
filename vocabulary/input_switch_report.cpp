#include "vocabulary/input_switch_report.h"

#include <algorithm>
#include <charconv>

#include "vocabulary/text_format.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

constexpr std::string_view kSwitchingTo = ", switching to ";
constexpr std::string_view kSwitchingBackFrom = ", switching back from ";
constexpr std::string_view kNoInputLeftText = ", no input left";
constexpr std::string_view kTimedOut = " timed out";
constexpr std::string_view kGoodFor = " good for ";
constexpr std::string_view kSecondsEnd = " s";

struct ReasonWord {
  SwitchReason reason;
  std::string_view word;  // as in "<from> black for S s"
  std::string_view label;
};

constexpr ReasonWord kReasons[] = {
    {SwitchReason::timed_out, "timed out", "timeout"},
    {SwitchReason::black, "black", "black"},
    {SwitchReason::silent, "silent", "silence"},
    {SwitchReason::frozen, "frozen", "frozen"},
    {SwitchReason::recovered, "good", "recovered"},
};

const ReasonWord& word_of(SwitchReason reason) {
  for (const ReasonWord& word : kReasons) {
    if (word.reason == reason) return word;
  }
  return kReasons[0];
}

// A whole number from 1 to `most`, nothing else.
std::optional<int> whole_number(std::string_view text, int most) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > most) {
    return std::nullopt;
  }
  return value;
}

std::optional<int> input_named(std::string_view name) {
  if (name == "primary") return kPrimaryInput;
  if (name == "the slate") return kSlateInput;
  constexpr std::string_view kStandby = "standby ";
  if (name.starts_with(kStandby)) {
    return whole_number(name.substr(kStandby.size()), kMaxStandbySources);
  }
  return std::nullopt;
}

// "S s" at the end of `text`, after `before`: the seconds.
std::optional<int> seconds_after(std::string_view text, std::string_view before) {
  if (!text.starts_with(before) || !text.ends_with(kSecondsEnd)) return std::nullopt;
  text.remove_prefix(before.size());
  text.remove_suffix(kSecondsEnd.size());
  return whole_number(text, 1'000'000);
}

// "<from> timed out" or "<from> black for S s" (silent, frozen).
std::optional<SwitchReport> failure_of(std::string_view cause) {
  SwitchReport report;
  if (cause.ends_with(kTimedOut)) {
    const std::optional<int> from = input_named(cause.substr(0, cause.size() - kTimedOut.size()));
    if (!from || *from == kSlateInput) return std::nullopt;
    report.from = *from;
    return report;
  }
  for (const ReasonWord& word : kReasons) {
    if (word.reason == SwitchReason::timed_out || word.reason == SwitchReason::recovered) continue;
    const std::string marker = " " + std::string(word.word) + " for ";
    const std::size_t at = cause.find(marker);
    if (at == std::string_view::npos) continue;
    const std::optional<int> from = input_named(cause.substr(0, at));
    const std::optional<int> seconds = seconds_after(cause.substr(at), marker);
    if (!from || *from == kSlateInput || !seconds) return std::nullopt;
    report.from = *from;
    report.reason = word.reason;
    report.seconds = *seconds;
    return report;
  }
  return std::nullopt;
}

}  // namespace

std::string input_name(int input) {
  if (input == kPrimaryInput) return "primary";
  if (input == kSlateInput) return "the slate";
  return "standby " + std::to_string(input);
}

std::string input_on_air_text(int input) {
  if (input == kPrimaryInput) return {};
  if (input == kSlateInput) return "NO SIGNAL";
  return "STANDBY " + std::to_string(input);
}

std::string input_label(int input) {
  if (input == kPrimaryInput) return "primary";
  if (input == kSlateInput) return "slate";
  return "standby" + std::to_string(input);
}

std::string_view switch_reason_label(SwitchReason reason) {
  return word_of(reason).label;
}

std::string switch_report_line(const SwitchReport& r) {
  if (r.from == kPrimaryInput && r.to == kSlateInput && r.reason == SwitchReason::timed_out) {
    return std::string(kPrimaryInputTimedOut);
  }
  if (r.from == kSlateInput && r.to == kPrimaryInput && r.reason == SwitchReason::recovered) {
    return std::string(kPrimaryInputBack);
  }
  const std::string seconds = " for " + std::to_string(r.seconds) + " s";
  if (r.reason == SwitchReason::recovered) {
    return input_name(r.to) + std::string(kGoodFor) + std::to_string(r.seconds) + " s" +
           std::string(kSwitchingBackFrom) + input_name(r.from);
  }
  std::string line = input_name(r.from);
  line += r.reason == SwitchReason::timed_out ? std::string(kTimedOut)
                                               : " " + std::string(word_of(r.reason).word) + seconds;
  if (r.to == kNoInputLeft) return line + std::string(kNoInputLeftText);
  return line + std::string(kSwitchingTo) + input_name(r.to);
}

bool may_be_switch_report(std::string_view start) {
  // "standby 4 good for 1000000 s, switching back from standby 3" and a little room.
  constexpr std::size_t kLongestReport = 80;
  if (start.size() > kLongestReport) return false;
  const bool begins = std::string_view("primary ").starts_with(start.substr(0, 8)) ||
                      std::string_view("standby ").starts_with(start.substr(0, 8));
  return begins && std::all_of(start.begin(), start.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == ',';
         });
}

std::optional<SwitchReport> parse_switch_report(std::string_view line) {
  line = without_blanks(line);
  if (line == kPrimaryInputTimedOut) return SwitchReport{kPrimaryInput, kSlateInput};
  if (line == kPrimaryInputBack) {
    return SwitchReport{kSlateInput, kPrimaryInput, SwitchReason::recovered, 0};
  }
  if (const std::size_t at = line.find(kSwitchingBackFrom); at != std::string_view::npos) {
    const std::string_view good = line.substr(0, at);
    const std::size_t mark = good.find(kGoodFor);
    if (mark == std::string_view::npos) return std::nullopt;
    const std::optional<int> to = input_named(good.substr(0, mark));
    const std::optional<int> seconds = seconds_after(good.substr(mark), kGoodFor);
    const std::optional<int> from = input_named(line.substr(at + kSwitchingBackFrom.size()));
    if (!to || !seconds || !from || *to == kSlateInput || *to == *from) return std::nullopt;
    return SwitchReport{*from, *to, SwitchReason::recovered, *seconds};
  }
  std::optional<int> to;
  std::size_t at = line.find(kSwitchingTo);
  if (at != std::string_view::npos) {
    to = input_named(line.substr(at + kSwitchingTo.size()));
  } else if (line.ends_with(kNoInputLeftText)) {
    at = line.size() - kNoInputLeftText.size();
    to = kNoInputLeft;
  }
  if (!to) return std::nullopt;
  std::optional<SwitchReport> report = failure_of(line.substr(0, at));
  if (!report || report->from == *to) return std::nullopt;
  report->to = *to;
  return report;
}

}  // namespace vx
