// Which configured texts may not hold control bytes (below 0x20, and 0x7f): the URLs, paths and
// names that the engine hands to the transcoder, to yt-dlp and to session descriptions, and the
// channels' names. A line feed in one of them is never what the operator meant, and it would be
// hard to see in any dialog or log.
#pragma once

#include <cjson/cJSON.h>

#include <string>

namespace vx {

// The first such text of the document, named by its channel (from 1) or "global" and its key
// ("channel 2 output.targets[1].url holds a control character (0x0a)"); "" when there is none.
std::string control_character_problem(const cJSON* document);
// The same for the document's "global" texts alone.
std::string global_control_character_problem(const cJSON* document);
// The same for one channel, named as channel `number` (from 1).
std::string channel_control_character_problem(const cJSON* channel, int number);

}  // namespace vx
