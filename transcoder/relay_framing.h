// The encoder's output for one relayed target, cut into pieces a relay may start at, and the
// bytes a relay starts with: FLV (RTMP peers) by its tags, MPEG-TS (SRT and RTSP peers) by its
// packets, a key frame of the video (or any packet when there is no video) beginning a piece
// marked as a start point, and the latest PAT and PMT as the start bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transcoder/flv_framing.h"
#include "transcoder/stream_framing.h"

namespace vx {

enum class RelayMuxer { flv, mpegts };

class RelayFraming {
 public:
  explicit RelayFraming(RelayMuxer muxer) : muxer_(muxer) {}

  // Appends the pieces `input` completes, in stream order.
  void push(std::string_view input, std::vector<StreamPiece>& pieces);
  std::string start_bytes() const;
  // The stream is not what its muxer writes; nothing more comes out.
  bool broken() const { return muxer_ == RelayMuxer::flv && flv_.broken(); }

 private:
  void push_packets(std::string_view packets, std::vector<StreamPiece>& pieces);

  RelayMuxer muxer_;
  FlvTagSplitter flv_;
  TsPacketAligner ts_;
  TsKeyFrameFinder ts_key_frames_;
  std::string packets_;
  std::uint64_t offset_ = 0;  // of the next packet given to the key frame finder
};

}  // namespace vx
