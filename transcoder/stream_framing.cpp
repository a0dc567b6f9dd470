#include "transcoder/stream_framing.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vx {

std::uint64_t read_big_endian(std::string_view bytes, std::size_t offset, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i)
    value = (value << 8) | byte_at(bytes, offset + i);
  return value;
}

namespace {

bool is_printable_type(std::string_view type) {
  return std::all_of(type.begin(), type.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

constexpr std::uint32_t four_cc(const char (&name)[5]) {
  return (std::uint32_t{static_cast<std::uint8_t>(name[0])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(name[1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(name[2])} << 8) |
         std::uint32_t{static_cast<std::uint8_t>(name[3])};
}

// Calls `child` with the header and the payload of every box in `body`; false when a box does
// not fit.
template <typename Child>
bool for_each_box(std::string_view body, Child&& child) {
  while (!body.empty()) {
    Mp4BoxHeader box;
    if (parse_mp4_box_header(body, box) != Mp4HeaderParse::complete || box.size > body.size())
      return false;
    child(box, body.substr(box.header_size, static_cast<std::size_t>(box.size - box.header_size)));
    body.remove_prefix(static_cast<std::size_t>(box.size));
  }
  return true;
}

struct TsPacket {
  std::uint16_t pid = 0;
  bool unit_start = false;
  bool random_access = false;
  std::string_view payload;
};

// False for a packet that is flagged as damaged or whose adaptation field does not fit.
bool read_ts_packet(std::string_view packet, TsPacket& out) {
  if (packet.size() != kTsPacketSize || packet[0] != kTsSyncByte) return false;
  if ((byte_at(packet, 1) & 0x80) != 0) return false;
  out.pid = static_cast<std::uint16_t>(((byte_at(packet, 1) & 0x1f) << 8) | byte_at(packet, 2));
  out.unit_start = (byte_at(packet, 1) & 0x40) != 0;
  const int adaptation = (byte_at(packet, 3) >> 4) & 0x03;
  if (adaptation == 0) return false;
  std::size_t at = 4;
  out.random_access = false;
  if ((adaptation & 0x02) != 0) {
    const std::size_t length = byte_at(packet, 4);
    if (length > kTsPacketSize - 5) return false;
    if (length > 0) out.random_access = (byte_at(packet, 5) & 0x40) != 0;
    at = 5 + length;
  }
  out.payload = (adaptation & 0x01) != 0 ? packet.substr(at) : std::string_view();
  return true;
}

bool is_video_stream_type(std::uint8_t type) {
  // MPEG-1/2, MPEG-4 part 2, H.264, HEVC, AVS, VC-1 and Dirac video.
  constexpr std::array<std::uint8_t, 8> kVideo = {0x01, 0x02, 0x10, 0x1b, 0x24, 0x42, 0xea, 0xd1};
  return std::find(kVideo.begin(), kVideo.end(), type) != kVideo.end();
}

NalSyntax nal_syntax_of(std::uint8_t stream_type) {
  if (stream_type == 0x1b) return NalSyntax::h264;
  if (stream_type == 0x24) return NalSyntax::hevc;
  return NalSyntax::none;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// MPEG-TS

void TsPacketAligner::push(std::string_view input, std::string& packets) {
  while (!input.empty()) {
    if (locked_) {
      push_locked(input, packets);
    } else {
      resynchronise(input);
    }
  }
}

void TsPacketAligner::push_locked(std::string_view& input, std::string& packets) {
  if (!pending_.empty()) {
    const std::size_t take = std::min(kTsPacketSize - pending_.size(), input.size());
    pending_.append(input.substr(0, take));
    input.remove_prefix(take);
    if (pending_.size() == kTsPacketSize) {
      packets += pending_;
      pending_.clear();
    }
    return;
  }
  std::size_t whole = 0;
  while (whole + kTsPacketSize <= input.size() && input[whole] == kTsSyncByte)
    whole += kTsPacketSize;
  packets.append(input.substr(0, whole));
  input.remove_prefix(whole);
  if (input.empty()) return;
  if (input[0] != kTsSyncByte) {
    locked_ = false;
    return;
  }
  pending_.assign(input);  // the start of a packet the next input completes
  input = {};
}

void TsPacketAligner::resynchronise(std::string_view& input) {
  pending_.append(input);
  input = {};
  // Three sync bytes a packet apart; one alone turns up in payloads far too often.
  constexpr std::size_t kRun = 2 * kTsPacketSize;
  for (std::size_t p = 0; p + kRun < pending_.size(); ++p) {
    if (pending_[p] == kTsSyncByte && pending_[p + kTsPacketSize] == kTsSyncByte &&
        pending_[p + kRun] == kTsSyncByte) {
      resumed_.assign(pending_, p);
      pending_.clear();
      locked_ = true;
      input = resumed_;
      return;
    }
  }
  if (pending_.size() > kRun) pending_.erase(0, pending_.size() - kRun);
}

KeyPictureScan::Result KeyPictureScan::push(std::string_view elementary_stream) {
  // Parameter sets and messages before the first picture are short; one that runs on this long
  // is no stream this scan understands.
  constexpr std::size_t kMaxScan = 64 * 1024;
  for (const char c : elementary_stream) {
    if (++scanned_ > kMaxScan) return Result::not_key;
    const auto byte = static_cast<std::uint8_t>(c);
    if (at_header_) {
      at_header_ = false;
      zeros_ = 0;
      const Result result = judge(byte);
      if (result != Result::need_more) return result;
    } else if (byte == 0) {
      ++zeros_;
    } else {
      at_header_ = byte == 1 && zeros_ >= 2;
      zeros_ = 0;
    }
  }
  return Result::need_more;
}

KeyPictureScan::Result KeyPictureScan::judge(std::uint8_t nal_header) const {
  if (syntax_ == NalSyntax::h264) {
    const int type = nal_header & 0x1f;
    if (type == 5) return Result::key;
    return type >= 1 && type <= 4 ? Result::not_key : Result::need_more;
  }
  if (syntax_ == NalSyntax::hevc) {
    const int type = (nal_header >> 1) & 0x3f;
    if (type >= 16 && type <= 23) return Result::key;
    return type <= 31 ? Result::not_key : Result::need_more;
  }
  return Result::not_key;
}

void TsKeyFrameFinder::push(std::string_view packets) {
  for (; packets.size() >= kTsPacketSize; packets.remove_prefix(kTsPacketSize)) {
    take_packet(packets.substr(0, kTsPacketSize));
    offset_ += kTsPacketSize;
  }
  offset_ += packets.size();  // never from the aligner, but offsets must still count every byte
}

std::size_t TsKeyFrameFinder::held() const {
  return (tables_ ? tables_->size() : 0) + pat_packets_.size() + pmt_packets_.size() +
         pat_.packets.size() + pat_.bytes.size() + pmt_.packets.size() + pmt_.bytes.size();
}

// A PAT or PMT packet: once its section is whole, the table is read and its packets are kept as
// the latest ones a new viewer gets.
void TsKeyFrameFinder::take_table(Section& section, std::string& kept,
                                  void (TsKeyFrameFinder::*read)(std::string_view),
                                  std::string_view packet, bool unit_start,
                                  std::string_view payload) {
  take_section(section, packet, unit_start, payload);
  if (!section.complete()) return;
  (this->*read)(std::string_view(section.bytes).substr(0, section.length));
  kept = std::move(section.packets);
  section = {};
  publish_tables();
}

void TsKeyFrameFinder::take_packet(std::string_view packet) {
  TsPacket parsed;
  if (!read_ts_packet(packet, parsed)) return;
  if (parsed.pid == 0) {
    take_table(pat_, pat_packets_, &TsKeyFrameFinder::take_pat, packet, parsed.unit_start,
               parsed.payload);
  } else if (pmt_pid_ != 0 && parsed.pid == pmt_pid_) {
    take_table(pmt_, pmt_packets_, &TsKeyFrameFinder::take_pmt, packet, parsed.unit_start,
               parsed.payload);
  } else if (video_pid_ != 0 && parsed.pid == video_pid_) {
    take_video(parsed.unit_start, parsed.random_access, parsed.payload);
  }
}

void TsKeyFrameFinder::take_section(Section& section, std::string_view packet, bool unit_start,
                                    std::string_view payload) {
  // The longest PAT or PMT the standard allows.
  constexpr std::size_t kMaxSection = 1024;
  if (unit_start) {
    section = {};
    if (payload.empty() || std::size_t{byte_at(payload, 0)} + 1 >= payload.size()) return;
    section.packets.assign(packet);
    section.bytes.assign(payload.substr(1 + byte_at(payload, 0)));
  } else {
    if (section.packets.empty()) return;  // its start was missed
    section.packets.append(packet);
    section.bytes.append(payload);
  }
  if (section.length == 0 && section.bytes.size() >= 3) {
    section.length = 3 + ((std::size_t{byte_at(section.bytes, 1)} & 0x0f) << 8 |
                          std::size_t{byte_at(section.bytes, 2)});
  }
  if (section.length > kMaxSection || section.bytes.size() > kMaxSection + kTsPacketSize)
    section = {};
}

void TsKeyFrameFinder::take_pat(std::string_view section) {
  // table_id, length, transport_stream_id, version, section numbers; programs; CRC.
  if (section.size() < 12 || byte_at(section, 0) != 0x00) return;
  for (std::size_t at = 8; at + 4 + 4 <= section.size(); at += 4) {
    const auto program = static_cast<std::uint16_t>(read_big_endian(section, at, 2));
    if (program == 0) continue;  // the network information table
    const auto pid = static_cast<std::uint16_t>(read_big_endian(section, at + 2, 2) & 0x1fff);
    if (pid != pmt_pid_) {
      pmt_pid_ = pid;
      pmt_ = {};
      pmt_packets_.clear();
      video_pid_ = 0;
      key_frame_start_.reset();
    }
    return;
  }
}

void TsKeyFrameFinder::take_pmt(std::string_view section) {
  if (section.size() < 16 || byte_at(section, 0) != 0x02) return;
  const std::size_t program_info = read_big_endian(section, 10, 2) & 0x0fff;
  std::uint16_t video = 0;
  NalSyntax syntax = NalSyntax::none;
  for (std::size_t at = 12 + program_info; at + 5 + 4 <= section.size();) {
    const std::uint8_t type = byte_at(section, at);
    const auto pid = static_cast<std::uint16_t>(read_big_endian(section, at + 1, 2) & 0x1fff);
    if (is_video_stream_type(type)) {
      video = pid;
      syntax = nal_syntax_of(type);
      break;
    }
    at += 5 + (read_big_endian(section, at + 3, 2) & 0x0fff);
  }
  if (video != video_pid_ || syntax != syntax_) {
    video_pid_ = video;
    syntax_ = syntax;
    key_frame_start_.reset();
    scanning_ = false;
  }
}

void TsKeyFrameFinder::take_video(bool unit_start, bool random_access, std::string_view payload) {
  if (unit_start) {
    scanning_ = false;
    if (random_access) {
      key_frame_start_ = offset_;
      return;
    }
    // Not every muxer sets the flag; the pictures themselves tell, for the codecs read here.
    if (syntax_ == NalSyntax::none) return;
    if (payload.size() < 9 || read_big_endian(payload, 0, 3) != 1) return;
    const std::size_t header = 9 + std::size_t{byte_at(payload, 8)};
    if (header > payload.size()) return;
    payload.remove_prefix(header);
    candidate_ = offset_;
    scan_ = KeyPictureScan(syntax_);
    scanning_ = true;
  }
  if (!scanning_) return;
  switch (scan_.push(payload)) {
    case KeyPictureScan::Result::key:
      key_frame_start_ = candidate_;
      scanning_ = false;
      break;
    case KeyPictureScan::Result::not_key:
      scanning_ = false;
      break;
    case KeyPictureScan::Result::need_more:
      break;
  }
}

void TsKeyFrameFinder::publish_tables() {
  if (pat_packets_.empty() || pmt_packets_.empty()) return;
  if (tables_ && tables_->size() == pat_packets_.size() + pmt_packets_.size() &&
      tables_->compare(0, pat_packets_.size(), pat_packets_) == 0 &&
      tables_->compare(pat_packets_.size(), std::string::npos, pmt_packets_) == 0)
    return;  // repeated unchanged, as muxers do several times a second
  tables_ = std::make_shared<const std::string>(pat_packets_ + pmt_packets_);
}

// ---------------------------------------------------------------------------------------------
// Fragmented MP4

Mp4HeaderParse parse_mp4_box_header(std::string_view bytes, Mp4BoxHeader& header) {
  if (bytes.size() < 8) return Mp4HeaderParse::need_more;
  if (!is_printable_type(bytes.substr(4, 4))) return Mp4HeaderParse::invalid;
  const std::uint64_t size32 = read_big_endian(bytes, 0, 4);
  std::uint64_t size = size32;
  std::size_t header_size = 8;
  if (size32 == 1) {
    if (bytes.size() < 16) return Mp4HeaderParse::need_more;
    size = read_big_endian(bytes, 8, 8);
    header_size = 16;
  }
  if (size32 == 0 || size < header_size || size > kMaxMp4BoxSize) return Mp4HeaderParse::invalid;
  std::copy_n(bytes.begin() + 4, 4, header.type.begin());
  header.size = size;
  header.header_size = header_size;
  return Mp4HeaderParse::complete;
}

std::vector<Mp4TrackDefaults> read_mp4_track_defaults(std::string_view init_segment) {
  std::vector<Mp4TrackDefaults> defaults;
  for_each_box(init_segment, [&](const Mp4BoxHeader& top, std::string_view moov) {
    if (!top.is("moov")) return;
    for_each_box(moov, [&](const Mp4BoxHeader& box, std::string_view mvex) {
      if (!box.is("mvex")) return;
      for_each_box(mvex, [&](const Mp4BoxHeader& child, std::string_view trex) {
        // version and flags, track_ID, description index, duration, size, sample flags
        if (!child.is("trex") || trex.size() < 24) return;
        defaults.push_back({static_cast<std::uint32_t>(read_big_endian(trex, 4, 4)),
                            static_cast<std::uint32_t>(read_big_endian(trex, 20, 4))});
      });
    });
  });
  return defaults;
}

namespace {

enum class TrackStart { no_samples, sync, not_sync, invalid };

struct TrackFragmentFlags {
  bool has_tfhd = false;
  std::uint32_t track_id = 0;
  std::optional<std::uint32_t> default_flags;  // from tfhd
  bool has_samples = false;
  std::optional<std::uint32_t> first_flags;  // from trun
  bool invalid = false;
};

void read_tfhd(std::string_view tfhd, TrackFragmentFlags& flags) {
  if (tfhd.size() < 8) {
    flags.invalid = true;
    return;
  }
  const std::uint64_t present = read_big_endian(tfhd, 1, 3);
  flags.has_tfhd = true;
  flags.track_id = static_cast<std::uint32_t>(read_big_endian(tfhd, 4, 4));
  std::size_t at = 8;
  if ((present & 0x01) != 0) at += 8;  // base data offset
  if ((present & 0x02) != 0) at += 4;  // sample description index
  if ((present & 0x08) != 0) at += 4;  // default duration
  if ((present & 0x10) != 0) at += 4;  // default size
  if ((present & 0x20) == 0) return;
  if (at + 4 > tfhd.size()) {
    flags.invalid = true;
    return;
  }
  flags.default_flags = static_cast<std::uint32_t>(read_big_endian(tfhd, at, 4));
}

void read_first_trun(std::string_view trun, TrackFragmentFlags& flags) {
  if (flags.has_samples) return;  // only the first sample of the fragment counts
  if (trun.size() < 8) {
    flags.invalid = true;
    return;
  }
  const std::uint64_t present = read_big_endian(trun, 1, 3);
  if (read_big_endian(trun, 4, 4) == 0) return;
  flags.has_samples = true;
  std::size_t at = 8;
  if ((present & 0x01) != 0) at += 4;  // data offset
  if ((present & 0x04) != 0) {
    if (at + 4 > trun.size()) {
      flags.invalid = true;
      return;
    }
    flags.first_flags = static_cast<std::uint32_t>(read_big_endian(trun, at, 4));
    return;
  }
  if ((present & 0x400) == 0) return;
  if ((present & 0x100) != 0) at += 4;  // the first sample's duration
  if ((present & 0x200) != 0) at += 4;  // and size come before its flags
  if (at + 4 > trun.size()) {
    flags.invalid = true;
    return;
  }
  flags.first_flags = static_cast<std::uint32_t>(read_big_endian(trun, at, 4));
}

TrackStart track_start(std::string_view traf, const std::vector<Mp4TrackDefaults>& defaults) {
  TrackFragmentFlags flags;
  const bool fits = for_each_box(traf, [&](const Mp4BoxHeader& box, std::string_view payload) {
    if (box.is("tfhd")) read_tfhd(payload, flags);
    if (box.is("trun")) read_first_trun(payload, flags);
  });
  if (!fits || flags.invalid || !flags.has_tfhd) return TrackStart::invalid;
  if (!flags.has_samples) return TrackStart::no_samples;
  std::optional<std::uint32_t> sample_flags = flags.first_flags;
  if (!sample_flags) sample_flags = flags.default_flags;
  for (const Mp4TrackDefaults& track : defaults) {
    if (!sample_flags && track.track_id == flags.track_id) sample_flags = track.sample_flags;
  }
  // Without any flags nothing promises that a decoder can start here.
  constexpr std::uint32_t kNonSyncSample = 0x00010000;
  if (!sample_flags) return TrackStart::not_sync;
  return (*sample_flags & kNonSyncSample) == 0 ? TrackStart::sync : TrackStart::not_sync;
}

}  // namespace

Mp4FragmentStart classify_mp4_fragment(std::string_view moof,
                                       const std::vector<Mp4TrackDefaults>& defaults) {
  Mp4BoxHeader header;
  if (parse_mp4_box_header(moof, header) != Mp4HeaderParse::complete || !header.is("moof") ||
      header.size != moof.size())
    return Mp4FragmentStart::invalid;
  bool any_samples = false;
  bool all_sync = true;
  bool invalid = false;
  const bool fits = for_each_box(moof.substr(header.header_size),
                                 [&](const Mp4BoxHeader& box, std::string_view traf) {
                                   if (!box.is("traf")) return;
                                   switch (track_start(traf, defaults)) {
                                     case TrackStart::no_samples:
                                       break;
                                     case TrackStart::sync:
                                       any_samples = true;
                                       break;
                                     case TrackStart::not_sync:
                                       any_samples = true;
                                       all_sync = false;
                                       break;
                                     case TrackStart::invalid:
                                       invalid = true;
                                       break;
                                   }
                                 });
  if (!fits || invalid) return Mp4FragmentStart::invalid;
  return any_samples && all_sync ? Mp4FragmentStart::sync : Mp4FragmentStart::not_sync;
}

void Mp4FragmentSplitter::push(std::string_view input, std::vector<StreamPiece>& pieces) {
  while (!input.empty()) {
    switch (state_) {
      case State::header:
        take_header_bytes(input, pieces);
        break;
      case State::body:
        take_body_bytes(input, pieces);
        break;
      case State::resync:
        look_for_box(input, pieces);
        break;
    }
  }
}

void Mp4FragmentSplitter::take_header_bytes(std::string_view& input,
                                            std::vector<StreamPiece>& pieces) {
  while (true) {
    Mp4BoxHeader box;
    switch (parse_mp4_box_header(header_, box)) {
      case Mp4HeaderParse::complete:
        start_box(box, pieces);
        return;
      case Mp4HeaderParse::invalid: {
        // The box may begin anywhere after the first byte of what looked like a header.
        std::string held = header_.substr(1);
        header_.clear();
        state_ = State::resync;
        window_fill_ = 0;
        push(held, pieces);
        return;
      }
      case Mp4HeaderParse::need_more:
        break;
    }
    if (input.empty()) return;
    const std::size_t wanted = (header_.size() < 8 ? 8 : 16) - header_.size();
    const std::size_t take = std::min(wanted, input.size());
    header_.append(input.substr(0, take));
    input.remove_prefix(take);
  }
}

void Mp4FragmentSplitter::start_box(const Mp4BoxHeader& box, std::vector<StreamPiece>& pieces) {
  const bool fragment_head = box.is("moof") || box.is("styp") || box.is("sidx");
  bool unit_start = false;
  if (fragment_head) {
    unit_start = !in_fragment_head_;
    in_fragment_head_ = true;
    if (building_init_ && !building_.empty()) {
      init_ = std::make_shared<const std::string>(std::move(building_));
      track_defaults_ = read_mp4_track_defaults(*init_);
    }
    building_init_ = false;
    building_.clear();
  } else {
    in_fragment_head_ = false;
    if (box.is("ftyp")) {
      building_init_ = true;
      building_.clear();
      last_sync_fragment_.reset();  // it belongs to the initialisation segment now replaced
    }
  }
  if (unit_start) fragment_start_ = emitted_;
  holding_moof_ = box.is("moof") && box.size <= kMaxMoof;
  moof_.clear();
  hold_moof(header_);
  emit(header_, unit_start, pieces);
  header_.clear();
  body_left_ = box.size - box.header_size;
  state_ = body_left_ > 0 ? State::body : State::header;
  if (body_left_ == 0) judge_moof();
}

void Mp4FragmentSplitter::take_body_bytes(std::string_view& input,
                                          std::vector<StreamPiece>& pieces) {
  const std::size_t take =
      static_cast<std::size_t>(std::min<std::uint64_t>(body_left_, input.size()));
  hold_moof(input.substr(0, take));
  emit(input.substr(0, take), false, pieces);
  input.remove_prefix(take);
  body_left_ -= take;
  if (body_left_ == 0) {
    state_ = State::header;
    judge_moof();
  }
}

void Mp4FragmentSplitter::hold_moof(std::string_view bytes) {
  if (holding_moof_) moof_.append(bytes);
}

void Mp4FragmentSplitter::judge_moof() {
  if (!holding_moof_) return;
  if (classify_mp4_fragment(moof_, track_defaults_) == Mp4FragmentStart::sync)
    last_sync_fragment_ = fragment_start_;
  holding_moof_ = false;
  moof_.clear();
  // A rare huge moof must not keep its room for good.
  if (moof_.capacity() > 64 * 1024) moof_.shrink_to_fit();
}

void Mp4FragmentSplitter::look_for_box(std::string_view& input, std::vector<StreamPiece>& pieces) {
  while (!input.empty()) {
    window_ = (window_ << 8) | byte_at(input, 0);
    input.remove_prefix(1);
    if (window_fill_ < 8) ++window_fill_;
    if (window_fill_ < 8) continue;
    const auto type = static_cast<std::uint32_t>(window_);
    const std::uint64_t size = window_ >> 32;
    if ((type != four_cc("moof") && type != four_cc("ftyp")) || size < 8 || size > kMaxMp4BoxSize)
      continue;
    header_.clear();
    for (int shift = 56; shift >= 0; shift -= 8)
      header_.push_back(static_cast<char>((window_ >> shift) & 0xff));
    window_fill_ = 0;
    Mp4BoxHeader box;
    parse_mp4_box_header(header_, box);
    start_box(box, pieces);
    return;
  }
}

void Mp4FragmentSplitter::emit(std::string_view bytes, bool unit_start,
                               std::vector<StreamPiece>& pieces) {
  if (building_init_) {
    if (building_.size() + bytes.size() > kMaxInitSegment) {
      building_init_ = false;  // no sane initialisation segment is this large
      building_.clear();
    } else {
      building_.append(bytes);
    }
  }
  if (bytes.empty()) return;
  emitted_ += bytes.size();
  if (unit_start || pieces.empty()) {
    pieces.push_back({std::string(bytes), unit_start});
  } else {
    pieces.back().bytes.append(bytes);
  }
}

// ---------------------------------------------------------------------------------------------
// MJPEG

void JpegFrameSplitter::push(std::string_view input, std::vector<std::string>& frames) {
  while (true) {
    if (state_ == State::seek_start && !seek_start(input)) return;
    frame_.append(input);
    input = {};
    std::size_t boundary = 0;
    const Scan result = scan(boundary);
    if (result == Scan::need_more) {
      if (frame_.size() > max_frame_) {
        frame_.clear();
        state_ = State::seek_start;
      }
      return;
    }
    resumed_.assign(frame_, boundary);
    if (result == Scan::complete && boundary <= max_frame_) {
      frame_.resize(boundary);
      frames.push_back(std::move(frame_));
    }
    frame_.clear();
    state_ = State::seek_start;
    if (resumed_.empty()) return;
    input = resumed_;
  }
}

bool JpegFrameSplitter::seek_start(std::string_view& input) {
  auto begin_frame = [this](std::string_view& rest, std::size_t skip) {
    rest.remove_prefix(skip);
    frame_.assign("\xFF\xD8");
    cursor_ = 2;
    state_ = State::segments;
    return true;
  };
  if (pending_ff_ && !input.empty()) {
    pending_ff_ = false;
    if (byte_at(input, 0) == 0xD8) return begin_frame(input, 1);
  }
  while (!input.empty()) {
    const void* found = std::memchr(input.data(), 0xFF, input.size());
    if (found == nullptr) break;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - input.data());
    if (at + 1 == input.size()) {
      pending_ff_ = true;
      break;
    }
    if (byte_at(input, at + 1) == 0xD8) return begin_frame(input, at + 2);
    input.remove_prefix(at + 1);
  }
  input = {};
  return false;
}

JpegFrameSplitter::Scan JpegFrameSplitter::scan(std::size_t& boundary) {
  while (true) {
    const Scan result = state_ == State::entropy ? scan_entropy() : scan_segments(boundary);
    if (result != Scan::next_state) return result;
  }
}

// Walks marker segments by their lengths, up to EOI or the entropy-coded data after a SOS.
// `boundary` becomes the end of the picture, or where to look for the next one when broken.
JpegFrameSplitter::Scan JpegFrameSplitter::scan_segments(std::size_t& boundary) {
  const std::string_view bytes = frame_;
  // A wrong segment length may have jumped over the next SOI, so the search starts over
  // right after this picture's own.
  boundary = 1;
  while (true) {
    if (cursor_ >= bytes.size()) return Scan::need_more;
    if (byte_at(bytes, cursor_) != 0xFF) return Scan::broken;
    std::size_t at = cursor_;
    while (at < bytes.size() && byte_at(bytes, at) == 0xFF)
      ++at;  // fill bytes
    if (at >= bytes.size()) return Scan::need_more;
    const std::uint8_t marker = byte_at(bytes, at);
    if (marker == 0xD9) {
      boundary = at + 1;
      return Scan::complete;
    }
    if (marker == 0xD8) {
      boundary = at - 1;  // a picture cut short: the next one starts right here
      return Scan::broken;
    }
    if (marker == 0x00) return Scan::broken;
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      cursor_ = at + 1;  // markers without a length
      continue;
    }
    if (at + 2 >= bytes.size()) return Scan::need_more;
    const std::size_t length = (std::size_t{byte_at(bytes, at + 1)} << 8) | byte_at(bytes, at + 2);
    if (length < 2) return Scan::broken;
    cursor_ = at + 1 + length;
    if (marker == 0xDA) {
      state_ = State::entropy;
      return Scan::next_state;
    }
  }
}

// Skips entropy-coded data up to the next marker that is neither stuffing (FF 00) nor a
// restart (FF D0..D7).
JpegFrameSplitter::Scan JpegFrameSplitter::scan_entropy() {
  const std::string_view bytes = frame_;
  while (true) {
    if (cursor_ >= bytes.size()) return Scan::need_more;
    const void* found = std::memchr(bytes.data() + cursor_, 0xFF, bytes.size() - cursor_);
    if (found == nullptr) {
      cursor_ = bytes.size();
      return Scan::need_more;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data());
    if (at + 1 >= bytes.size()) {
      cursor_ = at;
      return Scan::need_more;
    }
    const std::uint8_t next = byte_at(bytes, at + 1);
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
      cursor_ = at + 2;
    } else if (next == 0xFF) {
      cursor_ = at + 1;
    } else {
      cursor_ = at;
      state_ = State::segments;
      return Scan::next_state;
    }
  }
}

}  // namespace vx
