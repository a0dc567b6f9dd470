// The channel's live thumbnail with real ffmpeg, through the transcoder program: a moving picture
// renews the file, the key frames of a copied picture make it while every packet is still copied,
// a failover shows the input on air, a source without a picture runs without it, and the file goes
// with the transcoder.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/transcoder/failover_support.h"
#include "vocabulary/input_switch_report.h"

namespace vx {
namespace {

using namespace testing_support;

std::string quoted(const fs::path& path) {
  return quoted_argument(path.string());
}

class TranscoderThumbnail : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fresh_test_folder("vx-thumbnail");
    thumbnail_ = folder_ / "thumbnail.jpg";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // ffmpeg makes `file` from the lavfi inputs, with `options` before it.
  void make_source(const std::vector<std::string>& inputs_and_options, const fs::path& file) {
    std::vector<std::string> arguments = inputs_and_options;
    arguments.insert(arguments.end(), {"-y", file.string()});
    Peer maker(ffmpeg_argv(arguments), folder_ / "maker.out", folder_ / "maker.err");
    ASSERT_EQ(maker.wait(kRunLimit), 0) << maker.report();
  }

  bool wait_for_thumbnail(Clock::duration limit = 20s) {
    return wait_until([&] { return fs::exists(thumbnail_); }, limit);
  }

  // The thumbnail as it is now, kept aside under `name` for ffprobe and ffmpeg to read.
  fs::path snapshot(const std::string& name) {
    const fs::path copy = folder_ / name;
    std::ofstream(copy, std::ios::binary) << read_text(thumbnail_);
    return copy;
  }

  // What ffprobe sees in the picture: "codec,width,height".
  std::string picture_format(const fs::path& picture) {
    Peer ffprobe({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width,height",
                  "-of", "csv=p=0", picture.string()},
                 folder_ / "format.out", folder_ / "format.err");
    EXPECT_EQ(ffprobe.wait(kRunLimit), 0) << ffprobe.report();
    std::string format = ffprobe.out();
    format.erase(std::remove(format.begin(), format.end(), '\n'), format.end());
    return format;
  }

  // The colour of the picture's centre: 'r' red, 'b' blue, '?' anything else.
  char centre_colour(const fs::path& picture) {
    Peer decode(ffmpeg_argv({"-i", picture.string(), "-vf", "crop=16:16,format=rgb24", "-f",
                             "rawvideo", "-"}),
                folder_ / "centre.rgb", folder_ / "centre.err");
    EXPECT_EQ(decode.wait(kRunLimit), 0) << decode.report();
    const std::string pixels = decode.out();
    if (pixels.size() != 16 * 16 * 3) return '?';
    int sums[3] = {0, 0, 0};
    for (std::size_t at = 0; at < pixels.size(); ++at)
      sums[at % 3] += static_cast<unsigned char>(pixels[at]);
    const int r = sums[0] / 256, g = sums[1] / 256, b = sums[2] / 256;
    if (r > 150 && g < 80 && b < 80) return 'r';
    if (b > 150 && r < 80 && g < 80) return 'b';
    return '?';
  }

  // Nothing of the thumbnail is left in the folder: neither the file nor its temporary one.
  void expect_no_thumbnail_left() {
    for (const auto& entry : fs::directory_iterator(folder_)) {
      EXPECT_EQ(entry.path().filename().string().find("thumbnail.jpg"), std::string::npos)
          << entry.path();
    }
  }

