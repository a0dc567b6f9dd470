#include "transcoder/flv_framing.h"

#include <algorithm>

namespace vx {
namespace {

constexpr std::uint8_t kAudioTag = 8;
constexpr std::uint8_t kVideoTag = 9;
constexpr std::uint8_t kScriptTag = 18;
constexpr std::uint8_t kHasVideoFlag = 0x01;
constexpr int kKeyFrame = 1;

enum class TagKind { other, metadata, video_config, audio_config, key_frame, audio_frame };

// Appends bytes of `input` to `held` until it is `size` long; true once it is.
bool fill(std::string& held, std::string_view& input, std::size_t size) {
  const std::size_t take = std::min(size - held.size(), input.size());
  held.append(input.substr(0, take));
  input.remove_prefix(take);
  return held.size() == size;
}

std::size_t tag_data_size(std::string_view tag) {
  return static_cast<std::size_t>(read_big_endian(tag, 1, 3));
}

// A script tag whose first AMF0 value is the string "onMetaData".
bool is_on_metadata(std::string_view data) {
  constexpr std::string_view kName = "onMetaData";
  constexpr std::uint8_t kAmfString = 0x02;
  return data.size() >= 3 + kName.size() && byte_at(data, 0) == kAmfString &&
         read_big_endian(data, 1, 2) == kName.size() && data.substr(3, kName.size()) == kName;
}

TagKind video_kind(std::string_view data) {
  const std::uint8_t first = byte_at(data, 0);
  if ((first & 0x80) != 0) {
    // Enhanced RTMP's ExVideoTagHeader: three bits of frame type, the packet type, a FourCC.
    // Multitrack and ModEx packets wrap their real packet type further in; they start nothing.
    const int frame_type = (first >> 4) & 0x07;
    const int packet_type = first & 0x0f;
    constexpr int kSequenceStart = 0, kCodedFrames = 1, kCodedFramesX = 3;
    if (packet_type == kSequenceStart) return TagKind::video_config;
    const bool coded = packet_type == kCodedFrames || packet_type == kCodedFramesX;
    return coded && frame_type == kKeyFrame ? TagKind::key_frame : TagKind::other;
  }
  const int frame_type = first >> 4;
  const int codec = first & 0x0f;
  constexpr int kAvc = 7, kHevc = 12;
  if (codec != kAvc && codec != kHevc)
    return frame_type == kKeyFrame ? TagKind::key_frame : TagKind::other;
  // The packet type: 0 the decoder configuration, 1 pictures, 2 the end of the sequence (which
  // ffmpeg writes with the key frame type at the very end).
  if (data.size() < 2) return TagKind::other;
  const std::uint8_t packet_type = byte_at(data, 1);
  if (packet_type == 0) return TagKind::video_config;
  return packet_type == 1 && frame_type == kKeyFrame ? TagKind::key_frame : TagKind::other;
}

TagKind audio_kind(std::string_view data) {
  const int sound_format = byte_at(data, 0) >> 4;
  constexpr int kExHeader = 9, kAac = 10;
  if (sound_format == kExHeader) {
    // Enhanced RTMP's ExAudioTagHeader: 0 SequenceStart, 1 CodedFrames in the low nibble.
    const int packet_type = byte_at(data, 0) & 0x0f;
    if (packet_type == 0) return TagKind::audio_config;
    return packet_type == 1 ? TagKind::audio_frame : TagKind::other;
  }
  if (sound_format != kAac) return TagKind::audio_frame;
  if (data.size() < 2) return TagKind::other;
  const std::uint8_t packet_type = byte_at(data, 1);  // 0 AudioSpecificConfig, 1 raw frames
  if (packet_type == 0) return TagKind::audio_config;
  return packet_type == 1 ? TagKind::audio_frame : TagKind::other;
}

// What a whole tag (header, data, PreviousTagSize) is to a late joiner.
TagKind tag_kind(std::string_view tag) {
  const std::uint8_t type = byte_at(tag, 0);
  // The filter bit (0x20) marks an encrypted body that starts with headers of its own.
  if ((type & 0x20) != 0) return TagKind::other;
  const std::string_view data = tag.substr(kFlvTagHeaderSize, tag_data_size(tag));
  if (data.empty()) return TagKind::other;
  switch (type & 0x1f) {
    case kScriptTag:
      return is_on_metadata(data) ? TagKind::metadata : TagKind::other;
    case kVideoTag:
      return video_kind(data);
    case kAudioTag:
      return audio_kind(data);
    default:
      return TagKind::other;
  }
}

}  // namespace

void FlvTagSplitter::push(std::string_view input, std::vector<StreamPiece>& pieces) {
  while (!input.empty() && !broken_) {
    if (header_done_) {
      take_tag(input, pieces);
    } else {
      take_header(input);
    }
  }
}

void FlvTagSplitter::take_header(std::string_view& input) {
  constexpr std::size_t kSize = kFlvHeaderSize + kFlvBackPointerSize;
  if (!fill(pending_, input, kSize)) return;
  // ffmpeg writes version 1 with a 9-byte header; a header of another length is nothing this
  // splitter could pass on. PreviousTagSize0 is always 0.
  if (pending_.compare(0, 3, "FLV") != 0 || read_big_endian(pending_, 5, 4) != kFlvHeaderSize ||
      read_big_endian(pending_, kFlvHeaderSize, 4) != 0) {
    fail();
    return;
  }
  has_video_ = (byte_at(pending_, 4) & kHasVideoFlag) != 0;
  header_ = std::move(pending_);
  pending_.clear();
  header_done_ = true;
}

void FlvTagSplitter::take_tag(std::string_view& input, std::vector<StreamPiece>& pieces) {
  if (pending_.size() < kFlvTagHeaderSize) {
    if (!fill(pending_, input, kFlvTagHeaderSize)) return;
    // Refused before its body is held, so garbage costs no more than a tag header.
    if (kFlvTagHeaderSize + tag_data_size(pending_) + kFlvBackPointerSize > max_tag_) fail();
    return;
  }
  if (!fill(pending_, input, kFlvTagHeaderSize + tag_data_size(pending_) + kFlvBackPointerSize))
    return;
  finish_tag(pieces);
}

void FlvTagSplitter::finish_tag(std::vector<StreamPiece>& pieces) {
  const std::size_t tag_size = kFlvTagHeaderSize + tag_data_size(pending_);
  if (read_big_endian(pending_, tag_size, kFlvBackPointerSize) != tag_size) {
    fail();
    return;
  }
  const TagKind kind = tag_kind(pending_);
  switch (kind) {
    case TagKind::metadata:
      metadata_ = pending_;
      break;
    case TagKind::video_config:
      video_config_ = pending_;
      break;
    case TagKind::audio_config:
      audio_config_ = pending_;
      break;
    default:
      break;
  }
  const bool unit_start =
      kind == TagKind::key_frame || (kind == TagKind::audio_frame && !has_video_);
  pieces.push_back({std::move(pending_), unit_start});
  pending_.clear();
}

void FlvTagSplitter::fail() {
  broken_ = true;
  pending_.clear();
  pending_.shrink_to_fit();
}

std::string FlvTagSplitter::start_bytes() const {
  if (!header_done_) return {};
  return header_ + metadata_ + video_config_ + audio_config_;
}

}  // namespace vx
