// Fuzzes the cutting of the thumbnail's JPEG stream (ffmpeg's pipe) into whole pictures. The first
// byte picks the size limit (0: the thumbnail's own), the second how the rest is cut into pieces,
// as a pipe hands over any split of the stream. What is held never passes the limit, every picture
// that comes out is a stretch of the stream from SOI to EOI within the limit, and a stream that
// fits within the limit gives the same pictures however it is cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "transcoder/stream_framing.h"
#include "vocabulary/channel_glance.h"

namespace {

void check_pictures(const std::vector<std::string>& pictures, std::string_view stream,
                    std::size_t limit) {
  for (const std::string& picture : pictures) {
    if (picture.size() < 4 || picture.size() > limit) std::abort();
    if (!picture.starts_with("\xFF\xD8") || !picture.ends_with("\xFF\xD9")) std::abort();
    if (stream.find(picture) == std::string_view::npos) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t limit =
      data[0] == 0 ? static_cast<std::size_t>(vx::kMaxThumbnailBytes) : std::size_t{16} * data[0];
  std::uint32_t cut = data[1];
  const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);

  vx::JpegFrameSplitter pieces_splitter(limit);
  std::vector<std::string> from_pieces;
  for (std::size_t pos = 0; pos < stream.size();) {
    // A cheap generator keeps the cut points varied without taking bytes from the stream.
    cut = cut * 1103515245u + 12345u;
    const std::string_view piece = stream.substr(pos, 1 + (cut >> 16) % 300);
    pos += piece.size();
    pieces_splitter.push(piece, from_pieces);
    if (pieces_splitter.buffered() > limit) std::abort();
  }
  check_pictures(from_pieces, stream, limit);

  vx::JpegFrameSplitter whole_splitter(limit);
  std::vector<std::string> from_whole;
  whole_splitter.push(stream, from_whole);
  if (whole_splitter.buffered() > limit) std::abort();
  check_pictures(from_whole, stream, limit);
  // A picture over the limit is dropped where the limit is passed, which depends on the pieces.
  if (stream.size() <= limit && from_pieces != from_whole) std::abort();
  return 0;
}
