// A channel's live standby sources ("input.standby") and what its input is watched for besides a
// timeout ("input.switchOn"): what may stand there, and how the channel compiler reads them. A
// configuration post and the window's Apply are refused with the texts; a file that holds such a
// channel is loaded as it is, the operator is told, and the engine uses what it can.
//
//   "input": {"sources": [...],
//             "standby": [{"url", "format", "video": {"options": [...]}}, ...],   at most 4
//             "switchOn": {"black": S, "silence": S, "frozen": S}}   whole seconds, 0 is off
#pragma once

#include <cjson/cJSON.h>

#include <string>

#include "vocabulary/records.h"

namespace vx {

// What keeps one standby source (an entry of "input.standby") from being opened: "" when it can
// be, else the reason ("has no URL", "cannot be native RTP ..."), to follow "standby source K ".
// Control characters in its URL are config/text_check's.
std::string standby_source_problem(const cJSON* source);

// The first thing wrong with the channel's standby sources or switchOn, named as channel
// `number` (from 1): not a list or too many, an entry standby_source_problem refuses, a switchOn
// value that is not whole seconds from 0 to 3600, and, when it has standby sources or switchOn,
// a target that copies a codec (the failover decodes and encodes) or bound channels (more than
// one source entry). "" when there is none.
std::string channel_standby_problem(const cJSON* channel, int number);
// The same for the first channel of the document that has one.
std::string standby_problem(const cJSON* document);

// The channel's switchOn as the engine runs it: a value that is not whole seconds from 0 to
// 3600 is off.
SwitchOnLimits switch_on_limits(const cJSON* channel);

}  // namespace vx
