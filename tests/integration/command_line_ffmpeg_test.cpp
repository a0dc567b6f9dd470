// The argument lines the engine composes, run through the installed ffmpeg exactly as the
// transcoder splits them, and the streams ffmpeg writes read back with ffprobe.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/json.h"
#include "engine/channel_compiler.h"
#include "engine/command_line.h"
#include "platform/unique_fd.h"
#include "tests/support/peers.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

using namespace testing_support;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr CodecId kCodecAac = 8;
const std::vector<std::string> kH264Aac = {"audio aac", "video h264"};

// The new-channel template's target: h264 with the "faster" preset and a key frame every 5 s,
// stereo aac.
EngineTarget template_target(FormatId format, const fs::path& url) {
  EngineTarget target;
  target.format = format;
  target.url = url.string();
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.video.key_frame_interval = 5;
  target.video.quality = 0;
  target.video.bitrate_kbps = 0;
  target.video.options = "-preset:v faster";
  target.audio.enable = true;
  target.audio.codec = kCodecAac;
  target.audio.channels = 2;
  return target;
}

class EngineLine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = fs::temp_directory_path() / ("vx-integration-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    clip_ = folder_ / "clip.mp4";
    Peer maker(ffmpeg_argv({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=3", "-f",
                            "lavfi", "-i", "sine=frequency=440:duration=3", "-c:v", "libx264",
                            "-c:a", "aac", clip_.string()}),
               "/dev/null", folder_ / "clip.err");
    clip_ready_ = maker.wait(kRunLimit) == 0;
  }
  static void TearDownTestSuite() { fs::remove_all(folder_); }

  void SetUp() override {
    ASSERT_TRUE(clip_ready_) << "no test clip: " << read_text(folder_ / "clip.err");
  }

  static EngineSource clip_source() {
    EngineSource source;
    source.kind = FormatId::file;
    source.url = clip_.string();
    return source;
  }

  static fs::path session_file(int slot, const char* direction) {
    char name[32];
    std::snprintf(name, sizeof name, "morv_%03d_%s.sdp", slot + 1, direction);
    return folder_ / name;
  }

  static void compose(const StartRequest& request, int slot, std::string& line) {
    const CommandSettings settings{slot, 0, "", folder_.string() + "/", ""};
    ASSERT_EQ(build_command_line(request, settings, line), 0) << "built so far: " << line;
  }

  // Starts ffmpeg on the line, split as the transcoder splits it; its messages go to `err`.
  static std::unique_ptr<Peer> start_ffmpeg(const std::string& line, const fs::path& err) {
    const std::vector<std::string> arguments = split_argument_line(line);
    EXPECT_EQ(std::count(arguments.begin(), arguments.end(), ""), 0) << "empty argument: " << line;
    return std::make_unique<Peer>(ffmpeg_argv(arguments), "/dev/null", err);
  }

  static void expect_clean_exit(Peer& ffmpeg, const std::string& line, const fs::path& err) {
    const std::optional<int> status = ffmpeg.wait(kRunLimit);
    ASSERT_TRUE(status.has_value()) << "ffmpeg killed after " << kRunLimit.count()
                                    << " s\nline: " << line << "\nffmpeg: " << read_text(err);
    ASSERT_EQ(*status, 0) << "line: " << line << "\nffmpeg: " << read_text(err);
  }

  // Composes the line for `request` in `slot` and requires ffmpeg to run it to a clean end.
  static void transcode(const StartRequest& request, int slot) {
    std::string line;
    ASSERT_NO_FATAL_FAILURE(compose(request, slot, line));
    const fs::path err = folder_ / ("slot" + std::to_string(slot) + ".err");
    ASSERT_NO_FATAL_FAILURE(expect_clean_exit(*start_ffmpeg(line, err), line, err));
  }

  static inline fs::path folder_;
  static inline fs::path clip_;
  static inline bool clip_ready_ = false;
};

