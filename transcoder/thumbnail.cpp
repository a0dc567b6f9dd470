#include "transcoder/thumbnail.h"

#include <algorithm>

#include "transcoder/child_process.h"
#include "vocabulary/channel_glance.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

bool is_thumbnail_option(std::string_view argument) {
  return argument == kThumbnailOption || argument == kThumbnailKeyFramesOption;
}

// One line naming the option and what is wrong with it.
std::string refusal(std::string_view option, std::string_view what) {
  return "morvi-transcoder: " + std::string(option) + " " + std::string(what) + "; nothing started";
}

}  // namespace

std::optional<Thumbnail> take_thumbnail_option(std::vector<std::string>& arguments,
                                               std::string& error) {
  const std::size_t count = arguments.size();
  const bool at_end = count >= 2 && is_thumbnail_option(arguments[count - 2]);
  const auto first = std::find_if(arguments.begin(), arguments.end(),
                                  [](const std::string& a) { return is_thumbnail_option(a); });
  if (first == arguments.end()) return std::nullopt;
  if (!at_end || first != arguments.end() - 2) {
    error = refusal(*first, "must end the line, followed by its file");
    return std::nullopt;
  }
  Thumbnail thumbnail;
  thumbnail.key_frames_only = arguments[count - 2] == kThumbnailKeyFramesOption;
  thumbnail.path = arguments[count - 1];
  if (thumbnail.path.empty() || thumbnail.path.front() != '/' ||
      thumbnail.path.find('\0') != std::string::npos) {
    error = refusal(arguments[count - 2], "needs the absolute path of its file");
    return std::nullopt;
  }
  arguments.resize(count - 2);
  return thumbnail;
}

std::vector<std::string> thumbnail_output(std::string_view map, int fd) {
  const std::string seconds = std::to_string(kThumbnailSeconds);
  const std::string width = std::to_string(kThumbnailWidth);
  const std::string half_width = std::to_string(kThumbnailWidth / 2);
  // A failure of this output ends every output of the ffmpeg, so nothing a source does may make
  // one. select takes a picture once kThumbnailSeconds of stream time lie between it and the last
  // one taken, either way: a jump in the timestamps takes one at once (the fps filter would stop
  // or repeat pictures across the gap). setpts numbers the pictures taken: the encoder refuses a
  // timestamp that does not grow, and a JPEG carries none. The height keeps the shape as shown
  // (the sample aspect ratio included), even, within 2 and three times the width. The pixel
  // format is set here, full range, rather than left to ffmpeg's choice for mjpeg: that would be
  // a yuvj one, and the scaler would warn about it on every start.
  const std::string filters = "select='isnan(prev_selected_t)+gte(abs(t-prev_selected_t)," +
                              seconds + ")',setpts=N/TB,scale=" + width + ":'max(2,min(2*round(" +
                              half_width + "/dar)," + std::to_string(3 * kThumbnailWidth) +
                              "))':out_range=full,setsar=1,format=yuv420p";
  return {"-map",
          std::string(map) + "?",
          "-vf",
          filters,
          "-fps_mode:v",
          "passthrough",  // one JPEG per picture selected, never a repeated one
          "-c:v",
          "mjpeg",
          "-strict:v",
          "unofficial",  // takes yuv420p, marked full range
          "-q:v",
          "5",  // a fixed quality, whatever the picture rate
          "-threads:v",
          "1",  // a small picture every few seconds needs no threads of its own
          "-f",
          "image2pipe",
          "pipe:" + std::to_string(fd)};
}

std::string no_picture_line(std::size_t output) {
  return "Output file #" + std::to_string(output) + " does not contain any stream";
}

bool takes_a_thumbnail(const Translation& translation) {
  if (translation.outputs_end_on_their_own) {
    say("morvi-transcoder: every output of the line ends on its own; no thumbnail\n");
    return false;
  }
  if (translation.outputs_without_picture) {
    say("morvi-transcoder: no output of the line has a picture; no thumbnail\n");
    return false;
  }
  return true;
}

void decode_key_frames_only(std::vector<std::string>& arguments) {
  const auto input = std::find(arguments.begin(), arguments.end(), "-i");
  arguments.insert(input, {"-skip_frame:v", "nokey"});
}

}  // namespace vx
