// The engine proper: 32 channel slots, each running at most one transcoder process (or yt-dlp
// resolving a page URL first). Starts and stops come from any thread holding the core lock;
// the supervision tick polls every slot without ever blocking.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/channel_slot.h"
#include "vocabulary/channel_state.h"
#include "vocabulary/errors.h"
#include "vocabulary/records.h"

namespace vx {

struct EngineSettings {
  std::int32_t cores_per_channel = 0;  // 0: no processor affinity
  std::int32_t log_level = 0;          // 0: no channel logs and no "-v" option
  std::string transcoder_folder;       // empty: the program's folder
  std::string log_folder;              // empty: the program's folder
  std::string plugin_core_path;        // MainConcept plug-in core file, may be empty
  std::string cookies_path;            // browser cookies file for yt-dlp, may be empty
};

// 0, kErrorTranscoderMissing (no morvi-transcoder in the transcoder folder) or
// kErrorFfmpegMissing (no ffmpeg in MORVI_FFMPEG or on PATH); then the engine stays
// uninitialised. Calling it again once initialised changes nothing.
int engine_init(const EngineSettings& settings);

// Replaces the log level, the plug-in core path and the cookies file (empty texts clear them);
// initialises the engine when it is not yet.
int engine_set_options(const EngineSettings& settings);

bool engine_is_initialised();

// Engine clock seconds of the first successful engine_init(); none before it. A shutdown and a
// new start keep it.
std::optional<std::int64_t> engine_first_initialised_at();

// Starts a transcoder for the request in the slot (0 or a negative code; a failed start leaves
// the slot's state as it was). A first source of kind ytdlp first runs yt-dlp (state EXTRACT)
// and the transcoder follows from a later poll.
int engine_start_channel(int slot, const StartRequest& request);

// Why a target of `request` could not be written: the folder of a recording or playlist target
// given as a local path is made when it is missing, and must then take new files. "" when every
// one can. A refused start logs it, keeps it as the slot's start_problem and returns
// kErrorOutputFolderUnwritable.
std::string output_folder_problem(const StartRequest& request);

// Nothing for an idle or unknown slot. An orderly stop interrupts the transcoder (SIGINT) so it
// writes its trailers; a kill ends it at once. Either way the slot is stopping until the next
// poll sees the process gone.
void engine_stop_channel(int slot, StopMode mode);

// One pass over every slot: hands out output, notices ended processes, kills silent ones, and
// samples the load at most once a second.
void engine_poll_slots();

// Stops every slot (orderly, then by force after about three seconds in all) and releases the
// engine.
void engine_shutdown();

}  // namespace vx
