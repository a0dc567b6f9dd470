// The channel's live thumbnail as far as ffmpeg's line goes: the option that asks for it at the
// end of the engine's line, and the one output added to the ffmpeg that already decodes the
// pictures (it writes JPEG pictures into a pipe the transcoder reads, transcoder/thumbnail_keeper).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transcoder/translation.h"

namespace vx {

struct Thumbnail {
  std::string path;              // absolute; the file the latest picture is kept in
  bool key_frames_only = false;  // every target copies the picture: decode its key frames alone
};

// Takes "-thumbnail PATH" or "-thumbnail_key_frames PATH" off the end of the line's arguments.
// None when the line asks for no thumbnail, or, with `error` set to one line, when it names
// either option anywhere else or without an absolute path.
std::optional<Thumbnail> take_thumbnail_option(std::vector<std::string>& arguments,
                                               std::string& error);

// The output that makes the thumbnail from `map` (a stream of input 0) into pipe `fd`: a picture
// about every kThumbnailSeconds of stream time, kThumbnailWidth wide. A jump in the timestamps
// (a looping file, a restarted source) takes a picture at once and goes on from there: neither a
// stop nor a burst of pictures; the encoder sees timestamps that only ever grow. The optional map
// leaves the output without a stream when the source has no picture, which ffmpeg refuses with
// no_picture_line() for it.
std::vector<std::string> thumbnail_output(std::string_view map, int fd);

// What ffmpeg says when output number `output` (from 0) has no stream.
std::string no_picture_line(std::size_t output);

// Whether the translated line can take the thumbnail's output, which must change neither the run
// nor its figures. Not when every output of its own ends before the inputs do (translation.h):
// ffmpeg would then go on for the thumbnail alone, and the channel would never end. Nor when no
// output has a picture: on air there is none, and ffmpeg would report the thumbnail's picture
// rate as the channel's. One line says why.
bool takes_a_thumbnail(const Translation& translation);

// Has the first input's video decoder output key frames alone (before the line's first "-i"):
// a line that copies the picture decodes nothing else.
void decode_key_frames_only(std::vector<std::string>& arguments);

}  // namespace vx
