#include "transcoder/stream_framing.h"

#include <algorithm>
#include <cstring>

namespace vx {
namespace {

std::uint8_t byte_at(std::string_view bytes, std::size_t index) {
  return static_cast<std::uint8_t>(bytes[index]);
}

std::uint64_t read_big_endian(std::string_view bytes, std::size_t offset, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i)
    value = (value << 8) | byte_at(bytes, offset + i);
  return value;
}

bool is_printable_type(std::string_view type) {
  return std::all_of(type.begin(), type.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

constexpr std::uint32_t four_cc(const char (&name)[5]) {
  return (std::uint32_t{static_cast<std::uint8_t>(name[0])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(name[1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(name[2])} << 8) |
         std::uint32_t{static_cast<std::uint8_t>(name[3])};
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
    if (building_init_ && !building_.empty())
      init_ = std::make_shared<const std::string>(std::move(building_));
    building_init_ = false;
    building_.clear();
  } else {
    in_fragment_head_ = false;
    if (box.is("ftyp")) {
      building_init_ = true;
      building_.clear();
    }
  }
  emit(header_, unit_start, pieces);
  header_.clear();
  body_left_ = box.size - box.header_size;
  state_ = body_left_ > 0 ? State::body : State::header;
}

void Mp4FragmentSplitter::take_body_bytes(std::string_view& input,
                                          std::vector<StreamPiece>& pieces) {
  const std::size_t take =
      static_cast<std::size_t>(std::min<std::uint64_t>(body_left_, input.size()));
  emit(input.substr(0, take), false, pieces);
  input.remove_prefix(take);
  body_left_ -= take;
  if (body_left_ == 0) state_ = State::header;
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
