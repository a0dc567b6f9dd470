// From the engine's argument line to stock ffmpeg's: capture devices become V4L2/ALSA inputs,
// the constant mux rate becomes the muxer's option, HTTP-served outputs become pipes that the
// transcoder serves itself, and what this system cannot do is refused with one clear line.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/capture_devices.h"
#include "transcoder/http_fanout.h"
#include "transcoder/relay_framing.h"

namespace vx {

// An output ffmpeg writes into pipe `fd` and the transcoder serves over HTTP(S).
struct ServedOutput {
  int fd = 0;
  int target = 0;  // its number among the line's outputs, from 1
  std::string url;
  FanoutConfig fanout;
};

// An output the encoder writes into pipe `fd` in `muxer` and a relay process of its own delivers
// to its network peer (ffmpeg copying the stream), so that the peer going away never stops the
// line's other outputs. Only in lines with more than one output.
struct RelayedOutput {
  int fd = 0;
  int target = 0;  // its number among the line's outputs, from 1
  RelayMuxer muxer = RelayMuxer::flv;
  std::string url;                           // as given, credentials included
  std::vector<std::string> relay_arguments;  // the relay's output part: options, -f, url
};

struct Translation {
  std::vector<std::string> arguments;  // for ffmpeg, without the program name
  std::vector<ServedOutput> served;
  std::vector<RelayedOutput> relayed;
  std::size_t output_count = 0;  // the outputs ffmpeg's arguments name
  // Every output has an end of its own, before its inputs end: a duration or an end time, a
  // number of frames, a size, or -shortest.
  bool outputs_end_on_their_own = false;
  bool outputs_without_picture = false;  // every output has -vn
  std::string error;  // one line for the channel log; empty when the line can run
};

struct TranslationContext {
  CaptureDeviceRoots devices;
  // The encoders this ffmpeg has; empty: not checked.
  std::set<std::string> encoders;
  int first_pipe_fd = 3;
};

Translation translate_arguments(const std::vector<std::string>& arguments,
                                const TranslationContext& context);

}  // namespace vx
