// The FLV tag splitter: tags made here (the codec forms a late joiner must tell apart, and
// streams that are no FLV), and a real FLV from ffmpeg cut at random, rejoined at its key frames
// and decoded again.
#include "transcoder/flv_framing.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/peers.h"

namespace vx {
namespace {

using namespace testing_support;

struct Split {
  FlvTagSplitter splitter;
  std::vector<StreamPiece> pieces;
  std::string joined;  // every piece, in order
};

// `chunk` 0: random sizes up to 3000.
Split split(std::string_view input, std::size_t chunk) {
  Split result;
  std::mt19937 generator(static_cast<std::uint32_t>(input.size()));
  while (!input.empty()) {
    const std::size_t take = std::min(chunk != 0 ? chunk : 1 + generator() % 3000, input.size());
    result.splitter.push(input.substr(0, take), result.pieces);
    input.remove_prefix(take);
  }
  for (const StreamPiece& piece : result.pieces)
    result.joined += piece.bytes;
  return result;
}

std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values)
    text.push_back(static_cast<char>(value));
  return text;
}

std::string big_endian(std::size_t value, int count) {
  std::string text;
  for (int shift = 8 * (count - 1); shift >= 0; shift -= 8)
    text.push_back(static_cast<char>((value >> shift) & 0xff));
  return text;
}

std::string header(int flags, int data_offset = 9) {
  return "FLV" + bytes({1, flags}) + big_endian(data_offset, 4) + big_endian(0, 4);
}

std::string tag(int type, const std::string& data, std::size_t back_pointer = 0) {
  return bytes({type}) + big_endian(data.size(), 3) + bytes({0, 0, 0, 0, 0, 0, 0}) + data +
         big_endian(back_pointer != 0 ? back_pointer : 11 + data.size(), 4);
}

std::string script(const std::string& name, const std::string& value) {
  return tag(18, bytes({2}) + big_endian(name.size(), 2) + name + value);
}

TEST(FlvTagSplitter, MarksWhereALateJoinerStartsAndKeepsWhatItNeedsOrRefusesWhatIsNoFlv) {
  const std::string meta = script("onMetaData", "first"), meta2 = script("onMetaData", "next");
  const std::string avc_config = tag(9, bytes({0x17, 0, 0, 0, 0, 1, 0x64}));
  const std::string avc_key = tag(9, bytes({0x17, 1, 0, 0, 0, 0x65}));
  const std::string aac_config = tag(8, bytes({0xaf, 0, 0x12, 0x10}));
  const std::string aac = tag(8, bytes({0xaf, 1, 0x21}));
  const std::string ex_config = tag(9, bytes({0x90}) + "hvc1" + bytes({1}));  // enhanced form
  struct Row {
    const char* name;
    std::string input;
    std::vector<bool> unit_starts;
    std::string start_bytes;
    bool broken = false;
    std::size_t buffered = 0;
  };
  const std::vector<Row> rows = {
      {"h264 and aac as ffmpeg writes them, ending in an end of sequence with the key type",
       header(5) + meta + avc_config + aac_config + avc_key + aac + tag(9, bytes({0x27, 1, 0})) +
           avc_key + tag(9, bytes({0x17, 2, 0, 0, 0})),
       {false, false, false, true, false, false, true, false},
       header(5) + meta + avc_config + aac_config},
      {"hevc by codec id and enhanced; the latest metadata and configuration count",
       header(1) + meta + tag(9, bytes({0x1c, 0, 1})) + tag(9, bytes({0x1c, 1, 0})) + ex_config +
           tag(9, bytes({0x91}) + "hvc1") + tag(9, bytes({0x93}) + "hvc1") +
           tag(9, bytes({0xa1}) + "hvc1") + tag(9, bytes({0x94}) + "hvc1") + meta2,
       {false, false, true, false, true, true, false, false, false},
       header(1) + meta2 + ex_config},
      {"audio only: every coded audio tag, whatever the codec",
       header(4) + script("onTextData", "x") + aac_config + aac + aac + tag(8, bytes({0x2f, 7})),
       {false, false, true, true, true},
       header(4) + aac_config},
      {"not FLV", "FLX" + header(5).substr(3) + avc_key, {}, "", true},
      {"a header of another length", header(5, 10) + avc_key, {}, "", true},
      {"PreviousTagSize that does not match",
       header(5) + avc_key + tag(9, "\x27", 13) + avc_key,
       {true},
       header(5),
       true},
      {"tag beyond the limit",
       header(5) + bytes({9, 0xff, 0xff, 0xff}) + std::string(64, 'x'),
       {},
       header(5),
       true},
      {"truncated tag",
       header(5) + avc_config + avc_key.substr(0, 15),
       {false},
       header(5) + avc_config,
       false,
       15},
      {"truncated header", header(5).substr(0, 7), {}, "", false, 7},
  };
  for (const Row& row : rows) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{5}, row.input.size()}) {
      SCOPED_TRACE(std::string(row.name) + ", chunks of " + std::to_string(chunk));
      const Split result = split(row.input, chunk);
      std::vector<bool> unit_starts;
      for (const StreamPiece& piece : result.pieces)
        unit_starts.push_back(piece.unit_start);
      EXPECT_EQ(unit_starts, row.unit_starts);
      EXPECT_EQ(result.joined, row.input.substr(std::min<std::size_t>(13, row.input.size()),
                                                result.joined.size()));
      EXPECT_EQ(result.splitter.start_bytes(), row.start_bytes);
      EXPECT_EQ(result.splitter.broken(), row.broken);
      EXPECT_EQ(result.splitter.buffered(), row.buffered);
    }
  }
}

