#include "transcoder/translation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "transcoder/thumbnail.h"
#include "transcoder/token_line.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

Translation translate(const std::string& line, const TranslationContext& context = {}) {
  return translate_arguments(split_argument_line(line), context);
}

Args programs_of(const Translation& translation) {
  Args programs;
  for (std::size_t k = 0; k + 1 < translation.arguments.size(); ++k) {
    if (translation.arguments[k] == "-program") programs.push_back(translation.arguments[k + 1]);
  }
  return programs;
}

TEST(TokenLine, OnlyTheRightTokenWithArgumentsStartsAnything) {
  std::string error;
  EXPECT_EQ(argument_line_from("xoTra_6142 -i a -f null -", error).value_or(""), "-i a -f null -");
  EXPECT_EQ(argument_line_from("xoTra_6142 -i a\r", error).value_or(""), "-i a");
  for (const char* bad : {"", "xoTra_6142", "xoTra_6142   ", "xotra_6142 -i a", "xoTra_61420 -i a",
                          " xoTra_6142 -i a", "-i a"}) {
    error.clear();
    EXPECT_FALSE(argument_line_from(bad, error).has_value()) << bad;
    EXPECT_EQ(error.rfind("morvi-transcoder: ", 0), 0u) << bad;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  const std::string long_line = "xoTra_6142 -i a " + std::string(20000, 'x');
  EXPECT_EQ(argument_line_from(long_line, error).value_or("").size(), 20005u);
}

// The thumbnail's option is taken off the line's end before anything reads the line; anywhere
// else, or without an absolute path, the line is refused.
TEST(ThumbnailOption, OnlyTheLinesEndNamesTheThumbnailsFile) {
  struct Case {
    std::string end;   // after the line's own arguments
    Args left;         // what the rest of the transcoder reads
    std::string path;  // "": none asked for
    bool key_frames_only;
    const char* refusal;  // how the one line opens, or nullptr
  };
  const std::string line = "-i a.ts -c:v libx264 -f mpegts udp://h:1";
  const Args plain = {"-i", "a.ts", "-c:v", "libx264", "-f", "mpegts", "udp://h:1"};
  Args with_null = plain;
  with_null.insert(with_null.end(), {"-metadata", "title=-thumbnail", "-f", "null", "-"});
  const Case cases[] = {
      {"-thumbnail /run/vx/1.jpg", plain, "/run/vx/1.jpg", false, nullptr},
      {"-thumbnail_key_frames \"/run/v x/1.jpg\"", plain, "/run/v x/1.jpg", true, nullptr},
      {"", plain, "", false, nullptr},
      {"-metadata title=-thumbnail -f null - -thumbnail /t.jpg", with_null, "/t.jpg", false,
       nullptr},
      {"-thumbnail /a.jpg -thumbnail /b.jpg", {}, "", false, "-thumbnail must end the line"},
      {"-thumbnail_key_frames /a.jpg -f null -",
       {},
       "",
       false,
       "-thumbnail_key_frames must end the line"},
      {"-thumbnail", {}, "", false, "-thumbnail must end the line"},
      {"-thumbnail t.jpg", {}, "", false, "-thumbnail needs the absolute path"},
      {"-thumbnail_key_frames \"\"",
       {},
       "",
       false,
       "-thumbnail_key_frames needs the absolute path"},
      {"-thumbnail \"/a\\x00b.jpg\"", {}, "", false, "-thumbnail needs the absolute path"},
  };
  for (const Case& c : cases) {
    Args arguments = split_argument_line(line + " " + c.end);
    std::string error;
    const std::optional<Thumbnail> thumbnail = take_thumbnail_option(arguments, error);
    if (c.refusal != nullptr) {
      EXPECT_FALSE(thumbnail.has_value()) << c.end;
      EXPECT_EQ(error.rfind(std::string("morvi-transcoder: ") + c.refusal, 0), 0u) << c.end << "\n"
                                                                                   << error;
      EXPECT_TRUE(error.ends_with("; nothing started")) << error;
      continue;
    }
    EXPECT_EQ(error, "") << c.end;
    EXPECT_EQ(arguments, c.left) << c.end;
    EXPECT_EQ(thumbnail ? thumbnail->path : "", c.path) << c.end;
    EXPECT_EQ(thumbnail && thumbnail->key_frames_only, c.key_frames_only) << c.end;
    // ffmpeg numbers the thumbnail's output after the line's own ones.
    EXPECT_EQ(translate_arguments(arguments, {}).output_count, c.left == plain ? 1u : 2u) << c.end;
  }

  // Only the first input's picture is decoded for it, key frames alone.
  Args copy = {"-re", "-i", "a.ts", "-i", "b.ts", "-c", "copy", "-f", "mpegts", "udp://h:1"};
  decode_key_frames_only(copy);
  EXPECT_EQ(copy, (Args{"-re", "-skip_frame:v", "nokey", "-i", "a.ts", "-i", "b.ts", "-c", "copy",
                        "-f", "mpegts", "udp://h:1"}));
}

// A line whose every output ends before its inputs, or has no picture, takes no thumbnail: ffmpeg
// would go on for it, or report its picture rate as the channel's.
TEST(Translation, OutputsThatAllEndOnTheirOwnOrHaveNoPictureAreTold) {
  struct Case {
    const char* line;
    bool end;
    bool no_picture;
  };
  const Case cases[] = {
      {"-i a -f null -", false, false},
      {"-i a -t 5 -f null -", true, false},
      {"-t 5 -i a -vn -f null -", false, true},  // the input's end ends every output
      {"-i a -t 5 -f null - -vn -f mpegts udp://h:1", false, false},
      {"-i a -frames:v 10 -vn -f null - -shortest -vn -f mpegts udp://h:1", true, true},
      {"-i a -i b -fs 1M -f mpegts x.ts -to 10 -f mpegts http://0.0.0.0:9530", true, false},
      {"-i a -vframes 1 -f image2 x.jpg -map 0 -f mpegts udp://h:1 -aframes 9 -f mp3 y.mp3", false,
       false},
  };
  for (const Case& c : cases) {
    const Translation result = translate(c.line);
    ASSERT_EQ(result.error, "") << c.line;
    EXPECT_EQ(result.outputs_end_on_their_own, c.end) << c.line;
    EXPECT_EQ(result.outputs_without_picture, c.no_picture) << c.line;
  }
}

TEST(Translation, PlainLinesPassUnchangedAndMuxRateIsTheMuxersOption) {
  const Translation plain = translate(
      "-re -i \"/m/a b.mp4\" -c:a aac -c:v libx264 -f mpegts "
      "udp://127.0.0.1:1234 -bitrate 5000k -f mpegts -y \"/rec/a b.ts\"");
  ASSERT_TRUE(plain.error.empty()) << plain.error;
  EXPECT_EQ(plain.arguments, (Args{"-re", "-i", "/m/a b.mp4", "-c:a", "aac", "-c:v", "libx264",
                                   "-f", "mpegts", "udp://127.0.0.1:1234", "-muxrate", "5000k",
                                   "-f", "mpegts", "-y", "/rec/a b.ts"}));
  EXPECT_TRUE(plain.served.empty());
  EXPECT_TRUE(plain.relayed.empty()) << "nothing in it can fail apart";
}

// A program names its streams by the input they come from; stock ffmpeg takes their numbers in
// the output. Each output counts its own maps.
TEST(Translation, ProgramsNamedByInputGetTheirOutputStreamNumbers) {
  struct Case {
    const char* line;
    Args programs;  // the values of the "-program" options left, in order
  };
  const Case cases[] = {
      {"-i a.mp4 -c:v libx264 -program \"program_num=1:title='A: b':if=0\" -f mpegts u",
       {"program_num=1:title='A: b':st=0:st=1"}},
      {"-i a.mp4 -an -program program_num=2:if=0 -f mpegts u", {"program_num=2:st=0"}},
      {"-i a.mp4 -i b.ts -map 0:v -map 0:a -map 1 -program program_num=1:if=1 "
       "-program program_num=2:if=0 -f mpegts u",
       {"program_num=1:st=2:st=3", "program_num=2:st=0:st=1"}},
      {"-i a.mp4 -i b.ts -map 0 -program program_num=1:if=1 -f mpegts u", {}},
      {"-i a.mp4 -program program_num=1:if=x -f mpegts u", {"program_num=1:if=x"}},
      {"-i a.mp4 -program program_num=1:st=0 -f mpegts u -program program_num=3:if=0 "
       "-map 0:a -f mpegts v",
       {"program_num=1:st=0", "program_num=3:st=0"}},
  };
  for (const Case& c : cases) {
    const Translation result = translate(c.line);
    ASSERT_TRUE(result.error.empty()) << c.line << ": " << result.error;
    EXPECT_EQ(programs_of(result), c.programs) << c.line;
  }
}

TEST(Translation, NetworkPushesOfLinesWithSeveralOutputsGoThroughRelays) {
  struct Case {
    const char* line;
    Args encoder;
    std::vector<std::pair<int, Args>> relays;  // target number and the relay's output part
  };
  const Args copy = {"-i", "pipe:0", "-map", "0", "-c", "copy"};
  const auto relay = [&](const char* pipe_muxer, Args rest) {
    Args args = {"-analyzeduration", "300000", "-f", pipe_muxer};
    args.insert(args.end(), copy.begin(), copy.end());
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
  };
  const Case cases[] = {
      {"-i a.mp4 -c:v libx264 -f flv -rtmp_flashver \"F 1\" rtmp://op:pw@h/live/k",
       {"-i", "a.mp4", "-c:v", "libx264", "-f", "flv", "-rtmp_flashver", "F 1",
        "rtmp://op:pw@h/live/k"},
       {}},
      {"-i a.mp4 -an -f mpegts udp://127.0.0.1:5000 -c:v libx264 -f flv -rtmp_flashver \"F 1\" "
       "-rtmp_swfurl rtmp://h/live rtmp://op:pw@h/live/k",
       {"-i", "a.mp4", "-an", "-f", "mpegts", "udp://127.0.0.1:5000", "-c:v", "libx264", "-f",
        "flv", "pipe:3"},
       {{2, relay("flv", {"-rtmp_flashver", "F 1", "-rtmp_swfurl", "rtmp://h/live", "-f", "flv",
                          "rtmp://op:pw@h/live/k"})}}},
      {"-i a.mp4 -f mpegts srt://h:9000?mode=caller -f rtsp -rtsp_transport tcp rtsp://h/x "
       "-f mpegts http://0.0.0.0:9530",
       {"-i", "a.mp4", "-f", "mpegts", "pipe:4", "-f", "mpegts", "pipe:5", "-f", "mpegts",
        "pipe:3"},
       {{1, relay("mpegts", {"-f", "mpegts", "srt://h:9000?mode=caller"})},
        {2, relay("mpegts", {"-rtsp_transport", "tcp", "-f", "rtsp", "rtsp://h/x"})}}},
      // RTSP describes AAC before its first packet, which ADTS from the pipe cannot: the relay
      // encodes the sound again, as the output's own options say.
      {"-i a.mp4 -c:a aac -b:a 96k -f mpegts udp://127.0.0.1:5000 -c:a aac -b:a 64k -c:v libx264 "
       "-f rtsp rtsp://h/x",
       {"-i", "a.mp4", "-c:a", "aac", "-b:a", "96k", "-f", "mpegts", "udp://127.0.0.1:5000", "-c:a",
        "aac", "-b:a", "64k", "-c:v", "libx264", "-f", "mpegts", "pipe:3"},
       {{2, relay("mpegts", {"-c:a", "aac", "-b:a", "64k", "-f", "rtsp", "rtsp://h/x"})}}},
      // A muxer that cannot go through a pipe runs as it is.
      {"-i a.mp4 -f mp4 tcp://h:9000 -f null -",
       {"-i", "a.mp4", "-f", "mp4", "tcp://h:9000", "-f", "null", "-"},
       {}},
  };
  for (const Case& c : cases) {
    const Translation result = translate(c.line);
    ASSERT_TRUE(result.error.empty()) << result.error;
    EXPECT_EQ(result.arguments, c.encoder) << c.line;
    ASSERT_EQ(result.relayed.size(), c.relays.size()) << c.line;
    for (std::size_t k = 0; k < c.relays.size(); ++k) {
      EXPECT_EQ(result.relayed[k].target, c.relays[k].first) << c.line;
      EXPECT_EQ(result.relayed[k].relay_arguments, c.relays[k].second) << c.line;
    }
    // The one served output (the third line's last) is numbered among all the line's outputs.
    for (const ServedOutput& served : result.served)
      EXPECT_EQ(served.target, 3) << c.line;
  }
}

TEST(Translation, HttpServedOutputsBecomePipes) {
  const Translation result = translate(
      "-i http://src/a.ts -c:s copy -f mpegts http://0.0.0.0:9530 -movflags dash -f mp4 "
      "http://127.0.0.1:9528/3.mp4 -f mjpeg http://[::1]:9531/3.mjpg -f hls -y "
      "\"http://upload.example/live.m3u8\"");
  ASSERT_TRUE(result.error.empty()) << result.error;
  EXPECT_EQ(result.arguments,
            (Args{"-i", "http://src/a.ts", "-c:s", "copy", "-f", "mpegts", "pipe:3", "-movflags",
                  "dash", "-f", "mp4", "pipe:4", "-f", "mjpeg", "pipe:5", "-f", "hls", "-y",
                  "http://upload.example/live.m3u8"}));
  ASSERT_EQ(result.served.size(), 3u);
  EXPECT_EQ(result.served[0].target, 1);
  EXPECT_EQ(result.served[1].target, 2);
  EXPECT_EQ(result.served[2].target, 3);
  EXPECT_EQ(result.served[0].fd, 3);
  EXPECT_EQ(result.served[0].fanout.host, "0.0.0.0");
  EXPECT_EQ(result.served[0].fanout.port, 9530);
  EXPECT_EQ(result.served[0].fanout.kind, StreamKind::mpegts);
  EXPECT_EQ(result.served[1].fanout.kind, StreamKind::fragmented_mp4);
  EXPECT_EQ(result.served[1].fanout.port, 9528);
  EXPECT_EQ(result.served[2].fanout.kind, StreamKind::mjpeg);
  EXPECT_EQ(result.served[2].fanout.host, "::1");
  EXPECT_TRUE(result.served[2].fanout.tls_cert_path.empty());
}

TEST(Translation, HttpsOutputsTakeTheirCertificateAndKey) {
  const Translation result = translate(
      "-i a.mp4 -user_agent \"/etc/vx/cert.pem\" -referer \"/etc/vx/key.pem\" -c:s copy "
      "-f mpegts https://0.0.0.0:9530 -f mpegts udp://h:1");
  ASSERT_TRUE(result.error.empty()) << result.error;
  EXPECT_EQ(result.arguments, (Args{"-i", "a.mp4", "-c:s", "copy", "-f", "mpegts", "pipe:3", "-f",
                                    "mpegts", "udp://h:1"}));
  ASSERT_EQ(result.served.size(), 1u);
  EXPECT_EQ(result.served[0].fanout.tls_cert_path, "/etc/vx/cert.pem");
  EXPECT_EQ(result.served[0].fanout.tls_key_path, "/etc/vx/key.pem");
  EXPECT_EQ(result.served[0].fanout.port, 9530);

  EXPECT_NE(translate("-i a.mp4 -f mpegts https://0.0.0.0:9530").error.find("certificate"),
            std::string::npos);
  for (const char* bad : {"http://0.0.0.0:99999", "http://:80", "http://h:8x", "http://[::1"}) {
    const Translation refused = translate(std::string("-i a -f mpegts ") + bad);
    EXPECT_NE(refused.error.find("cannot listen"), std::string::npos) << bad;
    EXPECT_TRUE(refused.arguments.empty());
  }
}

TEST(Translation, ServedOutputsTakeTheirViewersPerAddress) {
  const Translation result = translate(
      "-i a.mp4 -c:v copy -max_redirects 40 -f mpegts http://0.0.0.0:9530 -user_agent \"c.pem\" "
      "-max_redirects 1 -referer \"k.pem\" -f mp4 https://0.0.0.0:9531 -f mjpeg "
      "http://0.0.0.0:9532");
  ASSERT_TRUE(result.error.empty()) << result.error;
  EXPECT_EQ(result.arguments, (Args{"-i", "a.mp4", "-c:v", "copy", "-f", "mpegts", "pipe:3", "-f",
                                    "mp4", "pipe:4", "-f", "mjpeg", "pipe:5"}));
  ASSERT_EQ(result.served.size(), 3u);
  EXPECT_EQ(result.served[0].fanout.viewers_per_address, 40u);
  EXPECT_EQ(result.served[1].fanout.viewers_per_address, 1u);
  EXPECT_EQ(result.served[1].fanout.tls_key_path, "k.pem");
  EXPECT_EQ(result.served[2].fanout.viewers_per_address,
            static_cast<std::size_t>(kDefaultViewersPerAddress));

  for (const char* bad : {"0", "-5", "abc", "100001", "4294967297", "\"\""}) {
    const Translation refused =
        translate(std::string("-i a -max_redirects ") + bad + " -f mpegts http://0.0.0.0:9530");
    EXPECT_NE(refused.error.find("viewers per address"), std::string::npos) << bad;
    EXPECT_TRUE(refused.arguments.empty()) << bad;
  }
}

TEST(Translation, WhatThisSystemCannotDoIsNamed) {
  TranslationContext context;
  context.encoders = {"libx264", "aac", "mpeg2video"};
  struct Case {
    const char* line;
    const char* named;
  };
  const Case cases[] = {
      {"-i a -c:v omx_enc_avc -f mpegts udp://h:1", "omx_enc_avc"},
      {"-i a -c:v libx264 -omx_core \"/x\" -f mpegts udp://h:1", "-omx_core"},
      {"-i a -c:v libx264 -f omx_ts_mux udp://h:1", "omx_ts_mux"},
      {"-i a -c:v libx264 -f libndi_newtek \"Studio\"", "libndi_newtek"},
      {"-f decklink -i \"Mini Recorder\" -c:v libx264 -f mpegts udp://h:1", "decklink"},
      {"-i a -c:a libfdk_aac -f mpegts udp://h:1", "libfdk_aac"},
      {"-i a -c:v:1 libx265 -f mpegts udp://h:1", "libx265"},
      {"-i udp://h:1 -lavfi:v \"[0:v][v1]streamselect\" -f mpegts udp://h:2", "-lavfi:v"},
  };
  for (const Case& c : cases) {
    const Translation result = translate(c.line, context);
    EXPECT_NE(result.error.find(c.named), std::string::npos) << c.line << "\n" << result.error;
    EXPECT_TRUE(result.arguments.empty()) << c.line;
  }
  EXPECT_TRUE(translate("-i a -c:v libx264 -c:a copy -c:s copy -f mpegts udp://h:1", context)
                  .error.empty());
}

class CaptureDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("vx-devices-" + std::to_string(getpid()));
    fs::remove_all(root_);
    add_video("video0", "USB Camera", "0");
    add_video("video1", "USB Camera", "1");  // the same camera's metadata node
    add_video("video2", "USB Camera", "0");  // a second camera of the same model
    add_video("video10", "HDMI Grabber", "0");
    fs::create_directories(root_ / "proc/asound");
    std::ofstream(root_ / "proc/asound/pcm")
        << "00-00: ALC892 Analog : ALC892 Analog : playback 1 : capture 1\n"
           "00-01: ALC892 Digital : ALC892 Digital : playback 1\n"
           "01-00: USB Audio : USB Audio : capture 1\n";
    context_.devices = {(root_ / "sys").string(), (root_ / "proc").string(), "/dev"};
  }
  void TearDown() override { fs::remove_all(root_); }

  void add_video(const std::string& node, const std::string& name, const std::string& index) {
    const fs::path folder = root_ / "sys/class/video4linux" / node;
    fs::create_directories(folder);
    std::ofstream(folder / "name") << name << "\n";
    std::ofstream(folder / "index") << index << "\n";
  }

  fs::path root_;
  TranslationContext context_;
};