// One source (the clip) to one template target; only the format and the scan type vary.
struct OneOutputCase {
  const char* name;
  int slot;
  FormatId format;
  const char* file;  // written in the temporary folder
  std::int32_t scan_type;
  std::vector<std::string> streams;
  const char* field_order;  // of the video stream; nullptr: not checked
};

void PrintTo(const OneOutputCase& c, std::ostream* out) {
  *out << c.name;
}

class EngineLineToOneOutput : public EngineLine,
                              public ::testing::WithParamInterface<OneOutputCase> {};

TEST_P(EngineLineToOneOutput, FfmpegWritesTheStreamsAskedFor) {
  const OneOutputCase& c = GetParam();
  StartRequest request;
  request.sources = {clip_source()};
  EngineTarget target = template_target(c.format, folder_ / c.file);
  target.video.scan_type = c.scan_type;
  request.groups = {{target}};
  ASSERT_NO_FATAL_FAILURE(transcode(request, c.slot));

  const ProbeResult probed = probe_file(folder_ / c.file);
  EXPECT_EQ(probed.kinds(), c.streams);
  if (c.field_order == nullptr) return;
  const auto video = std::find_if(probed.streams.begin(), probed.streams.end(),
                                  [](const Stream& s) { return s.type == "video"; });
  ASSERT_NE(video, probed.streams.end());
  EXPECT_EQ(video->field_order, c.field_order);
}

// The udp targets would send to a network address; they write to a file here so that ffprobe
// can read what the mpegts muxer produced.
INSTANTIATE_TEST_SUITE_P(
    Formats, EngineLineToOneOutput,
    ::testing::Values(
        OneOutputCase{"udp_template", 0, FormatId::udp, "out.ts", 0, kH264Aac, "progressive"},
        OneOutputCase{"dash", 1, FormatId::dash, "out.mpd", 0, kH264Aac, nullptr},
        OneOutputCase{"recorded_mp4", 2, FormatId::file, "out.mp4", 0, kH264Aac, nullptr},
        OneOutputCase{"udp_top_field_first", 3, FormatId::udp, "tff.ts", 2, kH264Aac, "tt"}),
    [](const ::testing::TestParamInfo<OneOutputCase>& param) { return param.param.name; });

// The encoders on the quantiser path take the highest qualities, and "keyFrameInterval" counts
// seconds whatever the frame rate: key frames at 0, 1 and 2 s of the 3 s clip, and none between.
TEST_F(EngineLine, QualitiesAndKeyFrameSecondsAreWhatFfmpegTakes) {
  struct Case {
    const char* file;
    CodecId codec;
    std::int32_t quality;
    float frame_rate;  // 0: the clip's own
  };
  const Case cases[] = {{"q100.ts", 132, 100, 0},
                        {"q99.ts", 133, 99, 0},
                        {"k25.ts", kCodecH264, 0, 25},
                        {"k30.ts", kCodecH264, 0, 30},
                        {"kown.ts", kCodecH264, 0, 0}};
  int slot = 4;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    StartRequest request;
    request.sources = {clip_source()};
    EngineTarget target = template_target(FormatId::file, folder_ / c.file);
    target.video.codec = c.codec;
    target.video.quality = c.quality;
    target.video.frame_rate = c.frame_rate;
    target.video.key_frame_interval = 1;
    request.groups = {{target}};
    ASSERT_NO_FATAL_FAILURE(transcode(request, slot++));
    Peer key_frames(
        {"ffprobe", "-v", "error", "-select_streams", "v:0", "-skip_frame", "nokey",
         "-show_entries", "frame=pts_time", "-of", "csv=p=0", (folder_ / c.file).string()},
        folder_ / (std::string(c.file) + ".keys"), folder_ / "keys.err");
    ASSERT_EQ(key_frames.wait(kRunLimit), 0) << read_text(folder_ / "keys.err");
    std::vector<double> seconds;
    std::istringstream listed(key_frames.out());
    for (std::string row; std::getline(listed, row);) {
      if (!row.empty()) seconds.push_back(std::stod(row));
    }
    ASSERT_EQ(seconds.size(), 3u) << key_frames.out();
    for (std::size_t k = 0; k < seconds.size(); ++k) {
      EXPECT_NEAR(seconds[k] - seconds[0], static_cast<double>(k), 0.05) << key_frames.out();
    }
  }
}

