// The byte-stream framing of the streams ffmpeg writes for HTTP viewers: MPEG-TS packet alignment,
// fragmented MP4 top-level boxes and fragments, and whole JPEG pictures out of an MJPEG stream;
// and where in each stream a new viewer can start decoding at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

inline constexpr std::size_t kTsPacketSize = 188;
inline constexpr char kTsSyncByte = 0x47;

inline std::uint8_t byte_at(std::string_view bytes, std::size_t index) {
  return static_cast<std::uint8_t>(bytes[index]);
}

// The unsigned big-endian number of `count` bytes (at most 8) at `offset`; the caller makes sure
// they are there.
std::uint64_t read_big_endian(std::string_view bytes, std::size_t offset, std::size_t count);

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

// How a video stream's NAL units tell a key picture: H.264, HEVC, or not at all (other codecs).
enum class NalSyntax { none, h264, hevc };

// Reads the NAL units at the start of one video PES, across as many packets as it takes, up to
// the first coded picture, and tells whether that picture is an IDR (H.264) or IRAP (HEVC) one.
class KeyPictureScan {
 public:
  enum class Result { need_more, key, not_key };

  KeyPictureScan() = default;
  explicit KeyPictureScan(NalSyntax syntax) : syntax_(syntax) {}

  Result push(std::string_view elementary_stream);

 private:
  Result judge(std::uint8_t nal_header) const;

  NalSyntax syntax_ = NalSyntax::none;
  int zeros_ = 0;           // zero bytes just seen, a start code in the making
  bool at_header_ = false;  // the next byte is a NAL unit header
  std::size_t scanned_ = 0;
};

// Follows whole MPEG-TS packets (as TsPacketAligner writes them) and remembers what a new viewer
// needs to decode at once: the latest PAT and PMT, and where the latest key frame of the video
// stream begins. A key frame begins at a packet of the video PID that starts a PES and either
// carries the random access flag or, for H.264 and HEVC, whose first picture is an IDR/IRAP one;
// other codecs count on the flag alone. Offsets count every byte pushed.
class TsKeyFrameFinder {
 public:
  void push(std::string_view packets);

  // The offset of the packet that starts the latest key frame; none until one is seen.
  std::optional<std::uint64_t> key_frame_start() const { return key_frame_start_; }
  // The packets of the latest PAT and PMT; null until both are known.
  std::shared_ptr<const std::string> tables() const { return tables_; }
  std::uint16_t video_pid() const { return video_pid_; }
  // Bytes held besides the stream: the tables and the sections being gathered.
  std::size_t held() const;

 private:
  // One PSI section gathered from its packets, which are kept as they came.
  struct Section {
    std::string packets;
    std::string bytes;       // from table_id on
    std::size_t length = 0;  // of the whole section; 0 while none is being gathered
    bool complete() const { return length != 0 && bytes.size() >= length; }
  };

  void take_packet(std::string_view packet);
  void take_table(Section& section, std::string& kept,
                  void (TsKeyFrameFinder::*read)(std::string_view), std::string_view packet,
                  bool unit_start, std::string_view payload);
  void take_section(Section& section, std::string_view packet, bool unit_start,
                    std::string_view payload);
  void take_pat(std::string_view section);
  void take_pmt(std::string_view section);
  void take_video(bool unit_start, bool random_access, std::string_view payload);
  void publish_tables();

  std::uint64_t offset_ = 0;
  std::uint16_t pmt_pid_ = 0;  // 0: no PAT yet (PID 0 is the PAT's own)
  std::uint16_t video_pid_ = 0;
  NalSyntax syntax_ = NalSyntax::none;
  Section pat_;
  Section pmt_;
  std::string pat_packets_;  // the latest complete ones
  std::string pmt_packets_;
  std::shared_ptr<const std::string> tables_;
  std::optional<std::uint64_t> key_frame_start_;
  std::uint64_t candidate_ = 0;  // the PES start being scanned
  bool scanning_ = false;
  KeyPictureScan scan_;
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

// The sample flags a track's fragments fall back on (its trex box in moov/mvex).
struct Mp4TrackDefaults {
  std::uint32_t track_id = 0;
  std::uint32_t sample_flags = 0;
};

// The trex defaults of every track of an initialisation segment; none for what is no moov.
std::vector<Mp4TrackDefaults> read_mp4_track_defaults(std::string_view init_segment);

enum class Mp4FragmentStart { sync, not_sync, invalid };

// Whether a fragment can be decoded from its start: every track fragment with samples begins
// with a sync sample (its flags from trun, else tfhd, else trex). Audio samples are all sync, so
// this is the video track's verdict without telling the tracks apart. `moof` is the whole box.
Mp4FragmentStart classify_mp4_fragment(std::string_view moof,
                                       const std::vector<Mp4TrackDefaults>& defaults);

// Follows a fragmented MP4 box by box. Every box before the first fragment (ftyp, moov, ...)
// forms the initialisation segment; a fragment (moof, or styp/sidx leading a moof) is where a
// viewer may start. A later ftyp starts a new initialisation segment. Box bodies pass through
// without being held; after invalid input the splitter looks for the next moof or ftyp. Each moof
// is held until it is judged, so that the latest fragment starting with a sync sample is known.
class Mp4FragmentSplitter {
 public:
  static constexpr std::size_t kMaxInitSegment = std::size_t{1} << 20;
  static constexpr std::size_t kMaxMoof = std::size_t{1} << 20;

  void push(std::string_view input, std::vector<StreamPiece>& pieces);
  // The latest complete initialisation segment; null until the first fragment begins.
  std::shared_ptr<const std::string> init_segment() const { return init_; }
  std::size_t buffered() const { return header_.size() + building_.size() + moof_.size(); }
  // The offset (in bytes emitted) of the latest fragment that starts with a sync sample, under
  // the current initialisation segment; none until one is seen.
  std::optional<std::uint64_t> last_sync_fragment() const { return last_sync_fragment_; }

 private:
  enum class State { header, body, resync };

  void take_header_bytes(std::string_view& input, std::vector<StreamPiece>& pieces);
  void start_box(const Mp4BoxHeader& box, std::vector<StreamPiece>& pieces);
  void take_body_bytes(std::string_view& input, std::vector<StreamPiece>& pieces);
  void look_for_box(std::string_view& input, std::vector<StreamPiece>& pieces);
  void emit(std::string_view bytes, bool unit_start, std::vector<StreamPiece>& pieces);
  void hold_moof(std::string_view bytes);
  void judge_moof();

  State state_ = State::header;
  std::string header_;  // the header bytes of the box being started
  std::uint64_t body_left_ = 0;
  bool building_init_ = true;      // boxes so far belong to the initialisation segment
  bool in_fragment_head_ = false;  // styp/sidx/moof seen, its media data not yet
  std::string building_;
  std::shared_ptr<const std::string> init_;
  std::uint64_t window_ = 0;  // the last eight bytes seen while resynchronising
  std::size_t window_fill_ = 0;
  std::uint64_t emitted_ = 0;
  std::uint64_t fragment_start_ = 0;
  bool holding_moof_ = false;
  std::string moof_;  // the moof being received, header included
  std::vector<Mp4TrackDefaults> track_defaults_;
  std::optional<std::uint64_t> last_sync_fragment_;
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
