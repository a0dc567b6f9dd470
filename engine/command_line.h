// Composition of the transcoder's argument line for one channel start: the input part of every
// source, then per output group the filter part (or, in a failover line, the standby sources, the
// alternate inputs, the switching limits and the switch graphs), the map text and the output part
// of every entry (audio and video encoders, and for the group's last entry the muxer and the
// destination).
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
  // The file the transcoder keeps the channel's live thumbnail in; "" makes none.
  std::string thumbnail_file;
};

// Builds the whole argument line into `line` and returns 0, or returns a negative code
// (then `line` holds what was built so far). Its only side effect is the input session file of
// an "rtp_native" source.
int build_command_line(const StartRequest& request, const CommandSettings& settings,
                       std::string& line);

// Whether the line is a failover line (the transcoder keeps one encoder fed from the first
// source, its standby sources and the slate) and which inputs it names. A channel with standby
// sources or switchOn runs as one when it reads one source (no bound channels) into targets that
// all re-encode and do not fold into one multi-bit-rate HLS output; otherwise, as before them, a
// channel with a network first source, one target that re-encodes and the global alternate input
// set.
struct FailoverInputs {
  bool runs = false;
  int standby = 0;     // standby sources written, "-standby ... -i URL" each
  bool slate = false;  // the alternate inputs are written
  // Why the request's standby sources and switchOn are left out of the line ("the channel carries
  // bound channels"); "" when they are written or there are none.
  std::string standby_left_out;
};
FailoverInputs failover_inputs(const StartRequest& request);

// Several targets are written as one multi-bit-rate HLS output only when every one of them is
// HLS: each group then encodes one variant of that output, its options numbered by its variant.
bool folds_into_multibitrate_hls(const std::vector<TargetGroup>& groups);

}  // namespace vx
