// Composition of the transcoder's argument line for one channel start: the input part of every
// source, then per output group the filter part, the map text and the output part of every entry
// (audio and video encoders, and for the group's last entry the muxer and the destination).
// The line grows as needed; it is never cut.
#pragma once

#include <string>
#include <string_view>

#include "vocabulary/records.h"

namespace vx {

// Engine failures of a start; see engine_start_channel for the codes the start adds.
inline constexpr int kErrorSessionFile = -6;  // rtp_native input without port, or no SDP file
inline constexpr int kErrorEmptySourceUrl = -7;
inline constexpr int kErrorEmptyFileTarget = -8;
inline constexpr int kErrorNoEncoder = -9;     // an enabled stream whose codec has no encoder
inline constexpr int kErrorNotAnOutput = -10;  // a format that cannot be an output

// The short web address of the credit line drawn on the alternate picture.
inline constexpr std::string_view kCreditDomain = "vantorix.org";

struct CommandSettings {
  int slot = 0;
  int log_level = 0;             // non-zero: "-v <level>" opens the line
  std::string plugin_core_path;  // MainConcept plug-in core file; empty when not configured
  std::string session_folder;    // where session (SDP) files go; ends with '/'
};

// Builds the whole argument line into `line` and returns 0, or returns a negative code above
// (then `line` holds what was built so far). Its only side effect is the input session file of
// an "rtp_native" source.
int build_command_line(const StartRequest& request, const CommandSettings& settings,
                       std::string& line);

}  // namespace vx
