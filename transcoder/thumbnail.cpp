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
  // The height keeps the picture's shape as shown (its sample aspect ratio included), rounded to
  // an even number, within 2 and three times the width, so that no source's size can make the
  // encoder refuse it (which would end every output). The pixel format is set here, full range,
  // rather than left to ffmpeg's choice for mjpeg: that would be a yuvj one, and its scaler would
  // warn about it on every start.
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
          "5",
          "-threads:v",
          "1",
          "-f",
          "image2pipe",
          "pipe:" + std::to_string(fd)};
}

std::string no_picture_line(std::size_t output) {
  return "Output file #" + std::to_string(output) + " does not contain any stream";
}

bool takes_a_thumbnail(const Translation& translation) {
  if (!translation.outputs_end_on_their_own) return true;
  say("morvi-transcoder: every output of the line ends on its own; no thumbnail\n");
  return false;
}

void decode_key_frames_only(std::vector<std::string>& arguments) {
  const auto input = std::find(arguments.begin(), arguments.end(), "-i");
  arguments.insert(input, {"-skip_frame:v", "nokey"});
}

}  // namespace vx
