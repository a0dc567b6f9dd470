#include "vocabulary/errors.h"

#include <array>

namespace vx {
namespace {

struct ErrorText {
  int code;
  std::string_view text;
};

// The first six are the web API's texts, which scripts may already compare against.
constexpr std::array kErrorTexts = {
    ErrorText{kErrorNotInitialised, "not initialized"},
    ErrorText{kErrorBadSlot, "invalid channel"},
    ErrorText{kErrorSlotBusy, "channel busy"},
    ErrorText{kErrorEmptySourceUrl, "source url not valid"},
    ErrorText{kErrorEmptyFileTarget, "target url not valid"},
    ErrorText{kErrorNoEncoder, "target codec not valid"},
    ErrorText{kErrorPipe, "no pipe for the transcoder"},
    ErrorText{kErrorSessionFile, "source session not valid"},
    ErrorText{kErrorNotAnOutput, "target format not valid"},
    ErrorText{kErrorLogUnwritable, "channel log not writable"},
    ErrorText{kErrorProcess, "transcoder cannot be started"},
    ErrorText{kErrorFfmpegMissing, "ffmpeg was not found (install it, or name it in MORVI_FFMPEG)"},
    ErrorText{kErrorTranscoderMissing, "morvi-transcoder was not found beside the program"},
    ErrorText{kErrorNoSuchChannel, "invalid channel"},
    ErrorText{kErrorFolderUnplayable, "source folder has no playable file"},
    ErrorText{kErrorBoundTargetsMissing, "bound channel has fewer targets than its master"},
    ErrorText{kErrorNotTaken, "the program is not taking commands now"},
    ErrorText{kErrorOutputFolderUnwritable, "target folder not writable"},
    ErrorText{kErrorRemovalWhileRunning,
              "this channel or a later one is not idle; stop them before removing this channel"},
};

}  // namespace

std::string_view error_text(int code) {
  if (code == 0) return "";
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "unknown error";
}

}  // namespace vx
