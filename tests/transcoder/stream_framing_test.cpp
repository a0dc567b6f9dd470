// The framing of the streams the fan-out serves: input cut at every possible place, broken
// streams that must realign, and garbage that must neither crash nor pile up.
#include "transcoder/stream_framing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace vx {
namespace {

std::string random_bytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes)
    byte = static_cast<char>(generator() & 0xff);
  return bytes;
}

// Feeds `input` in chunks of `chunk` bytes (0: random sizes up to 3000).
void feed_in_chunks(std::string_view input, std::size_t chunk,
                    const std::function<void(std::string_view)>& push) {
  std::mt19937 generator(static_cast<std::uint32_t>(input.size() + chunk));
  while (!input.empty()) {
    const std::size_t size = chunk != 0 ? chunk : 1 + generator() % 3000;
    const std::size_t take = std::min(size, input.size());
    push(input.substr(0, take));
    input.remove_prefix(take);
  }
}

const std::vector<std::size_t> kChunkSizes = {1, 2, 7, 187, 188, 189, 1000, 65536, 0};

// ---------------------------------------------------------------------------------------------
// MPEG-TS

// Packets with a sync byte, a counter in the header and payloads free of 0x47, so that any
// misalignment shows.
std::string ts_packets(std::size_t count, std::uint32_t first = 0) {
  std::string stream;
  for (std::uint32_t n = first; n < first + count; ++n) {
    std::string packet(kTsPacketSize, static_cast<char>(n % 0x40));
    packet[0] = kTsSyncByte;
    packet[1] = 0x01;
    packet[3] = static_cast<char>(0x10 | (n & 0x0f));
    packet[4] = static_cast<char>(n & 0xff);
    packet[5] = static_cast<char>((n >> 8) & 0xff);
    stream += packet;
  }
  return stream;
}

std::string align(std::string_view input, std::size_t chunk, std::size_t* most_buffered = nullptr) {
  TsPacketAligner aligner;
  std::string packets;
  feed_in_chunks(input, chunk, [&](std::string_view bytes) {
    aligner.push(bytes, packets);
    if (most_buffered) *most_buffered = std::max(*most_buffered, aligner.buffered());
  });
  return packets;
}

TEST(TsPacketAligner, AlignedStreamPassesThroughUnchangedHoweverItIsCut) {
  const std::string stream = ts_packets(300);
  for (std::size_t chunk : kChunkSizes)
    EXPECT_EQ(align(stream, chunk), stream) << chunk;
}

TEST(TsPacketAligner, StartsAtTheFirstRunOfThreeSyncBytes) {
  // Two decoy sync bytes a packet apart, without a third: a single match is not enough.
  std::string garbage(1000, '\0');
  garbage[5] = kTsSyncByte;
  garbage[5 + kTsPacketSize] = kTsSyncByte;
  const std::string stream = ts_packets(40);
  for (std::size_t chunk : kChunkSizes)
    EXPECT_EQ(align(garbage + stream, chunk), stream) << chunk;
}

TEST(TsPacketAligner, RealignsAfterPacketLosesBytes) {
  const std::string before = ts_packets(20);
  std::string broken = ts_packets(1, 20);
  broken.erase(100, 10);  // a packet ten bytes short swallows the start of the next one
  const std::string next = ts_packets(1, 21);
  const std::string after = ts_packets(28, 22);
  const std::string input = before + broken + next + after;
  for (std::size_t chunk : kChunkSizes) {
    const std::string output = align(input, chunk);
    ASSERT_EQ(output.size() % kTsPacketSize, 0U) << chunk;
    // Whole packets before the damage, the damaged one, then back in step from packet 22 on.
    EXPECT_EQ(output.substr(0, before.size()), before) << chunk;
    EXPECT_EQ(output.size(), before.size() + kTsPacketSize + after.size()) << chunk;
    EXPECT_EQ(output.substr(output.size() - after.size()), after) << chunk;
  }
}

