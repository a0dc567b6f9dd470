// The byte-stream framing of the streams ffmpeg writes for HTTP viewers: MPEG-TS packet alignment,
// fragmented MP4 top-level boxes and fragments, and whole JPEG pictures out of an MJPEG stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

inline constexpr std::size_t kTsPacketSize = 188;
inline constexpr char kTsSyncByte = 0x47;

// Output bytes in stream order; a new viewer may start watching at the first byte of a piece
// whose `unit_start` is set (a fragment, a picture, a packet boundary).
struct StreamPiece {
  std::string bytes;
  bool unit_start = false;
};

// Brings MPEG-TS to packet boundaries. Only whole packets come out; bytes between a lost sync and
// the next run of three sync bytes 188 apart are thrown away, so output always starts at 0x47.
class TsPacketAligner {
 public:
  // Appends every whole packet the input completes to `packets`.
  void push(std::string_view input, std::string& packets);
  // Bytes held back: part of one packet, or the window still searched for a sync run.
  std::size_t buffered() const { return pending_.size(); }

 private:
  void push_locked(std::string_view& input, std::string& packets);
  void resynchronise(std::string_view& input);

  bool locked_ = false;
  std::string pending_;
  std::string resumed_;  // what follows a regained sync run; `input` may point into it
};

struct Mp4BoxHeader {
  std::array<char, 4> type{};
  std::uint64_t size = 0;       // the whole box, header included
  std::size_t header_size = 0;  // 8, or 16 with a 64-bit size
  bool is(std::string_view name) const { return std::string_view(type.data(), 4) == name; }
};

enum class Mp4HeaderParse { complete, need_more, invalid };

// Largest top-level box believed; a bigger size is taken for garbage.
inline constexpr std::uint64_t kMaxMp4BoxSize = std::uint64_t{1} << 30;

// Reads a top-level box header (32-bit size, or 1 followed by a 64-bit size). A size that
// runs to the end of the file (0), one smaller than its header, one beyond kMaxMp4BoxSize, or
// a type that is not printable text is invalid.
Mp4HeaderParse parse_mp4_box_header(std::string_view bytes, Mp4BoxHeader& header);

// Follows a fragmented MP4 box by box. Every box before the first fragment (ftyp, moov, ...)
// forms the initialisation segment; a fragment (moof, or styp/sidx leading a moof) is where a
// viewer may start. A later ftyp starts a new initialisation segment. Box bodies pass through
// without being held; after invalid input the splitter looks for the next moof or ftyp.
class Mp4FragmentSplitter {
 public:
  static constexpr std::size_t kMaxInitSegment = std::size_t{1} << 20;

  void push(std::string_view input, std::vector<StreamPiece>& pieces);
  // The latest complete initialisation segment; null until the first fragment begins.
  std::shared_ptr<const std::string> init_segment() const { return init_; }
  std::size_t buffered() const { return header_.size() + building_.size(); }

 private:
  enum class State { header, body, resync };

  void take_header_bytes(std::string_view& input, std::vector<StreamPiece>& pieces);
  void start_box(const Mp4BoxHeader& box, std::vector<StreamPiece>& pieces);
  void take_body_bytes(std::string_view& input, std::vector<StreamPiece>& pieces);
  void look_for_box(std::string_view& input, std::vector<StreamPiece>& pieces);
  void emit(std::string_view bytes, bool unit_start, std::vector<StreamPiece>& pieces);

  State state_ = State::header;
  std::string header_;  // the header bytes of the box being started
  std::uint64_t body_left_ = 0;
  bool building_init_ = true;      // boxes so far belong to the initialisation segment
  bool in_fragment_head_ = false;  // styp/sidx/moof seen, its media data not yet
  std::string building_;
  std::shared_ptr<const std::string> init_;
  std::uint64_t window_ = 0;  // the last eight bytes seen while resynchronising
  std::size_t window_fill_ = 0;
};

// Cuts an MJPEG byte stream into whole pictures, SOI (FF D8) to EOI (FF D9). Marker segments are
// skipped by their lengths, so an EOI inside an embedded thumbnail does not end the picture; in
// the entropy-coded data only a marker other than stuffing or a restart ends a scan. Bytes
// outside pictures, broken pictures and pictures larger than the limit are thrown away.
class JpegFrameSplitter {
 public:
  static constexpr std::size_t kDefaultMaxFrame = std::size_t{8} << 20;

  explicit JpegFrameSplitter(std::size_t max_frame = kDefaultMaxFrame) : max_frame_(max_frame) {}

  void push(std::string_view input, std::vector<std::string>& frames);
  std::size_t buffered() const { return frame_.size(); }

 private:
  enum class State { seek_start, segments, entropy };
  enum class Scan { need_more, complete, broken, next_state };

  bool seek_start(std::string_view& input);
  Scan scan(std::size_t& boundary);
  Scan scan_segments(std::size_t& boundary);
  Scan scan_entropy();

  std::size_t max_frame_;
  State state_ = State::seek_start;
  std::string frame_;        // from the SOI of the picture being collected
  std::size_t cursor_ = 0;   // first byte of frame_ not yet understood
  bool pending_ff_ = false;  // seeking: the last byte seen was 0xFF
  std::string resumed_;      // bytes still to search after a picture ended or broke
};

}  // namespace vx
