// The input switch of a failover line and the engine agree here on how a switch is told: which
// inputs there are (the primary, up to four standby sources, the slate), why the switch went, and
// the one line the transcoder writes for it, which the engine reads back for the status, the
// channel log and the metrics.
//
//   "<from> timed out, switching to <to>"          no pictures for the timeout
//   "<from> black for S s, switching to <to>"      also "silent for S s", "frozen for S s"
//   "<to> good for S s, switching back from <from>"
//   "<from> timed out, no input left"              no slate: the channel ends
//
// <from> and <to> are "primary", "standby K" or "the slate". The primary's own switches to and
// from the slate keep their old texts (kPrimaryInputTimedOut, kPrimaryInputBack), so a channel
// without standby sources reads as it always has.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

inline constexpr int kPrimaryInput = 0;
inline constexpr int kSlateInput = -1;   // the global alternate input, or the test picture
inline constexpr int kNoInputLeft = -2;  // only as the destination of a last failure
inline constexpr int kMaxStandbySources = 4;
// The most seconds a channel's "switchOn" may wait on a black, silent or frozen input before the
// next input goes on air (whole seconds; 0 is off).
inline constexpr int kMaxSwitchOnSeconds = 3600;

enum class SwitchReason { timed_out, black, silent, frozen, recovered };
// How many reasons there are, for tables indexed by a reason's value (0 to this - 1).
inline constexpr std::size_t kSwitchReasonCount = 5;

struct SwitchReport {
  int from = kPrimaryInput;  // kPrimaryInput, 1..kMaxStandbySources or kSlateInput
  int to = kSlateInput;      // the same, or kNoInputLeft
  SwitchReason reason = SwitchReason::timed_out;
  int seconds = 0;  // how long it was black, silent, frozen, or good again; 0 for a timeout

  bool operator==(const SwitchReport&) const = default;
};

// "primary", "standby K", "the slate".
std::string input_name(int input);
// What a status line shows for the input on air: "" for the primary, "STANDBY K", "NO SIGNAL".
std::string input_on_air_text(int input);
// The metrics' label of an input: "primary", "standbyK", "slate".
std::string input_label(int input);
// The metrics' label of a reason: "timeout", "black", "silence", "frozen", "recovered".
std::string_view switch_reason_label(SwitchReason reason);

// The report's line, without a line end.
std::string switch_report_line(const SwitchReport& report);
// The report a line holds (leading and trailing blanks and line ends are ignored), or nullopt.
std::optional<SwitchReport> parse_switch_report(std::string_view line);
// Whether a line that begins with `start` may still turn out to be a report: it begins (or is the
// beginning of) "primary " or "standby ", holds only what reports hold (small letters, digits,
// blanks, commas) and is no longer than the longest one. A reader may hold such a line back
// until it ends; anything else is ffmpeg's text at once.
bool may_be_switch_report(std::string_view start);

}  // namespace vx
