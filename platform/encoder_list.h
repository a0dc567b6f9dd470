// Which encoders the ffmpeg in use has, so that a line asking for a missing one is refused with a
// clear line. ffmpeg is asked once per binary ("ffmpeg -encoders", bounded in time); the answer
// is kept in the user's cache folder, keyed by the binary's resolved path, size and modification
// time, so that a channel's start costs no extra process.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vx {

inline constexpr std::chrono::seconds kEncoderListLimit{3};

// The ffmpeg to run: MORVI_FFMPEG when set, else "ffmpeg" from PATH.
std::string ffmpeg_program();

// Runs the listing's command line (argv) and gives what it printed when it ended with status 0
// within kEncoderListLimit, else nullopt.
using EncoderListing = std::function<std::optional<std::string>(std::vector<std::string> argv)>;

// The listing run as a child of its own, its standard output and error read, killed when it
// gives no answer within kEncoderListLimit.
std::optional<std::string> run_encoder_listing(std::vector<std::string> argv);

// The encoders of `ffmpeg` (a path, or a name looked up on PATH), asked through `listing` when
// the cache holds no answer; empty when it cannot be asked: then nothing is checked.
std::set<std::string> ffmpeg_encoders(const std::string& ffmpeg,
                                      const EncoderListing& listing = run_encoder_listing);

// The encoder names of what "ffmpeg -encoders" prints (the table below its "------" line).
std::set<std::string> parse_encoder_list(const std::string& listing);

// Where the answers are kept: $XDG_CACHE_HOME/vantorix (or ~/.cache/vantorix); "" without either.
std::string encoder_cache_folder();

// The binary a program name runs: `program` itself when it has a '/', else the first executable
// of that name on PATH; symbolic links resolved. nullopt when there is none.
std::optional<std::string> resolved_program(const std::string& program);

}  // namespace vx