TEST_F(CaptureDevices, DeviceTextBecomesV4l2AndAlsaInputs) {
  const Translation both = translate(
      "-f dshow -rtbufsize 100M -video_device_number 1 -s 1280x720 -framerate 25 "
      "-show_video_crossbar_connection_dialog true -i video=\"USB Camera\":audio=\"USB Audio\" "
      "-re -i \"/m/b.mp4\" -map 0:v -map 1:v -c:v libx264 -f mpegts udp://h:1",
      context_);
  ASSERT_TRUE(both.error.empty()) << both.error;
  EXPECT_EQ(both.arguments,
            (Args{"-f",  "v4l2",        "-video_size", "1280x720", "-framerate", "25",
                  "-i",  "/dev/video2", "-f",          "alsa",     "-i",         "plughw:1,0",
                  "-re", "-i",          "/m/b.mp4",    "-map",     "0:v",        "-map",
                  "2:v", "-c:v",        "libx264",     "-f",       "mpegts",     "udp://h:1"}));

  const Translation grabber =
      translate("-f dshow -i video=\"HDMI Grabber\" -f mpegts udp://h:1", context_);
  EXPECT_EQ(grabber.arguments,
            (Args{"-f", "v4l2", "-i", "/dev/video10", "-f", "mpegts", "udp://h:1"}));
  const Translation audio =
      translate("-f dshow -sample_rate 48000 -i audio=\"ALC892 Analog\" -f mp3 x.mp3", context_);
  EXPECT_EQ(audio.arguments, (Args{"-f", "alsa", "-sample_rate", "48000", "-i", "plughw:0,0", "-f",
                                   "mp3", "x.mp3"}));
}

