// The checks a configuration passes before it replaces the one in force, whoever brings it: a
// document posted to the web administration and a channel applied in the window's editor both
// come here, so both are refused for the same reasons with the same words. A file loaded at
// start is not refused: it is loaded as it is, and its problems are reported.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <vector>

namespace vx {

struct DocumentRefusal {
  int status = 400;  // 409 when the document is fine but conflicts with what runs now
  std::string reason;
};

// Why `proposed` may not replace `current`, or nullopt when it may. `busy[i]` tells whether
// channel i (from 0) of `current` is not idle now; missing entries count as idle. In order:
// - a channel that is not idle is neither removed nor renumbered (409): when the proposed list
//   is shorter, every channel from the first one that is not exactly as before (its run mark
//   "enable" included, so a running channel differs from an idle twin) moves or goes, so each
//   of them must be idle; and a busy channel found unchanged at another place was moved;
// - control characters in the "global" texts the engine hands on (config/text_check);
// - per channel (named from 1): a bind to no channel or to the channel itself; then, for a
//   channel that is not exactly as stored at its place, control characters, a first target
//   whose format keeps one target while the channel lists more (format_takes_several_targets)
//   the target mixes this ffmpeg cannot run (config/target_mix) and its standby sources and
//   switchOn (config/standby_sources). A channel left as it is
//   stays acceptable, so a problem loaded from a file (reported then) blocks only its own edits.
std::optional<DocumentRefusal> document_refusal(const cJSON* proposed, const cJSON* current,
                                                const std::vector<bool>& busy);

// The first of those checks alone, for a change that only removes channels (the window's
// Remove): a channel that is not idle is neither removed nor renumbered.
std::optional<DocumentRefusal> running_channel_refusal(const cJSON* proposed,
                                                       const cJSON* current,
                                                       const std::vector<bool>& busy);

// Whether channel `number` (from 1) of a list of `count` may be bound to `bind`; 0 or less is
// no bind at all.
bool bind_is_valid(int bind, int number, int count);

}  // namespace vx
