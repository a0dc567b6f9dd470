// The framing of the streams the fan-out serves: input cut at every possible place, broken
// streams that must realign, and garbage that must neither crash nor pile up.
#include "transcoder/stream_framing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/synthetic_ts.h"

namespace vx {
namespace {

using namespace testing_support;

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
// Where a new MPEG-TS viewer can start decoding

struct Picture {
  std::string elementary;
  bool flagged = false;  // the random access flag on its first packet
};

struct KeyFrameCase {
  const char* name;
  std::uint8_t video_type;
  std::vector<Picture> pictures;
  int key_frame;  // the picture a new viewer starts at; -1 for none
};

TEST(TsKeyFrameFinder, FindsTheLatestKeyFrameByItsFlagOrItsPictureHoweverPacketsArrive) {
  const Picture idr{h264_picture(true), false};
  const Picture other{h264_picture(false), false};
  const std::vector<KeyFrameCase> cases = {
      {"flagged", 0x1b, {{h264_picture(true), true}, other, other}, 0},
      {"muxer never sets the flag", 0x1b, {idr, other, idr, other, other}, 2},
      {"start code cut by a packet boundary", 0x1b, {other, {h264_picture(true, 140)}, other}, 1},
      {"first picture three packets in", 0x1b, {{h264_picture(true, 400)}, other}, 0},
      {"no key frame yet", 0x1b, {other, other}, -1},
      {"hevc cra", 0x24, {{hevc_picture(21)}, {hevc_picture(1)}}, 0},
      {"hevc idr", 0x24, {{hevc_picture(1)}, {hevc_picture(19)}, {hevc_picture(1)}}, 1},
      // Codecs whose pictures are not read count on the flag alone.
      {"mpeg-2 unflagged", 0x02, {idr, idr}, -1},
      {"mpeg-2 flagged", 0x02, {idr, {h264_picture(false), true}, idr}, 1},
  };
  for (const KeyFrameCase& c : cases) {
    std::string stream = ts_pat() + ts_pmt(c.video_type);
    std::vector<std::uint64_t> starts;
    for (const Picture& picture : c.pictures) {
      stream += ts_pes(kAudioPid, "audio", false);
      starts.push_back(stream.size());
      stream += ts_pes(kVideoPid, picture.elementary, picture.flagged);
    }
    for (std::size_t packets : {std::size_t{1}, std::size_t{3}, stream.size()}) {
      TsKeyFrameFinder finder;
      feed_in_chunks(stream, packets * kTsPacketSize,
                     [&](std::string_view bytes) { finder.push(bytes); });
      SCOPED_TRACE(std::string(c.name) + ", packets at a time: " + std::to_string(packets));
      EXPECT_EQ(finder.video_pid(), kVideoPid);
      ASSERT_NE(finder.tables(), nullptr);
      EXPECT_EQ(*finder.tables(), ts_pat() + ts_pmt(c.video_type));
      if (c.key_frame < 0) {
        EXPECT_FALSE(finder.key_frame_start().has_value());
      } else {
        EXPECT_EQ(finder.key_frame_start(), starts[static_cast<std::size_t>(c.key_frame)]);
      }
    }
  }
}

TEST(TsKeyFrameFinder, ForgetsTheKeyFrameWhenTheVideoStreamChanges) {
  TsKeyFrameFinder finder;
  finder.push(ts_pat() + ts_pmt(0x1b) + ts_pes(kVideoPid, h264_picture(true), false));
  ASSERT_TRUE(finder.key_frame_start().has_value());
  finder.push(ts_pmt(0x24));  // now HEVC: that picture is of no use to a new viewer
  EXPECT_FALSE(finder.key_frame_start().has_value());
  EXPECT_EQ(*finder.tables(), ts_pat() + ts_pmt(0x24));
}

TEST(TsKeyFrameFinder, GarbagePacketsNeitherCrashNorPileUp) {
  std::string garbage = random_bytes(2 << 20, 4);
  std::mt19937 generator(9);
  for (std::size_t at = 0; at < garbage.size(); at += kTsPacketSize) {
    garbage[at] = kTsSyncByte;
    // Many on the PAT, PMT and video PIDs, so every parser meets noise.
    const std::uint16_t pids[] = {0, kPmtPid, kVideoPid, static_cast<std::uint16_t>(generator())};
    const std::uint16_t pid = pids[generator() % 4] & 0x1fff;
    garbage[at + 1] = static_cast<char>((garbage[at + 1] & 0x40) | (pid >> 8));
    garbage[at + 2] = static_cast<char>(pid & 0xff);
  }
  TsKeyFrameFinder finder;
  std::size_t most_held = 0;
  feed_in_chunks(garbage, 50 * kTsPacketSize, [&](std::string_view bytes) {
    finder.push(bytes);
    most_held = std::max(most_held, finder.held());
  });
  EXPECT_LE(most_held, 12U * 1024);
  if (finder.key_frame_start()) {
    EXPECT_LT(*finder.key_frame_start(), garbage.size());
  }
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

// Fragments as ffmpeg writes them: per track a tfhd (default flags optional) and a trun whose
// first sample's flags stand apart, stand among per-sample flags, or are left to the defaults.
constexpr std::uint32_t kSync = 0x02000000;
constexpr std::uint32_t kNonSync = 0x01010000;

std::string boxed(std::string_view type, std::string_view body) {
  return big_endian(8 + body.size(), 4) + std::string(type) + std::string(body);
}

enum class FirstFlags { apart, per_sample, defaults };

std::string traf(std::uint32_t track, std::optional<std::uint32_t> default_flags,
                 std::uint32_t samples, FirstFlags where, std::uint32_t first = 0) {
  std::string tfhd = big_endian(default_flags ? 0x020020 : 0x020000, 4) + big_endian(track, 4);
  if (default_flags) tfhd += big_endian(*default_flags, 4);
  const std::uint32_t run_flags = where == FirstFlags::apart        ? 0x000205
                                  : where == FirstFlags::per_sample ? 0x000701
                                                                    : 0x000201;
  std::string trun = big_endian(run_flags, 4) + big_endian(samples, 4) + big_endian(0x99, 4);
  if (where == FirstFlags::apart) trun += big_endian(first, 4);
  for (std::uint32_t n = 0; n < samples; ++n) {
    if (where == FirstFlags::per_sample) trun += big_endian(512, 4);  // duration
    trun += big_endian(1000 + n, 4);                                  // size
    if (where == FirstFlags::per_sample) trun += big_endian(n == 0 ? first : kNonSync, 4);
  }
  return boxed("traf", boxed("tfhd", tfhd) + boxed("tfdt", big_endian(0, 8)) + boxed("trun", trun));
}

std::string moof(const std::vector<std::string>& trafs) {
  std::string body = boxed("mfhd", big_endian(0, 4) + big_endian(1, 4));
  for (const std::string& one : trafs)
    body += one;
  return boxed("moof", body);
}

std::string trex(std::uint32_t track, std::uint32_t flags) {
  return boxed("trex", big_endian(0, 4) + big_endian(track, 4) + big_endian(1, 4) +
                           big_endian(0, 8) + big_endian(flags, 4));
}

// Track 1 is video, 2 audio; the trex defaults say so.
std::string init_segment() {
  return boxed("ftyp", "isom") +
         boxed("moov", boxed("mvhd", std::string(100, 'v')) +
                           boxed("mvex", trex(1, kNonSync) + trex(2, kSync)));
}

TEST(Mp4Fragments, TrackDefaultsComeFromTheInitSegmentsTrex) {
  const std::vector<Mp4TrackDefaults> defaults = read_mp4_track_defaults(init_segment());
  ASSERT_EQ(defaults.size(), 2U);
  EXPECT_EQ(defaults[0].track_id, 1U);
  EXPECT_EQ(defaults[0].sample_flags, kNonSync);
  EXPECT_EQ(defaults[1].track_id, 2U);
  EXPECT_EQ(defaults[1].sample_flags, kSync);
  EXPECT_TRUE(read_mp4_track_defaults(std::string(200, 'x')).empty());
}

TEST(Mp4Fragments, AFragmentIsAStartWhenEveryTracksFirstSampleIsSync) {
  const std::vector<Mp4TrackDefaults> defaults = read_mp4_track_defaults(init_segment());
  const std::string audio = traf(2, kSync, 20, FirstFlags::defaults);
  struct Case {
    const char* name;
    std::string moof;
    Mp4FragmentStart expected;
  };
  const std::string cut = moof({traf(1, kNonSync, 5, FirstFlags::apart, kSync), audio});
  const std::vector<Case> cases = {
      {"first sample apart", moof({traf(1, kNonSync, 5, FirstFlags::apart, kSync), audio}),
       Mp4FragmentStart::sync},
      {"first sample apart, not sync",
       moof({traf(1, kNonSync, 5, FirstFlags::apart, kNonSync), audio}),
       Mp4FragmentStart::not_sync},
      {"per-sample flags", moof({traf(1, std::nullopt, 5, FirstFlags::per_sample, kSync), audio}),
       Mp4FragmentStart::sync},
      {"tfhd default sync", moof({traf(1, kSync, 5, FirstFlags::defaults), audio}),
       Mp4FragmentStart::sync},
      {"tfhd default not sync", moof({traf(1, kNonSync, 5, FirstFlags::defaults), audio}),
       Mp4FragmentStart::not_sync},
      {"trex default not sync", moof({traf(1, std::nullopt, 5, FirstFlags::defaults), audio}),
       Mp4FragmentStart::not_sync},
      {"trex default sync", moof({traf(2, std::nullopt, 5, FirstFlags::defaults)}),
       Mp4FragmentStart::sync},
      {"no flags anywhere", moof({traf(7, std::nullopt, 5, FirstFlags::defaults)}),
       Mp4FragmentStart::not_sync},
      {"empty video track fragment",
       moof({traf(1, kNonSync, 0, FirstFlags::defaults), traf(2, kSync, 3, FirstFlags::defaults)}),
       Mp4FragmentStart::sync},
      {"no samples at all", moof({traf(1, kNonSync, 0, FirstFlags::defaults)}),
       Mp4FragmentStart::not_sync},
      {"cut short", cut.substr(0, cut.size() - 10), Mp4FragmentStart::invalid},
      {"trun shorter than its flags say",
       moof({boxed("traf", boxed("tfhd", big_endian(0, 4) + big_endian(1, 4)) +
                               boxed("trun", big_endian(0x000005, 4) + big_endian(1, 4)))}),
       Mp4FragmentStart::invalid},
      {"not a moof", boxed("mdat", std::string(50, '\0')), Mp4FragmentStart::invalid},
  };
  for (const Case& c : cases)
    EXPECT_EQ(classify_mp4_fragment(c.moof, defaults), c.expected) << c.name;
}

TEST(Mp4FragmentSplitter, RemembersTheLatestFragmentThatStartsWithASyncSample) {
  const std::string init = init_segment();
  const std::string audio = traf(2, kSync, 20, FirstFlags::defaults);
  // As "-movflags dash" writes them: two sidx boxes lead each fragment.
  auto fragment = [&](std::uint32_t first) {
    return box("sidx", 44) + box("sidx", 44) +
           moof({traf(1, kNonSync, 5, FirstFlags::apart, first), audio}) + box("mdat", 3000);
  };
  const std::string key = fragment(kSync);
  const std::string other = fragment(kNonSync);
  const std::string stream = init + key + other + other + key + other;
  const std::uint64_t second_key = init.size() + key.size() + 2 * other.size();
  for (std::size_t chunk : {1, 7, 100, 0}) {
    Mp4FragmentSplitter splitter;
    std::vector<std::uint64_t> seen;  // after each chunk
    feed_in_chunks(stream, chunk, [&](std::string_view bytes) {
      std::vector<StreamPiece> pieces;
      splitter.push(bytes, pieces);
      if (auto start = splitter.last_sync_fragment()) seen.push_back(*start);
    });
    ASSERT_FALSE(seen.empty()) << chunk;
    EXPECT_EQ(seen.front(), init.size()) << chunk;
    EXPECT_EQ(seen.back(), second_key) << chunk;
    // A new initialisation segment makes the old fragments useless to a new viewer.
    std::vector<StreamPiece> pieces;
    splitter.push(init, pieces);
    EXPECT_FALSE(splitter.last_sync_fragment().has_value()) << chunk;
  }
}

TEST(Mp4FragmentSplitter, GarbageNeverPilesUp) {
  const SplitResult result = split_mp4(random_bytes(4 << 20, 2), 0);
  EXPECT_LE(result.most_buffered,
            16 + Mp4FragmentSplitter::kMaxInitSegment + Mp4FragmentSplitter::kMaxMoof);
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

// A picture without its APP1 segment (and the embedded thumbnail in it), its quantisation table's
// segment then first, with that segment's length set to `length`.
std::string with_table_length(std::string picture, std::size_t length) {
  const std::size_t app1_length = byte_at(picture, 4) * 256 + byte_at(picture, 5);
  picture.erase(2, 2 + app1_length);
  picture.replace(4, 2, big_endian(length, 2));
  return picture;
}

// Only whole pictures come out, the same ones however the stream is cut: in two at every byte,
// and in pieces of fixed and random sizes. Bytes between pictures, a picture cut short, one over
// the limit and one whose segment length lies are dropped, and the pictures after them are kept.
TEST(JpegFrameSplitter, CutsOutTheWholePicturesWhereverTheStreamIsCut) {
  const std::size_t limit = 4096;
  const std::string one = jpeg_picture(1);
  const std::string two = jpeg_picture(2);
  const std::string three = jpeg_picture(3);
  std::string huge = jpeg_picture(4);
  huge.insert(huge.size() - 2, std::string(limit, '\x11'));  // more entropy-coded data
  const std::string noise =
      std::string("\x00\xff\x00\xff\xff\x12", 6) + std::string(50, 'n') + "\xff";
  struct Case {
    const char* what;
    std::string stream;
    std::vector<std::string> pictures;
  };
  const Case cases[] = {
      {"back to back", one + two + three, {one, two, three}},
      {"garbage around", noise + one + noise + two + noise, {one, two}},
      {"cut in the entropy-coded data",
       one.substr(0, one.size() - 500) + two + three,
       {two, three}},
      // Its APP1 segment's length then runs into the next picture.
      {"cut in a segment", one.substr(0, 12) + two + three, {two, three}},
      {"cut at the end", one + two.substr(0, 1000), {one}},
      {"over the limit", huge + two, {two}},
      {"a length too short", with_table_length(one, 10) + two, {two}},
      {"a length past the end", with_table_length(one, 3000) + std::string(2000, 'n') + two, {two}},
  };
  const auto split = [&](const std::vector<std::string_view>& pieces) {
    JpegFrameSplitter splitter(limit);
    std::vector<std::string> frames;
    std::size_t most_buffered = 0;
    for (const std::string_view piece : pieces) {
      splitter.push(piece, frames);
      most_buffered = std::max(most_buffered, splitter.buffered());
    }
    EXPECT_LE(most_buffered, limit);
    return frames;
  };
  for (const Case& c : cases) {
    ASSERT_LE(two.size(), limit);
    const std::string_view stream = c.stream;
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      ASSERT_EQ(split({stream.substr(0, cut), stream.substr(cut)}), c.pictures)
          << c.what << ", cut at " << cut;
    }
    for (std::size_t chunk : {1, 7, 100, 0}) {
      std::vector<std::string_view> pieces;
      feed_in_chunks(stream, chunk, [&](std::string_view piece) { pieces.push_back(piece); });
      EXPECT_EQ(split(pieces), c.pictures) << c.what << ", pieces of " << chunk;
    }
  }
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