// A camera with its sound is two inputs to ffmpeg: a program of the next input counts past both.
TEST_F(CaptureDevices, AProgramOfTheInputAfterACameraFindsItsStreams) {
  const Translation result = translate(
      "-f dshow -i video=\"USB Camera\":audio=\"USB Audio\" -i b.ts -map 1:v -map 0:v "
      "-program program_num=1:if=1 -f mpegts udp://h:1",
      context_);
  ASSERT_TRUE(result.error.empty()) << result.error;
  EXPECT_EQ(programs_of(result), (Args{"program_num=1:st=0"}));
}

TEST_F(CaptureDevices, UnknownOrMissingDevicesAreNamed) {
  struct Case {
    const char* line;
    const char* named;
  };
  const Case cases[] = {
      {"-f dshow -i video=\"Missing Cam\" -f null -", "Missing Cam"},
      {"-f dshow -video_device_number 2 -i video=\"USB Camera\" -f null -", "USB Camera"},
      {"-f dshow -i video=\"USB Camera\":audio=\"ALC892 Digital\" -f null -", "ALC892 Digital"},
      {"-f dshow -i \"Studio\" -f null -", "Studio"},
      {"-f dshow -rtbufsize 1M", "without a device"},
  };
  for (const Case& c : cases) {
    const Translation result = translate(c.line, context_);
    EXPECT_NE(result.error.find(c.named), std::string::npos) << c.line << "\n" << result.error;
  }
}

}  // namespace
}  // namespace vx
