// One run of ffmpeg for the transcoder: ffmpeg in our process group (an orderly stop sent to the
// group reaches it), dying with us; everything it prints relayed to our standard output at once;
// its HTTP-served outputs fanned out to viewers; its frozen video reported; the thumbnail made
// from its first input's picture. A source without a picture runs again without the thumbnail.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "transcoder/progress_watch.h"
#include "transcoder/thumbnail.h"
#include "transcoder/translation.h"

namespace vx {

struct SessionOptions {
  std::string ffmpeg = "ffmpeg";  // path, or a name looked up on PATH
  int frozen_video_seconds = kFrozenVideoSeconds;
  std::optional<Thumbnail> thumbnail;  // none: the line asks for none
};

// Runs ffmpeg with the translated arguments until it ends. Returns the status the transcoder
// exits with: ffmpeg's own, 128 + N when a signal N ended it, 1 when it could not start (after
// printing one line that says why).
int run_ffmpeg_session(const Translation& translation, const SessionOptions& options);

}  // namespace vx
