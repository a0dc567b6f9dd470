// The FLV framing of a relayed target: ffmpeg's flv muxer output cut into whole tags, and the
// bytes a peer joining late (a relay restarted mid-stream) needs before its first key frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transcoder/stream_framing.h"

namespace vx {

inline constexpr std::size_t kFlvHeaderSize = 9;       // "FLV", version, flags, data offset
inline constexpr std::size_t kFlvTagHeaderSize = 11;   // type, size, timestamp, stream id
inline constexpr std::size_t kFlvBackPointerSize = 4;  // the PreviousTagSize after each tag

// Follows an FLV byte stream as ffmpeg's flv muxer writes it, in any chunk sizes: splits it into
// whole tags, and remembers what a peer joining late needs to decode from its first frame.
//
// A late joiner is sent start_bytes() as they stand when it joins, then the pieces from a
// unit_start on. The sequence headers are the latest seen, so the owner should start a joiner at
// the latest unit_start: a sequence header that changes after it would not match its frames.
class FlvTagSplitter {
 public:
  // Tags are at most this large, header and PreviousTagSize included (the size field itself
  // allows up to 16 MiB of data).
  static constexpr std::size_t kDefaultMaxTag = std::size_t{16} << 20;

  explicit FlvTagSplitter(std::size_t max_tag = kDefaultMaxTag) : max_tag_(max_tag) {}

  // Appends one StreamPiece per whole tag that `input` completes (the tag with its trailing
  // 4-byte PreviousTagSize); unit_start is set on a tag a late joiner may start at: a video key
  // frame that is not a sequence header, or, in a stream without video (no video flag in the
  // header), every audio tag that is not a sequence header. The file header itself is not a piece.
  void push(std::string_view input, std::vector<StreamPiece>& pieces);
  // The bytes a late joiner starts with: the 9-byte header and PreviousTagSize0, the latest
  // onMetaData script tag, and the latest video and audio sequence header tags (AVC/HEVC config,
  // AAC AudioSpecificConfig), each with its PreviousTagSize; empty until the header was seen.
  std::string start_bytes() const;
  bool has_video() const { return has_video_; }
  // The stream cannot be FLV (bad signature, a tag larger than the limit, a PreviousTagSize that
  // does not match): nothing more is split and nothing held; the owner reports it.
  bool broken() const { return broken_; }
  std::size_t buffered() const { return pending_.size(); }  // bytes of an unfinished tag held back

 private:
  void take_header(std::string_view& input);
  void take_tag(std::string_view& input, std::vector<StreamPiece>& pieces);
  void finish_tag(std::vector<StreamPiece>& pieces);
  void fail();

  std::size_t max_tag_;
  bool header_done_ = false;
  bool has_video_ = false;
  bool broken_ = false;
  std::string pending_;  // the header, or the tag, being received
  std::string header_;   // the file header and PreviousTagSize0, once complete
  std::string metadata_;
  std::string video_config_;
  std::string audio_config_;
};

}  // namespace vx
