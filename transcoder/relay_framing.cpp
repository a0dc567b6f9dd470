#include "transcoder/relay_framing.h"

namespace vx {

void RelayFraming::push(std::string_view input, std::vector<StreamPiece>& pieces) {
  if (muxer_ == RelayMuxer::flv) return flv_.push(input, pieces);
  packets_.clear();
  ts_.push(input, packets_);
  push_packets(packets_, pieces);
}

// A packet starts a piece a relay may begin with when the finder takes it as the start of a key
// frame at once: ffmpeg flags the first packet of every key frame as a random access point. In a
// stream without video, every packet is such a place.
void RelayFraming::push_packets(std::string_view packets, std::vector<StreamPiece>& pieces) {
  const std::size_t first = pieces.size();
  for (std::size_t at = 0; at + kTsPacketSize <= packets.size(); at += kTsPacketSize) {
    const std::string_view packet = packets.substr(at, kTsPacketSize);
    ts_key_frames_.push(packet);
    const bool video = ts_key_frames_.video_pid() != 0;
    const bool start =
        video ? ts_key_frames_.key_frame_start() == offset_ : ts_key_frames_.tables() != nullptr;
    offset_ += kTsPacketSize;
    if (pieces.size() == first || start) {
      pieces.push_back({std::string(packet), start});
    } else {
      pieces.back().bytes.append(packet);
    }
  }
}

std::string RelayFraming::start_bytes() const {
  if (muxer_ == RelayMuxer::flv) return flv_.start_bytes();
  const auto tables = ts_key_frames_.tables();
  return tables ? *tables : std::string();
}

}  // namespace vx