// The quality setting changes what FFmpeg's own encoders write (MPEG-2 here; MJPEG and the others
// take the same options): more bytes for a higher quality, and the default (0) differs from both
// ends of the scale.
TEST_F(EngineLine, QualityChangesTheQuantiserEncodersPictures) {
  std::map<int, std::uintmax_t> bytes;
  for (const int quality : {0, 50, 100}) {
    const fs::path file = folder_ / ("mpeg2_quality" + std::to_string(quality) + ".mkv");
    SCOPED_TRACE(file.filename().string());
    StartRequest request;
    request.sources = {clip_source()};
    EngineTarget target = template_target(FormatId::file, file);
    target.video.codec = kCodecMpeg2Video;
    target.video.quality = quality;
    target.video.options.clear();
    request.groups = {{target}};
    ASSERT_NO_FATAL_FAILURE(transcode(request, 6));
    bytes[quality] = fs::file_size(file);
  }
  EXPECT_GT(bytes[100], bytes[50] * 2);
  EXPECT_NE(bytes[0], bytes[50]);
  EXPECT_NE(bytes[0], bytes[100]);
}

// Several HLS targets run as one output: the channel compiler leaves every group but the last
// without a URL (they only contribute their encoder settings, numbered by variant) and gives the
// last one the maps and the variant stream map.
TEST_F(EngineLine, HlsVariantsWriteOnePlaylistEach) {
  StartRequest request;
  request.sources = {clip_source()};
  for (const int kbps : {800, 400}) {
    EngineTarget variant = template_target(FormatId::hls, "");
    variant.video.bitrate_kbps = kbps;
    variant.format_options = "-hls_time 2 ";
    request.groups.push_back({variant});
  }
  EngineTarget& last = request.groups.back().front();
  last.url = (folder_ / "%v.m3u8").string();
  last.format_options +=
      "-map 0:v -map 0:a -map 0:v -map 0:a -var_stream_map \"v:0,a:0,name:v0 v:1,a:1,name:v1 \"";
  ASSERT_NO_FATAL_FAILURE(transcode(request, 4));

  std::uintmax_t bytes[2] = {};
  for (int variant = 0; variant < 2; ++variant) {
    const std::string name = "v" + std::to_string(variant);
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(folder_ / (name + ".m3u8")));
    EXPECT_EQ(probe_file(folder_ / (name + ".m3u8")).kinds(), kH264Aac);
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
      const std::string file = entry.path().filename().string();
      if (file.starts_with(name) && file.ends_with(".ts")) bytes[variant] += entry.file_size();
    }
  }
  // Each variant is encoded at its own constant rate, 800 against 400 kbit/s; the same audio and
  // container overhead bring the ratio of the sizes down to about 1.5.
  EXPECT_GT(bytes[0], bytes[1] * 5 / 4) << bytes[0] << " against " << bytes[1] << " bytes";
}

std::size_t files_ending(const fs::path& folder, const std::string& start, const char* end) {
  std::size_t count = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string file = entry.path().filename().string();
    count += file.starts_with(start) && file.ends_with(end) ? 1 : 0;
  }
  return count;
}