TEST(TsPacketAligner, GarbageNeverPilesUp) {
  const std::string garbage = random_bytes(4 << 20, 1);
  std::size_t most_buffered = 0;
  const std::string output = align(garbage, 0, &most_buffered);
  EXPECT_LE(most_buffered, 2 * kTsPacketSize);
  ASSERT_EQ(output.size() % kTsPacketSize, 0U);
  for (std::size_t at = 0; at < output.size(); at += kTsPacketSize)
    ASSERT_EQ(output[at], kTsSyncByte);
}

// ---------------------------------------------------------------------------------------------
// Fragmented MP4

std::string big_endian(std::uint64_t value, int bytes) {
  std::string text;
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
    text.push_back(static_cast<char>((value >> shift) & 0xff));
  return text;
}

std::string box(std::string_view type, std::size_t body_size, char fill = 'x') {
  return big_endian(8 + body_size, 4) + std::string(type) + std::string(body_size, fill);
}

std::string large_box(std::string_view type, std::size_t body_size, char fill = 'y') {
  return big_endian(1, 4) + std::string(type) + big_endian(16 + body_size, 8) +
         std::string(body_size, fill);
}

TEST(Mp4BoxHeader, ReadsSizesAndRefusesImpossibleOnes) {
  struct Case {
    std::string bytes;
    Mp4HeaderParse result;
    std::uint64_t size;
    std::size_t header_size;
  };
  const std::vector<Case> cases = {
      {big_endian(16, 4) + "moov", Mp4HeaderParse::complete, 16, 8},
      {big_endian(1, 4) + "mdat" + big_endian(100000, 8), Mp4HeaderParse::complete, 100000, 16},
      {big_endian(8, 4) + "free", Mp4HeaderParse::complete, 8, 8},
      {std::string(7, '\0'), Mp4HeaderParse::need_more, 0, 0},
      {big_endian(1, 4) + "mdat" + std::string(7, '\0'), Mp4HeaderParse::need_more, 0, 0},
      {big_endian(0, 4) + "mdat", Mp4HeaderParse::invalid, 0, 0},  // "to the end of the file"
      {big_endian(7, 4) + "moof", Mp4HeaderParse::invalid, 0, 0},
      {big_endian(1, 4) + "mdat" + big_endian(15, 8), Mp4HeaderParse::invalid, 0, 0},
      {big_endian(1, 4) + "mdat" + big_endian(std::uint64_t{1} << 40, 8), Mp4HeaderParse::invalid,
       0, 0},
      {big_endian(16, 4) + std::string("mo\x01v", 4), Mp4HeaderParse::invalid, 0, 0},
  };
  for (const Case& c : cases) {
    Mp4BoxHeader header;
    const Mp4HeaderParse result = parse_mp4_box_header(c.bytes, header);
    EXPECT_EQ(result, c.result) << c.bytes.substr(4, 4);
    if (result != Mp4HeaderParse::complete) continue;
    EXPECT_EQ(header.size, c.size);
    EXPECT_EQ(header.header_size, c.header_size);
    EXPECT_EQ(std::string(header.type.data(), 4), c.bytes.substr(4, 4));
  }
}

struct SplitResult {
  std::string bytes;                     // every piece, joined
  std::vector<std::size_t> unit_starts;  // offsets in `bytes`
  std::string init;
  std::size_t most_buffered = 0;
};

SplitResult split_mp4(std::string_view input, std::size_t chunk) {
  Mp4FragmentSplitter splitter;
  SplitResult result;
  feed_in_chunks(input, chunk, [&](std::string_view bytes) {
    std::vector<StreamPiece> pieces;
    splitter.push(bytes, pieces);
    for (const StreamPiece& piece : pieces) {
      if (piece.unit_start) result.unit_starts.push_back(result.bytes.size());
      result.bytes += piece.bytes;
    }
    result.most_buffered = std::max(result.most_buffered, splitter.buffered());
  });
  if (auto init = splitter.init_segment()) result.init = *init;
  return result;
}