struct Ran {
  std::optional<int> status;
  std::string out;
  std::string err;
};

Ran run(const fs::path& folder, const std::string& name, const std::vector<std::string>& argv) {
  Peer peer(argv, folder / (name + ".out"), folder / (name + ".err"));
  Ran ran{peer.wait(kRunLimit), "", ""};
  ran.out = peer.out();
  ran.err = peer.err();
  return ran;
}

// The decoder's key_frame flag of every video frame of `media`, in order.
std::vector<bool> video_key_frames(const fs::path& folder, const fs::path& media) {
  const Ran ran = run(folder, media.stem().string() + "-frames",
                      {"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                       "frame=key_frame", "-of", "default=nw=1", media.string()});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.err, "");
  std::vector<bool> keys;
  std::istringstream lines(ran.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("key_frame=")) keys.push_back(line == "key_frame=1");
  }
  return keys;
}

TEST(FlvTagSplitter, AnFfmpegStreamRejoinedAtAnyKeyFrameDecodesFromItsFirstFrame) {
  const fs::path folder = fresh_test_folder("vx-flv");
  const Ran made =
      run(folder, "av",
          ffmpeg_argv({"-f",       "lavfi",    "-i",    "testsrc=size=320x240:rate=25",
                       "-f",       "lavfi",    "-i",    "sine=frequency=440:sample_rate=48000",
                       "-t",       "4",        "-c:v",  "libx264",
                       "-preset",  "veryfast", "-g",    "10",
                       "-pix_fmt", "yuv420p",  "-c:a",  "aac",
                       "-f",       "flv",      "pipe:1"}));
  ASSERT_EQ(made.status, 0) << made.err;
  const std::vector<bool> keys = video_key_frames(folder, folder / "av.out");
  std::vector<std::size_t> key_positions;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i]) key_positions.push_back(i);
  }
  ASSERT_GE(key_positions.size(), 5U);

  for (std::size_t chunk : {std::size_t{1}, std::size_t{0}}) {
    const Split result = split(made.out, chunk);
    ASSERT_FALSE(result.splitter.broken());
    EXPECT_TRUE(result.splitter.has_video());
    EXPECT_EQ(result.splitter.buffered(), 0U);
    EXPECT_EQ(result.joined, made.out.substr(13));
    // ffmpeg writes onMetaData and the video and audio configurations right after the header.
    ASSERT_GE(result.pieces.size(), 3U);
    EXPECT_EQ(result.splitter.start_bytes(), made.out.substr(0, 13 + result.pieces[0].bytes.size() +
                                                                    result.pieces[1].bytes.size() +
                                                                    result.pieces[2].bytes.size()));
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < result.pieces.size(); ++i) {
      if (result.pieces[i].unit_start) starts.push_back(i);
    }
    ASSERT_EQ(starts.size(), key_positions.size());
    if (chunk != 0) continue;

    for (std::size_t k : {std::size_t{1}, starts.size() / 2, starts.size() - 1}) {
      SCOPED_TRACE("joined at key frame " + std::to_string(k));
      std::string joined = result.splitter.start_bytes();
      for (std::size_t i = starts[k]; i < result.pieces.size(); ++i)
        joined += result.pieces[i].bytes;
      const fs::path media = folder / ("joined-" + std::to_string(k) + ".flv");
      std::ofstream(media, std::ios::binary) << joined;
      const Ran decoded =
          run(folder, "decode", ffmpeg_argv({"-i", media.string(), "-f", "null", "-"}));
      EXPECT_EQ(decoded.status, 0);
      EXPECT_EQ(decoded.err, "");
      const std::vector<bool> joined_keys = video_key_frames(folder, media);
      EXPECT_EQ(joined_keys.size(), keys.size() - key_positions[k]);
      EXPECT_TRUE(!joined_keys.empty() && joined_keys.front());
      const ProbeResult streams = probe(folder, media.string());
      EXPECT_EQ(streams.error, "");
      EXPECT_GT(streams.packets("audio"), 0);
    }
  }
}

}  // namespace
}  // namespace vx