// A live playlist's folder holds what the playlist names (and the one segment ffmpeg keeps
// beyond it), however long the channel runs; the variants of one output are named by a master
// playlist.
TEST_F(EngineLine, LiveHlsFolderStaysBoundedAndAMasterNamesTheVariants) {
  const fs::path live = folder_ / "live";
  fs::create_directories(live);
  StartRequest request;
  request.sources = {clip_source()};
  request.sources[0].input_options = "-stream_loop 3";  // 12 s: twelve 1 s segments a variant
  for (const char* name : {"hi", "lo"}) {
    EngineTarget variant = template_target(FormatId::hls, live / (std::string(name) + ".m3u8"));
    variant.format_options = "-hls_time 1 -hls_list_size 3 ";
    request.groups.push_back({variant});
  }
  apply_multibitrate_hls(request.groups);
  std::string line;
  ASSERT_NO_FATAL_FAILURE(compose(request, 8, line));
  line.erase(line.find("-re "), 4);  // deletion counts segments, not seconds: no need to wait
  const fs::path err = folder_ / "live.err";
  ASSERT_NO_FATAL_FAILURE(expect_clean_exit(*start_ffmpeg(line, err), line, err));

  for (const char* name : {"hi", "lo"}) {
    EXPECT_LE(files_ending(live, name, ".ts"), 4u) << name;
    EXPECT_GE(files_ending(live, name, ".ts"), 3u) << name;
  }
  const std::string master = read_text(live / "master.m3u8");
  EXPECT_NE(master.find("hi.m3u8"), std::string::npos) << master;
  EXPECT_NE(master.find("lo.m3u8"), std::string::npos) << master;
}

// HLS beside a UDP target, in either order: two outputs, each with its own settings. The UDP
// target writes to a file, as above.
TEST_F(EngineLine, HlsBesideUdpKeepsItsSizeAndSegmentLength) {
  const std::string hls_target =
      R"({"format": "hls", "url": "@HLS", "video": {"enable": true, "codec": "h264",)"
      R"( "width": 640, "height": 360}, "audio": {"enable": true, "codec": "aac"}})";
  const std::string udp_target =
      R"({"format": "udp", "url": "udp://127.0.0.1:9", "video": {"enable": true,)"
      R"( "codec": "h264", "keyFrameInterval": 1}, "audio": {"enable": true, "codec": "aac"}})";
  int slot = 9;
  for (const bool hls_first : {true, false}) {
    const std::string name = hls_first ? "hls_first" : "udp_first";
    SCOPED_TRACE(name);
    const fs::path playlist = folder_ / (name + ".m3u8");
    std::string targets =
        hls_first ? hls_target + ", " + udp_target : udp_target + ", " + hls_target;
    targets.replace(targets.find("@HLS"), 4, playlist.string());
    const JsonPtr document = json_parse(
        R"({"global": {}, "channels": [{"input": {"sources": [{"format": "file", "url": ")" +
        clip_.string() + R"("}]}, "output": {"formatOptions": ["-hls_time 1"], "targets": [)" +
        targets + "]}}]}");
    ASSERT_TRUE(document);
    StartRequest request;
    ASSERT_EQ(compile_channel(document.get(), 0, request), 0);
    ASSERT_EQ(request.groups.size(), 2u);
    const fs::path udp_file = folder_ / (name + ".ts");
    request.groups[hls_first ? 1 : 0][0].url = udp_file.string();
    ASSERT_NO_FATAL_FAILURE(transcode(request, slot++));

    EXPECT_EQ(probe_file(udp_file).kinds(), kH264Aac);
    EXPECT_EQ(probe_file(playlist).kinds(), kH264Aac);
    Peer size({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
               "stream=width,height", "-of", "csv=p=0", playlist.string()},
              folder_ / (name + ".size"), folder_ / (name + ".size.err"));
    ASSERT_EQ(size.wait(kRunLimit), 0) << size.report();
    EXPECT_TRUE(size.out().starts_with("640,360\n")) << size.out();
    EXPECT_NE(read_text(playlist).find("#EXT-X-TARGETDURATION:1\n"), std::string::npos)
        << read_text(playlist);
  }
}

