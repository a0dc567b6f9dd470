// Which targets a channel may not hold together or at all with the ffmpeg this system runs: a
// codec the container of its target's format cannot carry (it would run and deliver nothing a
// player decodes, or restart for ever), and DASH targets that would overwrite each other's
// segments. A configuration post and the window's Apply are refused with the text; a file that
// holds such a channel is loaded as it is and the operator is told.
#pragma once

#include <cjson/cJSON.h>

#include <string>

namespace vx {

// The first such problem of the document, named by its channel (from 1) and target (from 1):
// "channel 3: the video codec "av1" cannot be carried in MPEG-TS (target 2)"; "" when none.
std::string target_mix_problem(const cJSON* document);
// The same for one channel, named as channel `number` (from 1).
std::string channel_target_mix_problem(const cJSON* channel, int number);

}  // namespace vx
