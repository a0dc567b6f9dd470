// Composition of the transcoder's argument line for one channel start: the input part of every
// source, then per output group the filter part, the map text and the output part of every entry
// (audio and video encoders, and for the group's last entry the muxer and the destination).
// The line grows as needed; it is never cut.
#pragma once

#include <string>
#include <string_view>

#include "vocabulary/errors.h"
#include "vocabulary/records.h"

namespace vx {

struct CommandSettings {
  int slot = 0;
  int log_level = 0;             // non-zero: "-v <level>" opens the line
  std::string plugin_core_path;  // MainConcept plug-in core file; empty when not configured
  std::string session_folder;    // where session (SDP) files go; ends with '/'
};

// Builds the whole argument line into `line` and returns 0, or returns a negative code
// (then `line` holds what was built so far). Its only side effect is the input session file of
// an "rtp_native" source.
int build_command_line(const StartRequest& request, const CommandSettings& settings,
                       std::string& line);

// Several targets are written as one multi-bit-rate HLS output only when every one of them is
// HLS: each group then encodes one variant of that output, its options numbered by its variant.
bool folds_into_multibitrate_hls(const std::vector<TargetGroup>& groups);

}  // namespace vx