TEST(Mp4FragmentSplitter, KeepsTheInitSegmentAndStartsUnitsAtEachFragment) {
  const std::string init = box("ftyp", 16) + box("moov", 700);
  const std::string first = box("moof", 90) + large_box("mdat", 5000);
  const std::string second = box("moof", 80) + box("mdat", 3000);
  const std::string input = init + first + second;
  for (std::size_t chunk : {1, 3, 8, 15, 16, 17, 100, 4096, 0}) {
    const SplitResult result = split_mp4(input, chunk);
    EXPECT_EQ(result.bytes, input) << chunk;
    EXPECT_EQ(result.init, init) << chunk;
    EXPECT_EQ(result.unit_starts,
              (std::vector<std::size_t>{init.size(), init.size() + first.size()}))
        << chunk;
  }
}

TEST(Mp4FragmentSplitter, StypAndSidxOpenTheirFragment) {
  const std::string init = box("ftyp", 16) + box("moov", 100);
  const std::string fragment =
      box("styp", 12) + box("sidx", 40) + box("moof", 60) + box("mdat", 200);
  const SplitResult result = split_mp4(init + fragment + fragment, 5);
  EXPECT_EQ(result.unit_starts,
            (std::vector<std::size_t>{init.size(), init.size() + fragment.size()}));
}

TEST(Mp4FragmentSplitter, LaterFtypReplacesTheInitSegment) {
  const std::string fragment = box("moof", 60) + box("mdat", 200);
  const std::string old_init = box("ftyp", 16, 'a') + box("moov", 100, 'a');
  const std::string new_init = box("ftyp", 16, 'b') + box("moov", 120, 'b');
  EXPECT_EQ(split_mp4(old_init + fragment, 7).init, old_init);
  EXPECT_EQ(split_mp4(old_init + fragment + new_init + fragment, 7).init, new_init);
}

TEST(Mp4FragmentSplitter, ResumesAtTheNextFragmentAfterBrokenInput) {
  const std::string init = box("ftyp", 16) + box("moov", 100);
  const std::string fragment = box("moof", 60) + box("mdat", 200);
  // A box claiming to be three bytes long, then noise without any box header in it.
  const std::string broken = big_endian(3, 4) + "mdat" + std::string(500, '\0');
  for (std::size_t chunk : {1, 9, 64, 0}) {
    const SplitResult result = split_mp4(init + fragment + broken + fragment, chunk);
    EXPECT_EQ(result.bytes, init + fragment + fragment) << chunk;
    EXPECT_EQ(result.unit_starts,
              (std::vector<std::size_t>{init.size(), init.size() + fragment.size()}))
        << chunk;
  }
}

TEST(Mp4FragmentSplitter, FindsTheFirstFragmentAfterLeadingNoise) {
  const std::string fragment = box("moof", 60) + box("mdat", 200);
  const SplitResult result = split_mp4(std::string(333, '\xff') + fragment, 10);
  EXPECT_EQ(result.bytes, fragment);
  EXPECT_EQ(result.unit_starts, (std::vector<std::size_t>{0}));
}

TEST(Mp4FragmentSplitter, GarbageNeverPilesUp) {
  const SplitResult result = split_mp4(random_bytes(4 << 20, 2), 0);
  EXPECT_LE(result.most_buffered, 16 + Mp4FragmentSplitter::kMaxInitSegment);
}

// ---------------------------------------------------------------------------------------------
// MJPEG

// A picture whose APP1 segment carries an embedded thumbnail (its own FF D8 ... FF D9), whose
// entropy-coded data holds stuffed FF 00 bytes and a restart marker, as real encoders write.
std::string jpeg_picture(int number) {
  auto segment = [](std::uint8_t marker, std::string_view payload) {
    return std::string{'\xff', static_cast<char>(marker)} + big_endian(payload.size() + 2, 2) +
           std::string(payload);
  };
  std::string picture = "\xff\xd8";
  picture += segment(0xe1, std::string("Exif\0\0", 6) + "\xff\xd8\xff\xdb thumbnail \xff\xd9");
  picture += segment(0xdb, std::string(65, static_cast<char>(number)));
  picture += segment(0xc0, std::string(15, '\x01'));
  picture += segment(0xda, std::string(10, '\x02'));
  std::mt19937 generator(static_cast<std::uint32_t>(number));
  for (int i = 0; i < 2000 + number * 37; ++i) {
    const auto byte = static_cast<char>(generator() & 0xff);
    picture.push_back(byte);
    if (byte == '\xff') picture.push_back('\0');
    if (i == 1000) picture += "\xff\xd3";
  }
  picture += "\xff\xd9";
  return picture;
}

