// The only road from the configuration document into the engine: one configured channel (with
// the channels bound to it) becomes the engine records of one start. It also rewrites the target
// URLs the system owns (HTTP ports, RTMP credentials, time-stamped recordings), folds several HLS
// targets into one multi-bit-rate output, and offers the browser preview and the stop.
#pragma once

#include <cjson/cJSON.h>

#include <string>

#include "config/served_output.h"
#include "engine/channel_status.h"
#include "engine/engine.h"
#include "vocabulary/channel_state.h"
#include "vocabulary/errors.h"
#include "vocabulary/records.h"

namespace vx {

// The records for channel `channel` (0-based) of the document, without starting anything.
// Folder sources rebuild the channel's playlist. Returns 0 or a negative code.
int compile_channel(const cJSON* document, int channel, StartRequest& request);

// Sets every channel's playlist up from the configuration after each load and import: its
// playlist file under the configuration folder, its folder source and the folder flags. Called
// once at start-up, before the first load.
void attach_folder_playlists_to_config();

// The engine settings the "global" object names: the log level ("log"), the MainConcept plug-in
// core ("omxPath") and yt-dlp's cookies file ("ytdlpPath"); the rest stay at their zero values.
EngineSettings engine_settings_of(const cJSON* global);

// Compiles the channel and starts it in slot `channel`.
int compile_and_start_channel(const cJSON* document, int channel);

// The browser preview of the channel (HTML5, over TLS when the web server uses it) in slot
// `channel`, served on the channel's own served port: the slot runs the channel or its preview,
// never both, so no channel's output can hold that port while the preview runs.
int start_channel_preview(const cJSON* document, int channel);
// The preview's records, without starting anything.
int compile_channel_preview(const cJSON* document, int channel, StartRequest& request);

// What the channel status reads of `channel`, the channel's object in the configuration (may be
// null): its "bind", whether its "output.timeShift" is a non-zero scalar, and its first source's
// URL.
ChannelStatusSettings channel_status_settings(const cJSON* channel);

// Whether the channel's first source names a folder that exists: it plays the folder's files as
// a list, and a file that ends moves it on to the next at once.
bool channel_plays_a_folder(const cJSON* channel);

// Stops the slot of channel `channel` (its time-shift companion first when "timeShift" is a
// non-zero scalar).
void stop_compiled_channel(const cJSON* document, int channel, StopMode mode);

// Destination URL and muxer options of one of the compiled channel's own targets.
void build_target_options(const cJSON* document, int channel, const cJSON* output,
                          const cJSON* target, EngineTarget& record);

// Several HLS targets become one output "%v.m3u8" with a variant stream map; the groups before
// the last only contribute their encoder settings.
void apply_multibitrate_hls(std::vector<TargetGroup>& groups);

}  // namespace vx
