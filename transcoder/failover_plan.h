// The failover form of an argument line ("-lavfi:v ... streamselect", "-lavfi:a astreamselect",
// with standby sources, the test-picture and silence inputs or a looping media file, and what to
// switch on) taken apart into what keeping the output alive needs: the primary input to decode on
// its own, the filters that belonged to it, the standby sources, the slate, the content limits,
// and the output part for the one encoder that is never restarted.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "vocabulary/records.h"

namespace vx {

struct FailoverPlan {
  // Global options and the primary input's own options, ending with "-i" and its URL.
  std::vector<std::string> primary_input;
  // The primary picture's filter chain (the graph part before "[fv0]"); "" when none.
  std::string primary_filters;
  bool video = false;  // the line switches pictures
  bool audio = false;  // the line switches sound
  // Each standby source's input options, ending with its "-i" and URL, in the order tried.
  std::vector<std::vector<std::string>> standby_inputs;
  // Whether the line has a slate: the built-in test picture with silence, or a media file.
  bool slate = false;
  // Empty: the built-in test picture with silence. Otherwise a media file played in a loop.
  std::string alternate_file;
  // Seconds of black, silence or a frozen picture that switch to the next input; 0: not watched.
  SwitchOnLimits switch_on;
  // Encoders, muxers and destinations, as the line has them after the graphs.
  std::vector<std::string> output;
};

// True when the argument line asks for an output kept alive on an alternate input.
bool is_failover_line(const std::vector<std::string>& arguments);

// The plan, or nullopt with `error` set (one line) when the line has the graphs but not in the
// form the engine writes.
std::optional<FailoverPlan> parse_failover_plan(const std::vector<std::string>& arguments,
                                                std::string& error);

}  // namespace vx