struct JpegResult {
  std::vector<std::string> frames;
  std::size_t most_buffered = 0;
};

JpegResult split_jpeg(std::string_view input, std::size_t chunk,
                      std::size_t max_frame = JpegFrameSplitter::kDefaultMaxFrame) {
  JpegFrameSplitter splitter(max_frame);
  JpegResult result;
  feed_in_chunks(input, chunk, [&](std::string_view bytes) {
    splitter.push(bytes, result.frames);
    result.most_buffered = std::max(result.most_buffered, splitter.buffered());
  });
  return result;
}

TEST(JpegFrameSplitter, CutsWholePicturesHoweverTheStreamIsCut) {
  std::vector<std::string> pictures;
  std::string stream;
  for (int n = 1; n <= 5; ++n) {
    pictures.push_back(jpeg_picture(n));
    stream += pictures.back();
  }
  for (std::size_t chunk : {1, 2, 3, 7, 100, 4096, 0})
    EXPECT_EQ(split_jpeg(stream, chunk).frames, pictures) << chunk;
}

TEST(JpegFrameSplitter, SkipsBytesBetweenPictures) {
  const std::string noise =
      std::string("\x00\xff\x00\xff\xff\x12", 6) + std::string(50, 'n') + "\xff";
  const std::string stream = noise + jpeg_picture(1) + noise + jpeg_picture(2) + noise;
  for (std::size_t chunk : {1, 5, 0}) {
    EXPECT_EQ(split_jpeg(stream, chunk).frames,
              (std::vector<std::string>{jpeg_picture(1), jpeg_picture(2)}))
        << chunk;
  }
}

TEST(JpegFrameSplitter, DropsATruncatedPictureAndKeepsTheNextOne) {
  const std::string picture = jpeg_picture(1);
  const std::vector<std::string> expected = {jpeg_picture(2), jpeg_picture(3)};
  // Cut inside the entropy-coded data, and inside the APP1 segment whose length then runs
  // into the next picture.
  for (std::size_t cut : {picture.size() - 500, std::size_t{12}}) {
    const std::string stream = picture.substr(0, cut) + expected[0] + expected[1];
    for (std::size_t chunk : {1, 64, 0})
      EXPECT_EQ(split_jpeg(stream, chunk).frames, expected) << cut << " " << chunk;
  }
}

TEST(JpegFrameSplitter, DropsPicturesOverTheLimitWithoutHoldingThem) {
  const std::size_t limit = 16 * 1024;
  std::string huge = jpeg_picture(1);
  huge.insert(huge.size() - 2, std::string(40 * 1024, '\x11'));  // more entropy-coded data
  const std::string small = jpeg_picture(2);
  const JpegResult result = split_jpeg(huge + small, 1000, limit);
  EXPECT_EQ(result.frames, std::vector<std::string>{small});
  EXPECT_LE(result.most_buffered, limit);
}

TEST(JpegFrameSplitter, GarbageNeverPilesUp) {
  const std::size_t limit = 64 * 1024;
  const JpegResult result = split_jpeg(random_bytes(4 << 20, 3), 0, limit);
  EXPECT_LE(result.most_buffered, limit);
  for (const std::string& frame : result.frames) {
    ASSERT_GE(frame.size(), 4U);
    EXPECT_EQ(frame.substr(0, 2), "\xff\xd8");
    EXPECT_EQ(frame.substr(frame.size() - 2), "\xff\xd9");
  }
}

}  // namespace
}  // namespace vx