TEST_F(EngineLine, TwoInputsEncodedIntoOneOutput) {
  StartRequest request;
  request.sources = {clip_source(), clip_source()};
  request.sources[0].map_options = "-map 0:v -map 0:a";
  request.sources[1].map_options = "-map 1:v -map 1:a";
  // The network address is replaced by a file, as above.
  EngineTarget first = template_target(FormatId::udp, folder_ / "two.ts");
  first.video.options = "-preset:v:0 faster";  // tagged with the input's stream index
  EngineTarget second = first;
  second.video.codec = kCodecMpeg2Video;
  second.video.quality = 50;
  second.video.options.clear();  // the preset belongs to the h264 encoder
  request.groups = {{first, second}};
  ASSERT_NO_FATAL_FAILURE(transcode(request, 5));

  EXPECT_EQ(probe_file(folder_ / "two.ts").kinds(),
            (std::vector<std::string>{"audio aac", "audio aac", "video h264", "video mpeg2video"}));
}

TEST_F(EngineLine, RtpNativeInputIsReadThroughItsSessionFile) {
  const int slot = 6;
  const std::uint16_t port = free_udp_ports(2);
  ASSERT_NE(port, 0);
  StartRequest request;
  EngineSource source;
  source.kind = FormatId::rtp_native;
  source.url = "rtp://127.0.0.1:" + std::to_string(port);
  source.video.enable = true;
  source.video.codec = kCodecH264;
  source.video.rtp.local_address = inet_addr("127.0.0.1");
  source.video.rtp.local_port = port;
  request.sources = {source};
  // Written to a file instead of the network; "-t 2" ends the otherwise endless input.
  EngineTarget target = template_target(FormatId::udp, folder_ / "from_rtp.ts");
  target.format_options = "-t 2";
  request.groups = {{target}};

  std::string line;
  ASSERT_NO_FATAL_FAILURE(compose(request, slot, line));
  const std::string description = read_text(session_file(slot, "in"));
  EXPECT_NE(description.find("m=video " + std::to_string(port)), std::string::npos) << description;

  const fs::path err = folder_ / "rtp_in.err";
  const std::unique_ptr<Peer> receiver = start_ffmpeg(line, err);
  // The sender's only key frame comes first, so it may start once the receiver listens.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!port_taken(Transport::udp, port) && receiver->running() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  Peer sender(ffmpeg_argv({"-re", "-i", clip_.string(), "-map", "0:v", "-c:v", "libx264", "-f",
                           "rtp", "rtp://127.0.0.1:" + std::to_string(port)}),
              "/dev/null", folder_ / "rtp_sender.err");
  ASSERT_NO_FATAL_FAILURE(expect_clean_exit(*receiver, line, err));
  sender.wait(kRunLimit);  // its status does not matter: the receiver may have gone first

  EXPECT_EQ(probe_file(folder_ / "from_rtp.ts").kinds(), std::vector<std::string>{"video h264"});
}

TEST_F(EngineLine, RtpNativeOutputWritesItsSessionFile) {
  const int slot = 7;
  const std::uint16_t port = free_udp_ports(4);
  ASSERT_NE(port, 0);
  StartRequest request;
  request.sources = {clip_source()};
  EngineTarget target =
      template_target(FormatId::rtp_native, "rtp://127.0.0.1:" + std::to_string(port));
  target.video.rtp.remote_address = inet_addr("127.0.0.1");
  target.video.rtp.remote_port = port;
  target.audio.rtp.remote_address = inet_addr("127.0.0.1");
  target.audio.rtp.remote_port = static_cast<std::uint16_t>(port + 2);
  request.groups = {{target}};
  // Nothing listens on the ports: the packets are simply dropped.
  ASSERT_NO_FATAL_FAILURE(transcode(request, slot));

  const std::string description = read_text(session_file(slot, "out"));
  EXPECT_NE(description.find("m=video " + std::to_string(port) + " "), std::string::npos)
      << description;
  EXPECT_NE(description.find("m=audio " + std::to_string(port + 2) + " "), std::string::npos)
      << description;
}

}  // namespace
}  // namespace vx
