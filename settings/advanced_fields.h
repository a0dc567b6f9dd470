// The advanced format and video settings as JSON fields: what each tab record holds, under the
// names the browser page knows them by, and the fields read back into the records. On top of
// that, the two translations the page asks the server for: a channel's option texts into the
// tabs' fields (load), and the tabs' fields into the channel's option texts (save). Nothing is
// stored; the records do all the work, exactly as behind the window's panels.
#pragma once

#include <cjson/cJSON.h>

#include <string>
#include <string_view>

#include "config/json.h"
#include "settings/advanced_format.h"
#include "settings/video_filter_tabs.h"

namespace vx {

// {"mpegtsInput": ..., "mpegtsOutput": ..., "rtmp": ..., "hls": ..., "srt": ..., "custom": ...}:
// every member of the six tabs, including which tabs and controls the loaded channel allows.
JsonPtr advanced_format_fields(const AdvancedFormatSettings& settings);
// Puts the editable members present in `fields` into the tabs; a member left out keeps its
// value, and what only a load decides (which tab applies, the SRT side) is never read. Returns
// "" or why the fields were refused (a member of the wrong type, a number out of its range).
std::string read_advanced_format_fields(const cJSON* fields, AdvancedFormatSettings& settings);

// {"encoder": ..., "cropPad": ..., "blurSharpen": ..., "overlay": ..., "misc": ...}.
JsonPtr advanced_video_fields(VideoSettingsTabs& tabs);
// The lists the video tabs offer for the loaded target: profiles, levels, thread counts, the
// preset slider's names, scan types and GPU decoders.
JsonPtr advanced_video_choices(VideoSettingsTabs& tabs);
std::string read_advanced_video_fields(const cJSON* fields, VideoSettingsTabs& tabs);

enum class AdvancedPanel { format, video };
// The format panel's table buttons are steps of their own: "Add" under the source streams
// (add_source_stream) and "Add Program" (add_program) add the row the window's panel adds to the
// tables the fields hold.
enum class AdvancedStep { load, save, add_source_stream, add_program };

struct AdvancedTranslation {
  bool ok = false;
  std::string text;  // ok: the JSON answer; otherwise the reason for refusing the body
};

// The body is {"channel": {...}, "target": n} (a load) or the same with "fields": {...} (a save
// and the format panel's add steps), from outside and of any shape. A load and an add step answer
// {"fields": {...}} (the video panel's load adds "choices"); a save answers {"channel": {...}} with the option texts rewritten (the video panel
// adds "warning": {"title", "text"} when the channel cannot carry a choice) or refuses with the
// tab's own message.
AdvancedTranslation translate_advanced_settings(AdvancedPanel panel, AdvancedStep step,
                                                std::string_view body);

}  // namespace vx