  fs::path folder_;
  fs::path thumbnail_;
};

TEST_F(TranscoderThumbnail, AMovingPictureRenewsTheFileWhichGoesWithTheTranscoder) {
  const fs::path recording = folder_ / "out.ts";
  Transcoder transcoder(
      "-re -f lavfi -i testsrc2=size=1280x720:rate=25 -c:v libx264 "
      "-preset:v ultrafast -f mpegts -y " +
      quoted(recording) + " -thumbnail " + quoted(thumbnail_));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(wait_for_thumbnail()) << transcoder.report();
  std::vector<std::string> polls = {read_text(thumbnail_)};
  for (int k = 1; k < 3; ++k) {
    std::this_thread::sleep_for(2500ms);
    polls.push_back(read_text(thumbnail_));
    EXPECT_NE(polls[k], polls[k - 1]) << "renewed between polls " << k - 1 << " and " << k;
  }
  EXPECT_EQ(fs::status(thumbnail_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(picture_format(snapshot("seen.jpeg")), "mjpeg,320,180");
  transcoder.interrupt();
  ASSERT_TRUE(transcoder.wait_for_end()) << transcoder.report();
  expect_no_thumbnail_left();
  EXPECT_EQ(probe_file(recording).kinds(), std::vector<std::string>{"video h264"});
  // The thumbnail's output adds no complaint of ffmpeg's, and none of ours.
  const std::string said = transcoder.output();
  for (const char* complaint :
       {"deprecated", "[swscaler", "[mjpeg", "[image2pipe", "[Parsed_", "morvi-transcoder: "}) {
    EXPECT_EQ(said.find(complaint), std::string::npos) << complaint << transcoder.report();
  }
}

// Every target copies the picture: key frames alone are decoded for the thumbnail, and the copy
// still carries every packet.
TEST_F(TranscoderThumbnail, KeyFramesOfACopiedPictureMakeItWhileEveryPacketIsCopied) {
  const fs::path source = folder_ / "source.ts";
  make_source(
      {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=6", "-f", "lavfi", "-i",
       "sine=duration=6", "-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-c:a", "aac"},
      source);
  const fs::path copy = folder_ / "copy.ts";
  Transcoder transcoder("-re -i " + quoted(source) + " -map 0 -c copy -f mpegts -y " +
                        quoted(copy) + " -thumbnail_key_frames " + quoted(thumbnail_));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(wait_for_thumbnail()) << transcoder.report();
  const std::string first = read_text(thumbnail_);
  std::this_thread::sleep_for(2500ms);
  EXPECT_NE(read_text(thumbnail_), first) << transcoder.report();
  EXPECT_EQ(picture_format(snapshot("seen.jpeg")), "mjpeg,320,180");
  ASSERT_EQ(transcoder.wait_for_end(), 0) << transcoder.report();
  expect_no_thumbnail_left();
  const ProbeResult original = probe_file(source);
  const ProbeResult copied = probe_file(copy);
  EXPECT_EQ(copied.kinds(), original.kinds());
  EXPECT_EQ(copied.packets("video"), original.packets("video"));
  EXPECT_EQ(copied.packets("audio"), original.packets("audio"));
}

// A radio stream: ffmpeg refuses the thumbnail's output without a stream, and the line runs again
// without it, its served output too.
TEST_F(TranscoderThumbnail, ASourceWithoutAPictureRunsAgainWithoutIt) {
  const fs::path source = folder_ / "radio.ts";
  make_source({"-f", "lavfi", "-i", "sine=frequency=440:duration=5", "-c:a", "aac"}, source);
  const std::uint16_t port = free_tcp_port();
  ASSERT_NE(port, 0);
  const fs::path recording = folder_ / "out.ts";
  Transcoder transcoder("-re -i " + quoted(source) + " -c:a aac -f mpegts -y " + quoted(recording) +
                        " -c:a aac -f mpegts http://127.0.0.1:" + std::to_string(port) +
                        "/radio.ts -thumbnail " + quoted(thumbnail_));
  ASSERT_TRUE(transcoder.started());
  const std::string no_picture = "morvi-transcoder: the source has no picture; no thumbnail\n";
  ASSERT_TRUE(transcoder.wait_for_output(no_picture, 20s)) << transcoder.report();
  ASSERT_TRUE(transcoder.wait_for_output(" time=00:00:01", 20s)) << transcoder.report();
  const ProbeResult served =
      probe(folder_, "http://127.0.0.1:" + std::to_string(port) + "/radio.ts",
            {"-read_intervals", "%+1"}, "served");
  EXPECT_EQ(served.error, "") << transcoder.report();
  EXPECT_GT(served.packets("audio"), 0) << transcoder.report();
  ASSERT_EQ(transcoder.wait_for_end(), 0) << transcoder.report();

  const std::string said = transcoder.output();
  EXPECT_EQ(said.find(no_picture), said.rfind(no_picture)) << "said once";
  EXPECT_EQ(said.find("does not contain any stream"), std::string::npos) << transcoder.report();
  EXPECT_GT(probe_file(recording).packets("audio"), 100);
  expect_no_thumbnail_left();
}

TEST_F(TranscoderThumbnail, AFileThatCannotBeWrittenIsSaidOnceAndTheChannelRuns) {
  const fs::path unwritable = folder_ / "missing" / "thumbnail.jpg";
  Transcoder transcoder(
      "-re -f lavfi -i testsrc2=size=320x240:rate=25:duration=5 -f null - -thumbnail " +
      quoted(unwritable));
  ASSERT_TRUE(transcoder.started());
  ASSERT_EQ(transcoder.wait_for_end(), 0) << transcoder.report();
  const std::string said = transcoder.output();
  const std::string failure = "morvi-transcoder: the thumbnail cannot be written to " +
                              quoted(unwritable) + " (No such file or directory)\n";
  EXPECT_NE(said.find(failure), std::string::npos) << transcoder.report();
  EXPECT_EQ(said.find(failure), said.rfind(failure)) << "said once";
  EXPECT_NE(said.find(" time=00:00:04"), std::string::npos) << transcoder.report();
}

// An output that ends on its own would leave ffmpeg running for the thumbnail alone.
TEST_F(TranscoderThumbnail, ALineWhoseOutputsEndOnTheirOwnEndsWithoutIt) {
  Transcoder transcoder("-f lavfi -i testsrc2=size=320x240:rate=25 -t 2 -f null - -thumbnail " +
                        quoted(thumbnail_));
  ASSERT_TRUE(transcoder.started());
  ASSERT_EQ(transcoder.wait_for_end(20s), 0) << transcoder.report();
  EXPECT_NE(transcoder.output().find(
                "morvi-transcoder: every output of the line ends on its own; no thumbnail\n"),
            std::string::npos)
      << transcoder.report();
  EXPECT_FALSE(fs::exists(thumbnail_));
}

// The failover's thumbnail is made from the switch's pictures: the standby's blue once the red
// primary has gone.
TEST_F(TranscoderThumbnail, AFailoverShowsTheInputOnAir) {
  const std::uint16_t red_port = free_udp_ports(1);
  const std::uint16_t blue_port = free_udp_ports(1);
  std::unique_ptr<Peer> red =
      start_udp_sender(folder_, red_port, "red", "color=c=red:size=320x240:rate=25");
  std::unique_ptr<Peer> blue =
      start_udp_sender(folder_, blue_port, "blue", "color=c=blue:size=320x240:rate=25");
  StartRequest request = failover_request(red_port, "default", folder_ / "out.ts");
  EngineSource standby = request.sources.front();
  standby.url = "udp://127.0.0.1:" + std::to_string(blue_port);
  request.standby.push_back(standby);
  Transcoder transcoder(line_of(request) + " -thumbnail " + quoted(thumbnail_));
  ASSERT_TRUE(transcoder.started());

  const auto shows = [&](char colour) {
    return wait_until(
        [&] {
          if (fs::exists(thumbnail_) && centre_colour(snapshot("seen.jpeg")) == colour) return true;
          std::this_thread::sleep_for(500ms);
          return false;
        },
        20s);
  };
  ASSERT_TRUE(shows('r')) << transcoder.report();
  EXPECT_EQ(picture_format(snapshot("red.jpeg")), "mjpeg,320,240");
  red.reset();
  ASSERT_TRUE(transcoder.wait_for_output(
      switch_report_line({kPrimaryInput, 1, SwitchReason::timed_out, 0}), 15s))
      << transcoder.report();
  EXPECT_TRUE(shows('b')) << transcoder.report();
  transcoder.interrupt();
  ASSERT_TRUE(transcoder.wait_for_end()) << transcoder.report();
  expect_no_thumbnail_left();
}

}  // namespace
}  // namespace vx
