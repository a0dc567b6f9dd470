// Which encoders the ffmpeg in use has, so that a line asking for a missing one is refused with a
// clear line. ffmpeg is asked once per binary ("ffmpeg -encoders", bounded in time); the answer
// is kept in the user's cache folder, keyed by the binary's resolved path, size and modification
// time, so that a channel's start costs no extra process.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>

namespace vx {

inline constexpr std::chrono::seconds kEncoderListLimit{3};

// The encoders of `ffmpeg` (a path, or a name looked up on PATH); empty when it cannot be asked
// (after one line that says so when it gave no answer in time): then nothing is checked.
std::set<std::string> ffmpeg_encoders(const std::string& ffmpeg);

// Where the answers are kept: $XDG_CACHE_HOME/vantorix (or ~/.cache/vantorix); "" without either.
std::string encoder_cache_folder();

// The binary a program name runs: `program` itself when it has a '/', else the first executable
// of that name on PATH; symbolic links resolved. nullopt when there is none.
std::optional<std::string> resolved_program(const std::string& program);

}  // namespace vx
