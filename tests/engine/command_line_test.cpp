#include "engine/command_line.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

// Records as the channel compiler fills them for the new-channel template: its option texts end
// with a space of their own.
EngineSource file_source(const std::string& url = "/media/clip.mp4") {
  EngineSource source;
  source.kind = FormatId::file;
  source.url = url;
  return source;
}

EngineSource network_source(const std::string& url = "udp://239.0.0.1:1234") {
  EngineSource source = file_source(url);
  source.kind = FormatId::udp;
  return source;
}

EngineTarget template_target() {
  EngineTarget target;
  target.format = FormatId::udp;
  target.url = "udp://127.0.0.1:1234";
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.video.key_frame_interval = 5;
  target.video.options = "-preset:v faster ";
  target.audio.enable = true;
  target.audio.codec = 8;
  target.audio.channels = 2;
  return target;
}

StartRequest request_of(EngineSource source, EngineTarget target) {
  StartRequest request;
  request.sources.push_back(std::move(source));
  request.groups.push_back(TargetGroup{std::move(target)});
  return request;
}

std::string line_of(const StartRequest& request, const CommandSettings& settings = {}) {
  std::string line;
  const int code = build_command_line(request, settings, line);
  EXPECT_EQ(code, 0) << line;
  return line;
}

std::string line_of(EngineSource source, EngineTarget target) {
  return line_of(request_of(std::move(source), std::move(target)));
}

int code_of(const StartRequest& request, const CommandSettings& settings = {}) {
  std::string line;
  return build_command_line(request, settings, line);
}

#define EXPECT_CONTAINS(text, part) \
  EXPECT_NE((text).find(part), std::string::npos) << "missing [" << (part) << "] in\n" << (text)
#define EXPECT_LACKS(text, part) \
  EXPECT_EQ((text).find(part), std::string::npos) << "unexpected [" << (part) << "] in\n" << (text)

TEST(CommandLine, TemplateChannelGivesTheReferenceLine) {
  const StartRequest request = request_of(file_source(), template_target());
  EXPECT_EQ(line_of(request),
            "-re -i /media/clip.mp4 -c:a aac -ac:a 2 -c:v libx264 -preset:v faster  "
            "-crf:v 23 -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) -c:s copy -f mpegts "
            "udp://127.0.0.1:1234 ");

  CommandSettings logging;
  logging.log_level = 32;
  EXPECT_EQ(line_of(request, logging).rfind("-v 32 -re -i ", 0), 0u);
}

// ----- inputs --------------------------------------------------------------------------------

TEST(CommandLineInputs, EachKindIsOpenedItsOwnWay) {
  struct Case {
    EngineSource source;
    std::string input_part;
  };
  EngineSource with_options = file_source();
  with_options.input_options = "-stream_loop -1 -f mpegts ";
  with_options.video.options = "-hwaccel cuda ";
  EngineSource device =
      file_source("video=\"USB Cam\":audio=\"Mic (2)\"?rtbufsize=100M&framerate=25");
  device.kind = FormatId::device;
  EngineSource plain_device = file_source("video=\"USB Cam\"");
  plain_device.kind = FormatId::device;
  EngineSource decklink = file_source("DeckLink Mini Recorder");
  decklink.kind = FormatId::decklink;
  EngineSource ndi = file_source("STUDIO (Camera 1)");
  ndi.kind = FormatId::ndi;
  EngineSource unknown = file_source("mmst://host/stream");
  unknown.kind = FormatId::unknown;

  const Case cases[] = {
      {file_source(), "-re -i /media/clip.mp4 "},
      {with_options, "-stream_loop -1 -f mpegts  -hwaccel cuda  -re -i /media/clip.mp4 "},
      {network_source("rtspt://cam/live"), "-rtsp_transport tcp -i rtsp://cam/live "},
      {network_source("RTSPT://cam/live"), "-rtsp_transport tcp -i rtsp://cam/live "},
      {network_source("rtsp://cam/live"), "-i rtsp://cam/live "},
      {network_source("http://host/live/index.m3u8"), "-re -i http://host/live/index.m3u8 "},
      {network_source("http://host/clip.ts"), "-re -i http://host/clip.ts "},
      {network_source("udp://239.0.0.1:1234"), "-i udp://239.0.0.1:1234 "},
      {network_source("srt://host:9000?mode=caller"), "-i srt://host:9000?mode=caller "},
      {device, "-f dshow -rtbufsize 100M -framerate 25 -i \"video=USB Cam:audio=Mic (2)\" "},
      {plain_device, "-f dshow -i \"video=USB Cam\" "},
      {decklink, "-f decklink -i \"DeckLink Mini Recorder\" "},
      {ndi, "-f libndi_newtek -i \"STUDIO (Camera 1)\" "},
      {unknown, "-i mmst://host/stream "},
  };
  for (const Case& c : cases) {
    const std::string line = line_of(c.source, template_target());
    EXPECT_EQ(line.substr(0, line.find("-c:a ")), c.input_part) << c.source.url;
  }
}

TEST(CommandLineInputs, DeviceQueryDoesNotReachEarlierInputs) {
  StartRequest request = request_of(network_source("http://host/a.ts?token=1"), template_target());
  EngineSource device = file_source("audio=\"Line In\"?sample_rate=48000");
  device.kind = FormatId::device;
  request.sources.push_back(device);
  request.groups[0].push_back(template_target());
  const std::string line = line_of(request);
  EXPECT_EQ(line.rfind("-re -i http://host/a.ts?token=1 -f dshow -sample_rate 48000 "
                       "-i \"audio=Line In\" ",
                       0),
            0u)
      << line;
  // The transcoder sees the device text as one argument, names unquoted.
  const std::vector<std::string> argv = split_argument_line(line);
  EXPECT_NE(std::find(argv.begin(), argv.end(), "audio=Line In"), argv.end());
}

class SessionInput : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("vx-sdp-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    settings_.slot = 3;
    settings_.session_folder = folder_.string() + "/";
  }
  void TearDown() override { fs::remove_all(folder_); }

  static EngineSource rtp_source() {
    EngineSource source;
    source.kind = FormatId::rtp_native;
    source.video.codec = kCodecH264;
    source.video.rtp.local_address = htonl(0x7f000001);
    source.video.rtp.local_port = 5004;
    return source;
  }

  fs::path folder_;
  CommandSettings settings_;
};

TEST_F(SessionInput, WritesTheDescriptionAndReadsIt) {
  const std::string line = line_of(request_of(rtp_source(), template_target()), settings_);
  const fs::path sdp = folder_ / "morv_004_in.sdp";
  EXPECT_EQ(line.rfind("-protocol_whitelist file,udp,rtp -i " + sdp.string() + " -c:a ", 0), 0u)
      << line;
  std::ifstream in(sdp);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_CONTAINS(text.str(), "m=video 5004 RTP/AVP 96\n");
}

TEST_F(SessionInput, FailsWithoutPortOrWritableFolder) {
  EngineSource no_port = rtp_source();
  no_port.video.rtp.local_port = 0;
  EXPECT_EQ(code_of(request_of(no_port, template_target()), settings_), kErrorSessionFile);

  settings_.session_folder = (folder_ / "missing" / "").string();
  EXPECT_EQ(code_of(request_of(rtp_source(), template_target()), settings_), kErrorSessionFile);

  EngineSource no_codec = rtp_source();
  no_codec.video.codec = kCodecCopy;  // no RTP name to describe it with
  settings_.session_folder = folder_.string() + "/";
  EXPECT_EQ(code_of(request_of(no_codec, template_target()), settings_), kErrorSessionFile);
}

TEST(CommandLineInputs, EmptyUrlOrEmptyRequestIsRefused) {
  EXPECT_EQ(code_of(request_of(file_source(""), template_target())), kErrorEmptySourceUrl);
  StartRequest no_sources;
  no_sources.groups.push_back(TargetGroup{template_target()});
  EXPECT_EQ(code_of(no_sources), kErrorEmptySourceUrl);
  StartRequest no_groups;
  no_groups.sources.push_back(file_source());
  EXPECT_EQ(code_of(no_groups), kErrorNotAnOutput);
}

// ----- filter part ---------------------------------------------------------------------------

const std::string kCredit =
    "[1]drawtext=text=powered by vantorix.org:fontsize=12:fontcolor=black:y=h-th[dt1]; ";

TEST(CommandLineFilters, PlainChainIsOneArgumentAndSkippedForCopies) {
  EngineSource source = file_source();
  source.filters = {"yadif", "scale=1280:720", "drawtext=text='a\\:b'"};
  const std::string line = line_of(source, template_target());
  EXPECT_CONTAINS(line, " -filter:v \"yadif, scale=1280:720, drawtext=text='a\\\\:b'\" -c:a aac ");
  // The transcoder recovers the filter texts exactly.
  const std::vector<std::string> argv = split_argument_line(line);
  const auto filter = std::find(argv.begin(), argv.end(), "-filter:v");
  ASSERT_NE(filter, argv.end());
  EXPECT_EQ(*(filter + 1), "yadif, scale=1280:720, drawtext=text='a\\:b'");

  EngineTarget copy_audio = template_target();
  copy_audio.audio.codec = kCodecCopy;
  EXPECT_LACKS(line_of(source, copy_audio), "-filter:v");
  EngineTarget no_video = template_target();
  no_video.video.enable = false;
  EXPECT_LACKS(line_of(source, no_video), "-filter:v");
}

TEST(CommandLineFilters, DefaultAlternateInputSwitchesPictureAndSound) {
  EngineSource source = network_source();
  source.alternate_input = "default";
  EXPECT_EQ(line_of(source, template_target()),
            "-i udp://239.0.0.1:1234 -re -f lavfi -i pal100bars -re -f lavfi -i aevalsrc=0 "
            "-lavfi:v \"" +
                kCredit +
                "[dt1][0:v]scale=rw:rh[v1]; [0:v][v1]streamselect\" -lavfi:a \"astreamselect\" "
                "-c:a aac -ac:a 2 -c:v libx264 -preset:v faster  -crf:v 23 -g:v 300 "
                "-force_key_frames:v expr:gte(t,n_forced*5) -c:s copy "
                "-f mpegts udp://127.0.0.1:1234 ");

  EngineTarget audio_only = template_target();
  audio_only.video.enable = false;
  const std::string line = line_of(source, audio_only);
  EXPECT_CONTAINS(line, "1234 -re -f lavfi -i aevalsrc=0 -lavfi:a \"astreamselect\" -c:a aac ");
  EXPECT_LACKS(line, "pal100bars");
}

TEST(CommandLineFilters, FileAlternateInputWithFiltersOrHardwareDecoding) {
  EngineSource source = network_source();
  source.alternate_input = "/media/slate.mp4";
  source.filters = {"yadif"};
  EXPECT_CONTAINS(line_of(source, template_target()),
                  "1234 -re -stream_loop -1 -i /media/slate.mp4 -re -f lavfi -i aevalsrc=0 "
                  "-lavfi:v \"yadif[fv0]; " +
                      kCredit + "[dt1][fv0]scale=rw:rh[v1]; [fv0][v1]streamselect\" -lavfi:a ");

  EngineSource hardware = network_source();
  hardware.alternate_input = "default";
  hardware.video.options = "-hwaccel cuda -hwaccel_output_format cuda ";
  EXPECT_CONTAINS(line_of(hardware, template_target()),
                  "-lavfi:v \"hwdownload, format=nv12[fv0]; " + kCredit +
                      "[dt1][fv0]scale=rw:rh[v1]; [fv0][v1]streamselect\" ");
}

TEST(CommandLineFilters, AlternateInputNeedsANetworkSourceAndOneGroup) {
  EngineSource local = file_source();
  local.alternate_input = "default";
  local.filters = {"yadif"};
  const std::string local_line = line_of(local, template_target());
  EXPECT_LACKS(local_line, "lavfi");
  EXPECT_CONTAINS(local_line, "-filter:v yadif ");

  EngineSource network = network_source();
  network.alternate_input = "default";
  network.filters = {"yadif"};
  StartRequest two_groups = request_of(network, template_target());
  EngineTarget second = template_target();
  second.url = "udp://127.0.0.1:1236";
  two_groups.groups.push_back(TargetGroup{second});
  const std::string line = line_of(two_groups);
  EXPECT_LACKS(line, "lavfi");
  EXPECT_EQ(line.find("-filter:v yadif ", line.find("udp://127.0.0.1:1234 ")),
            line.find("udp://127.0.0.1:1234 ") + std::string("udp://127.0.0.1:1234 ").size());
}

// ----- standby sources -----------------------------------------------------------------------

// A UDP primary with an RTMP stream and a capture device as its standby sources.
StartRequest standby_request() {
  StartRequest request = request_of(network_source(), template_target());
  EngineSource rtmp = file_source("rtmp://cdn.example/live/backup");
  EngineSource camera = file_source("video=\"USB Cam\"?framerate=25");
  camera.kind = FormatId::device;
  camera.video.options = "-thread_queue_size 512 ";
  request.standby = {rtmp, camera};
  request.switch_on = SwitchOnLimits{2, 0, 5};
  return request;
}

const std::string kStandbyInputs =
    "-i udp://239.0.0.1:1234 -standby -i rtmp://cdn.example/live/backup -standby "
    "-thread_queue_size 512  -f dshow -framerate 25 -i \"video=USB Cam\" ";
const std::string kTemplateOutput =
    "-c:a aac -ac:a 2 -c:v libx264 -preset:v faster  -crf:v 23 -g:v 300 "
    "-force_key_frames:v expr:gte(t,n_forced*5) -c:s copy -f mpegts udp://127.0.0.1:1234 ";

TEST(CommandLineStandby, StandbySourcesFollowThePrimaryAndTheSlateFollowsThem) {
  StartRequest request = standby_request();
  EXPECT_EQ(line_of(request), kStandbyInputs +
                                  "-switch_on black=2:frozen=5 -lavfi:v [0:v]streamselect "
                                  "-lavfi:a \"astreamselect\" " +
                                  kTemplateOutput);

  request.sources[0].alternate_input = "default";
  request.sources[0].filters = {"yadif"};
  EXPECT_EQ(line_of(request),
            kStandbyInputs +
                "-re -f lavfi -i pal100bars -re -f lavfi -i aevalsrc=0 "
                "-switch_on black=2:frozen=5 -lavfi:v \"yadif[fv0]; " +
                kCredit +
                "[dt1][fv0]scale=rw:rh[v1]; [fv0][v1]streamselect\" -lavfi:a \"astreamselect\" " +
                kTemplateOutput);
  const FailoverInputs inputs = failover_inputs(request);
  EXPECT_TRUE(inputs.runs);
  EXPECT_EQ(inputs.standby, 2);
  EXPECT_TRUE(inputs.slate);
  EXPECT_EQ(inputs.standby_left_out, "");
}

// Which channels run the failover line, with which inputs, and why standby sources are left out.
TEST(CommandLineStandby, WhoRunsTheFailoverLine) {
  const auto second_source = [](StartRequest& r) {
    r.sources.push_back(network_source("udp://239.0.0.2:1234"));
    r.groups[0].push_back(template_target());
  };
  const struct {
    const char* what;
    std::function<void(StartRequest&)> change;
    bool runs;
    int standby;
    const char* left_out;
    const char* line_has;  // "" for nothing to look for
  } cases[] = {
      {"switchOn alone, without a slate", [](StartRequest& r) { r.standby.clear(); }, true, 0, "",
       "-i udp://239.0.0.1:1234 -switch_on black=2:frozen=5 -lavfi:v "},
      {"switchOn all off and no slate: no failover",
       [](StartRequest& r) {
         r.standby.clear();
         r.switch_on = {};
       },
       false, 0, "", ""},
      {"a capture device as the primary",
       [](StartRequest& r) {
         r.sources[0] = file_source("video=Cam");
         r.sources[0].kind = FormatId::device;
       },
       true, 2, "", "-i video=Cam -standby -i rtmp://"},
      {"five standby records: four are written",
       [](StartRequest& r) { r.standby.resize(5, network_source("udp://239.0.0.9:1")); }, true, 4,
       "", ""},
      {"a codec copied", [](StartRequest& r) { r.groups[0][0].video.codec = kCodecCopy; }, false, 0,
       "a target copies its codec instead of encoding", ""},
      {"two targets: one failover part before the first, for both",
       [](StartRequest& r) {
         r.groups.push_back(TargetGroup{template_target()});
         r.groups[1][0].url = "udp://127.0.0.1:1236";
       },
       true, 2, "", "-lavfi:a \"astreamselect\" -c:a aac"},
      {"two targets with the slate alone: no failover, as before",
       [](StartRequest& r) {
         r.standby.clear();
         r.switch_on = {};
         r.sources[0].alternate_input = "default";
         r.groups.push_back(TargetGroup{template_target()});
       },
       false, 0, "", ""},
      {"a second target that copies",
       [](StartRequest& r) {
         r.groups.push_back(TargetGroup{template_target()});
         r.groups[1][0].audio.codec = kCodecCopy;
       },
       false, 0, "a target copies its codec instead of encoding", ""},
      {"HLS targets folding into one multi-bit-rate output",
       [](StartRequest& r) {
         r.groups[0][0].format = FormatId::hls;
         r.groups[0][0].url = "/srv/hls/a.m3u8";
         r.groups.push_back(TargetGroup{r.groups[0][0]});
         r.groups[1][0].url = "/srv/hls/b.m3u8";
       },
       false, 0, "its HLS targets make one multi-bit-rate output", ""},
      {"a bound channel", second_source, false, 0, "the channel carries bound channels", ""},
      {"a bound channel, the slate as before",
       [&second_source](StartRequest& r) {
         second_source(r);
         r.mode = 2;
         r.sources[0].alternate_input = "default";
       },
       true, 0, "the channel carries bound channels", "-re -f lavfi -i pal100bars"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StartRequest request = standby_request();
    c.change(request);
    const FailoverInputs inputs = failover_inputs(request);
    EXPECT_EQ(inputs.runs, c.runs);
    EXPECT_EQ(inputs.standby, c.standby);
    EXPECT_EQ(inputs.standby_left_out, c.left_out);
    const std::string line = line_of(request);
    const std::vector<std::string> argv = split_argument_line(line);
    EXPECT_EQ(std::count(argv.begin(), argv.end(), "-standby"), c.standby) << line;
    EXPECT_EQ(std::count(argv.begin(), argv.end(), "-lavfi:v"), c.runs ? 1 : 0) << line;
    const bool limits = c.runs && c.left_out[0] == '\0' && request.switch_on.any();
    EXPECT_EQ(std::count(argv.begin(), argv.end(), "-switch_on"), limits ? 1 : 0) << line;
    EXPECT_CONTAINS(line, c.line_has);
  }
}

// A standby source decoded on the GPU is the transcoder's business: the output keeps its size.
TEST(CommandLineStandby, AStandbySourcesOptionsReachNeitherTheGraphNorTheOutput) {
  StartRequest request = standby_request();
  request.standby[0].video.options = "-hwaccel cuda ";
  request.groups[0][0].video.width = 1280;
  request.groups[0][0].video.height = 720;
  const std::string line = line_of(request);
  EXPECT_CONTAINS(line, "-standby -hwaccel cuda  -i rtmp://");
  EXPECT_CONTAINS(line, "-lavfi:v [0:v]streamselect ");
  EXPECT_CONTAINS(line, "-s:v 1280x720 ");
}

// ----- encoders ------------------------------------------------------------------------------

// The video section of a one-to-one line: from "-c:v" up to the muxer.
std::string video_part(const EngineTarget& target) {
  const std::string line = line_of(file_source(), target);
  const std::size_t start = line.find("-c:v ");
  const std::size_t end = line.find("-c:s copy");
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST(CommandLineVideo, QualityMapsOntoTheEncoderScale) {
  struct Case {
    CodecId codec;
    int quality;
    std::string expected;
  };
  const Case cases[] = {
      {kCodecH264, 100,
       "-c:v libx264 -preset:v faster  -crf:v 0.0 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {kCodecH264, 1,
       "-c:v libx264 -preset:v faster  -crf:v 51.0 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {kCodecH264, 50,
       "-c:v libx264 -preset:v faster  -crf:v 25.8 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {kCodecMpeg2Video, 100,
       "-c:v mpeg2video -preset:v faster  -qmin:v 1 -q:v 1.0 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {kCodecMpeg2Video, 1,
       "-c:v mpeg2video -preset:v faster  -qmin:v 1 -q:v 31.0 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {155, 50,
       "-c:v mjpeg -preset:v faster  -qmin:v 1 -q:v 16.2 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {154, 100,
       "-c:v prores_ks -preset:v faster  -qmin 1.0 -qmax 51.0 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {kCodecMpeg2Video, 0,
       "-c:v mpeg2video -preset:v faster  -qmin:v 2 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {kCodecH264, -1,
       "-c:v libx264 -preset:v faster  -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {136, 0,
       "-c:v libx265 -preset:v faster  -crf:v 28 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {157, 0,
       "-c:v libvpx-vp9 -preset:v faster  -cpu-used:v 3 -crf:v 32 -g:v 300 -force_key_frames:v "
       "expr:gte(t,n_forced*5) "},
      {158, 0,
       "-c:v libsvtav1 -preset:v faster  -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {140, 0,
       "-c:v h264_qsv -preset:v faster  -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) "},
  };
  for (const Case& c : cases) {
    EngineTarget target = template_target();
    target.video.codec = c.codec;
    target.video.quality = c.quality;
    EXPECT_EQ(video_part(target), c.expected) << c.codec << " q" << c.quality;
  }
}

TEST(CommandLineVideo, PresetDefaultsUnlessTheOptionsNameOne) {
  EngineTarget target = template_target();
  target.video.options.clear();
  EXPECT_EQ(video_part(target),
            "-c:v libx264 -preset:v faster -crf:v 23 -g:v 300 -force_key_frames:v "
            "expr:gte(t,n_forced*5) ");
  target.video.codec = 137;
  EXPECT_EQ(
      video_part(target),
      "-c:v h264_nvenc -preset:v default -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) ");
  target.video.codec = 141;
  EXPECT_EQ(video_part(target),
            "-c:v hevc_qsv -preset:v medium -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) ");
  target.video.codec = 156;
  target.video.options = "-cpu-used 5 ";
  EXPECT_EQ(
      video_part(target),
      "-c:v libvpx -cpu-used 5  -crf:v 32 -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) ");
  // A group of pictures the operator sets counts frames, as ffmpeg counts it, and replaces ours.
  target.video.options = "-g 50";
  EXPECT_EQ(video_part(target), "-c:v libvpx -g 50 -cpu-used:v 3 -crf:v 32 ");
}

TEST(CommandLineVideo, BitRateAndConstantRateMultiplexing) {
  EngineTarget nvenc = template_target();
  nvenc.video.codec = 137;
  nvenc.video.options.clear();
  nvenc.video.bitrate_kbps = 4000;
  EXPECT_EQ(video_part(nvenc),
            "-c:v h264_nvenc -preset:v default -b:v 4000k -maxrate:v 4000k -cbr 1 "
            "-bufsize:v 4000k -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) ");

  nvenc.mux_rate_kbps = 5000;
  nvenc.format_options = "-bitrate 5000k ";
  const std::string line = line_of(file_source(), nvenc);
  EXPECT_CONTAINS(line,
                  "-cbr 1 -bufsize:v 800k -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) "
                  "-muxrate 5000k -bitrate 5000k  -c:s copy");

  EngineTarget av1 = template_target();
  av1.video.codec = 158;
  av1.video.options.clear();
  av1.video.bitrate_kbps = 2000;
  EXPECT_EQ(video_part(av1),
            "-c:v libsvtav1 -preset:v 13 -b:v 2000k -svtav1-params rc=2:pred-struct=1 "
            "-bufsize:v 2000k -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) ");

  EngineTarget x264 = template_target();
  x264.video.quality = 80;
  x264.video.bitrate_kbps = 3000;
  EXPECT_CONTAINS(video_part(x264),
                  "-crf:v 10.3 -b:v 3000k -maxrate:v 3000k -nal-hrd cbr -bufsize:v 3000k ");
}

TEST(CommandLineVideo, PictureSizeFrameRateAndKeyFrames) {
  struct Case {
    std::uint16_t width, height;
    float frame_rate;
    std::string expected_tail;  // after the rate control
  };
  const Case cases[] = {
      {0, 0, 25.0f, "-r:v 25 -g:v 125 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {0, 0, 29.97f, "-r:v ntsc -g:v 150 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {0, 0, 23.976f, "-r:v ntsc-film -g:v 120 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {0, 0, 59.94f, "-r:v 60000/1001 -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {0, 0, 12.5f, "-r:v 12.5 -g:v 63 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {4, 2, 0, "-s:v 8x8 -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {1280, 720, 50.0f,
       "-s:v 1280x720 -r:v 50 -g:v 250 -force_key_frames:v expr:gte(t,n_forced*5) "},
      {0, 720, 0, "-g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) "},
  };
  for (const Case& c : cases) {
    EngineTarget target = template_target();
    target.video.width = c.width;
    target.video.height = c.height;
    target.video.frame_rate = c.frame_rate;
    const std::string part = video_part(target);
    EXPECT_EQ(part.substr(part.find("-crf:v 23 ") + 10), c.expected_tail)
        << c.width << "x" << c.height << "@" << c.frame_rate;
  }

  EngineSource hardware = file_source();
  hardware.video.options = "-hwaccel cuda ";
  EngineTarget sized = template_target();
  sized.video.width = 1280;
  sized.video.height = 720;
  EXPECT_LACKS(line_of(hardware, sized), "-s:v");
}

TEST(CommandLineVideo, HlsKeyFramesFollowTheSegmentLength) {
  EngineTarget hls = template_target();
  hls.format = FormatId::hls;
  hls.url = "/var/www/live/index.m3u8";
  hls.video.key_frame_interval = 2;
  hls.format_options = "-hls_time 4 -hls_list_size 5 ";
  EXPECT_CONTAINS(line_of(file_source(), hls),
                  "-crf:v 23 -g:v 240 -force_key_frames:v expr:gte(t,n_forced*4) -hls_time 4");

  hls.format_options.clear();
  hls.video.key_frame_interval = 0;
  EXPECT_EQ(line_of(file_source(), hls).substr(line_of(file_source(), hls).find("-crf:v 23")),
            "-crf:v 23 -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) -f hls -y "
            "-hls_flags delete_segments /var/www/live/index.m3u8 ");
}

// A live playlist's folder keeps only what the playlist names; a playlist that keeps every
// segment keeps the files, and the operator's own flags stand as written.
TEST(CommandLineOutputs, LiveHlsDeletesWhatLeftItsPlaylist) {
  const struct {
    const char* options;
    bool deletes;
  } cases[] = {{"", true},
               {"-hls_time 2 -hls_list_size 6 ", true},
               {"-hls_flags append_list ", false},
               {"-hls_flags delete_segments+program_date_time ", false},
               {"-hls_playlist_type event ", false},
               {"-hls_list_size 0 ", false}};
  for (const auto& c : cases) {
    EngineTarget hls = template_target();
    hls.format = FormatId::hls;
    hls.url = "/www/live.m3u8";
    hls.format_options = c.options;
    const std::string line = line_of(file_source(), hls);
    EXPECT_EQ(line.find("-f hls -y -hls_flags delete_segments /www/") != std::string::npos,
              c.deletes)
        << c.options;
    EXPECT_EQ(line.find("-hls_flags") == line.rfind("-hls_flags"), true) << line;
  }
}

TEST(CommandLineVideo, InterlacingAndPlayoutCards) {
  EngineTarget top = template_target();
  top.video.scan_type = 2;
  EXPECT_CONTAINS(video_part(top),
                  "-g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) -flags:v +ilme+ildct -top:v "
                  "1 -x264opts:v tff=1 ");
  EngineTarget bottom = template_target();
  bottom.video.scan_type = 3;
  EXPECT_CONTAINS(video_part(bottom),
                  "-g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) -flags:v +ilme+ildct -top:v "
                  "0 -x264opts:v bff=1 ");

  EngineTarget decklink = template_target();
  decklink.format = FormatId::decklink;
  decklink.url = "DeckLink Mini Monitor";
  decklink.video.scan_type = 2;
  EXPECT_EQ(line_of(file_source(), decklink),
            "-re -i /media/clip.mp4 -ac 2 -ar 48000 -pix_fmt uyvy422 -field_order tt "
            "-f decklink \"DeckLink Mini Monitor\" ");

  EngineTarget ndi = template_target();
  ndi.format = FormatId::ndi;
  ndi.url = "Vantorix 1";
  ndi.video.frame_rate = 25;
  EXPECT_EQ(line_of(file_source(), ndi),
            "-re -i /media/clip.mp4 -c:a aac -ac:a 2 -pix_fmt uyvy422 -r:v 25 "
            "-f libndi_newtek \"Vantorix 1\" ");
}

TEST(CommandLineAudio, SettingsAndCopies) {
  EngineTarget target = template_target();
  target.audio.codec = 7;
  target.audio.sample_rate = 44100;
  target.audio.bitrate_kbps = 128;
  EXPECT_CONTAINS(line_of(file_source(), target), "-c:a libmp3lame -ac:a 2 -ar:a 44100 -b:a 128k ");

  EngineTarget copies = template_target();
  copies.audio.codec = kCodecCopy;
  copies.video.codec = kCodecCopy;
  EXPECT_EQ(line_of(file_source(), copies),
            "-re -i /media/clip.mp4 -c:a copy -c:v copy -c:s copy -f mpegts "
            "udp://127.0.0.1:1234 ");

  EngineTarget silent = template_target();
  silent.audio.enable = false;
  silent.audio.codec = kCodecUnknown;  // a disabled stream needs no encoder
  EXPECT_CONTAINS(line_of(file_source(), silent), "clip.mp4 -an -c:v libx264 ");
  EngineTarget no_picture = template_target();
  no_picture.video.enable = false;
  EXPECT_CONTAINS(line_of(file_source(), no_picture), "-ac:a 2 -vn -c:s copy ");
}

TEST(CommandLineAudio, EnabledStreamWithoutEncoderIsRefused) {
  EngineTarget bad_audio = template_target();
  bad_audio.audio.codec = kCodecUnknown;
  EXPECT_EQ(code_of(request_of(file_source(), bad_audio)), kErrorNoEncoder);
  EngineTarget bad_video = template_target();
  bad_video.video.codec = 13;
  EXPECT_EQ(code_of(request_of(file_source(), bad_video)), kErrorNoEncoder);
}

// ----- muxers and destinations ---------------------------------------------------------------

TEST(CommandLineOutputs, EveryFormatWritesItsMuxerAndDestination) {
  struct Case {
    FormatId format;
    std::string url;
    std::string format_options;
    std::string tail;  // the line after the video section's "-g:v 300 -force_key_frames:v
                       // expr:gte(t,n_forced*5) "
  };
  const Case cases[] = {
      {FormatId::file, "/rec/show.ts", "", "-y /rec/show.ts "},
      {FormatId::file, "ftp://host/show.ts", "", "ftp://host/show.ts "},
      {FormatId::rtmp, "rtmp://host/live/key", "", "-f flv rtmp://host/live/key "},
      {FormatId::udp, "udp://239.1.1.1:5000?pkt_size=1316", "",
       "-c:s copy -f mpegts udp://239.1.1.1:5000?pkt_size=1316 "},
      {FormatId::udp, "RTP://239.1.1.1:5000", "", "-c:s copy -f rtp_mpegts RTP://239.1.1.1:5000 "},
      {FormatId::rtpts, "rtp://239.1.1.1:5000", "",
       "-c:s copy -f rtp_mpegts rtp://239.1.1.1:5000 "},
      {FormatId::http, "http://0.0.0.0:9530", "", "-c:s copy -f mpegts http://0.0.0.0:9530 "},
      {FormatId::html5, "http://0.0.0.0:9528", "",
       "-movflags dash+frag_keyframe -frag_duration 500000 -f mp4 http://0.0.0.0:9528/3.mp4 "},
      {FormatId::httpmjpg, "http://0.0.0.0:9530", "", "-f mjpeg http://0.0.0.0:9530/3.mjpg "},
      {FormatId::omxts, "udp://239.1.1.1:5000", "",
       "-c:s copy -f omx_ts_mux udp://239.1.1.1:5000 "},
      {FormatId::srt, "srt://host:9000", "", "-f mpegts srt://host:9000 "},
      {FormatId::srt, "srt://host:9000", "-f flv ", "-f flv  srt://host:9000 "},
      {FormatId::hls, "/www/live.m3u8", "", "-f hls -y -hls_flags delete_segments /www/live.m3u8 "},
      {FormatId::dash, "/www/live.mpd", "", "-f dash -y /www/live.mpd "},
      {FormatId::rtsp, "rtsp://host:8554/live", "", "-f rtsp rtsp://host:8554/live "},
      {FormatId::hls, "", "-hls_time 5 ", "-hls_time 5  "},  // nothing to write to
  };
  CommandSettings slot_two;
  slot_two.slot = 2;
  for (const Case& c : cases) {
    EngineTarget target = template_target();
    target.format = c.format;
    target.url = c.url;
    target.format_options = c.format_options;
    const std::string line = line_of(request_of(file_source(), target), slot_two);
    const std::string key_frames = "-g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) ";
    const std::size_t video_end = line.find(key_frames) + key_frames.size();
    EXPECT_EQ(line.substr(video_end), c.tail) << format_name_from_id(c.format) << " " << c.url;
  }
}

// Texts that once added arguments to ffmpeg's line or cut it.
const std::vector<std::string> kHostileTexts = {
    " -y /tmp/x.ts", "\" -y \"", "a\nb\r\"c\\", "\\\" -y", "-y", "", "\xff\x01 grüße"};

bool holds_argument(const std::vector<std::string>& argv, const std::string& argument) {
  return std::find(argv.begin(), argv.end(), argument) != argv.end();
}

// Every configured text the engine writes arrives as exactly one argument: the line splits into
// as many arguments as with a harmless text, and the text is among them as it was.
TEST(CommandLineTexts, EveryConfiguredTextIsExactlyOneArgument) {
  struct Case {
    const char* what;
    std::function<void(StartRequest&, CommandSettings&, const std::string&)> place;
    std::string prefix;  // what the engine puts before the text in the same argument
    std::string suffix;
  };
  const auto source_kind = [](FormatId kind, std::string prefix = "") {
    return [kind, prefix](StartRequest& r, CommandSettings&, const std::string& text) {
      r.sources[0].kind = kind;
      r.sources[0].url = prefix + text;
    };
  };
  const auto target_kind = [](FormatId kind, std::string prefix) {
    return [kind, prefix](StartRequest& r, CommandSettings&, const std::string& text) {
      r.groups[0][0].format = kind;
      r.groups[0][0].url = prefix + text;
    };
  };
  std::vector<Case> cases = {
      {"file source", source_kind(FormatId::file, "/m/"), "/m/", ""},
      {"network source", source_kind(FormatId::udp, "udp://127.0.0.1:5000"), "udp://127.0.0.1:5000",
       ""},
      {"rtspt source", source_kind(FormatId::rtsp, "rtspt://127.0.0.1/"), "rtsp://127.0.0.1/", ""},
      {"decklink source", source_kind(FormatId::decklink, "Card "), "Card ", ""},
      {"ndi source", source_kind(FormatId::ndi, "HOST (Cam) "), "HOST (Cam) ", ""},
      {"sound input",
       [](StartRequest& r, CommandSettings&, const std::string& text) {
         r.sources[0].kind = FormatId::http;
         r.sources[0].url = "http://127.0.0.1/v";
         r.sources[0].sound_url = "http://127.0.0.1/" + text;
       },
       "http://127.0.0.1/", ""},
      {"filter text",
       [](StartRequest& r, CommandSettings&, const std::string& text) {
         r.sources[0].filters = {"yadif", text};
       },
       "yadif, ", ""},
      {"alternate input",
       [](StartRequest& r, CommandSettings&, const std::string& text) {
         r.sources[0] = network_source();
         r.sources[0].alternate_input = "/m/" + text;
       },
       "/m/", ""},
      {"standby source",
       [](StartRequest& r, CommandSettings&, const std::string& text) {
         r.standby = {file_source("/m/" + text)};
       },
       "/m/", ""},
      {"standby card",
       [](StartRequest& r, CommandSettings&, const std::string& text) {
         r.switch_on.black = 1;
         r.standby = {file_source("Card " + text)};
         r.standby[0].kind = FormatId::decklink;
       },
       "Card ", ""},
      {"plug-in core",
       [](StartRequest& r, CommandSettings& settings, const std::string& text) {
         r.groups[0][0].format = FormatId::omxts;
         r.groups[0][0].video.codec = 148;  // the plug-in's H.264 encoder
         settings.plugin_core_path = "/opt/" + text;
       },
       "/opt/", ""},
      {"session folder",
       [](StartRequest& r, CommandSettings& settings, const std::string& text) {
         r.groups[0][0].format = FormatId::rtp_native;
         r.groups[0][0].url = "rtp://127.0.0.1:5000";
         r.groups[0][0].video.rtp.remote_port = 5000;
         settings.session_folder = "/var/" + text + "/";
       },
       "/var/", "/morv_001_out.sdp"},
  };
  for (FormatId kind : {FormatId::file, FormatId::rtmp, FormatId::udp, FormatId::rtpts,
                        FormatId::http, FormatId::omxts, FormatId::srt, FormatId::hls,
                        FormatId::dash, FormatId::rtsp, FormatId::decklink, FormatId::ndi}) {
    cases.push_back({format_name_from_id(kind), target_kind(kind, "/out/"), "/out/", ""});
  }
  cases.push_back({"html5 target", target_kind(FormatId::html5, "http://127.0.0.1:9528/"),
                   "http://127.0.0.1:9528/", "/1.mp4"});
  cases.push_back({"mjpeg target", target_kind(FormatId::httpmjpg, "http://127.0.0.1:9530/"),
                   "http://127.0.0.1:9530/", "/1.mjpg"});

  for (const Case& c : cases) {
    const auto argv_with = [&](const std::string& text) {
      StartRequest request = request_of(file_source(), template_target());
      CommandSettings settings;
      settings.session_folder = "/var/log/";
      c.place(request, settings, text);
      std::string line;
      EXPECT_EQ(build_command_line(request, settings, line), 0) << c.what;
      EXPECT_EQ(line.find_first_of("\n\r"), std::string::npos) << c.what;
      return split_argument_line(line);
    };
    const std::size_t harmless = argv_with("x").size();
    for (const std::string& text : kHostileTexts) {
      const std::vector<std::string> argv = argv_with(text);
      EXPECT_EQ(argv.size(), harmless) << c.what << ": " << text;
      EXPECT_TRUE(holds_argument(argv, c.prefix + text + c.suffix)) << c.what << ": " << text;
    }
  }
}

// A destination that starts with '-' would be an option to ffmpeg ("-report" writes a file of
// its own); it is written as the same path from the current folder.
TEST(CommandLineTexts, DestinationsNeverReadAsOptions) {
  for (FormatId kind : {FormatId::file, FormatId::hls, FormatId::dash}) {
    EngineTarget target = template_target();
    target.format = kind;
    target.url = "-report";
    const std::vector<std::string> argv =
        split_argument_line(line_of(request_of(file_source(), target)));
    EXPECT_EQ(argv.back(), "./-report") << format_name_from_id(kind);
    EXPECT_FALSE(holds_argument(argv, "-report")) << format_name_from_id(kind);
  }
}

// A device text names its devices in quotes; its query options are each one name and one value.
TEST(CommandLineTexts, DeviceNamesAndOptionsAreOneArgumentEach) {
  EngineSource device = file_source("video=\"Cam -y\"?rtbufsize=1 -y /tmp/x&framerate=25");
  device.kind = FormatId::device;
  const std::vector<std::string> argv =
      split_argument_line(line_of(request_of(device, template_target())));
  const std::vector<std::string> opening(argv.begin(), argv.begin() + 8);
  EXPECT_EQ(opening, (std::vector<std::string>{"-f", "dshow", "-rtbufsize", "1 -y /tmp/x",
                                               "-framerate", "25", "-i", "video=Cam -y"}));
}

TEST(CommandLineOutputs, PluginCorePathReachesEncoderAndMuxer) {
  CommandSettings plugin;
  plugin.plugin_core_path = "/opt/mc/core.so";
  EngineTarget target = template_target();
  target.format = FormatId::omxts;
  target.video.codec = 148;
  target.video.options.clear();
  EXPECT_CONTAINS(line_of(request_of(file_source(), target), plugin),
                  "-c:v omx_enc_avc -omx_core /opt/mc/core.so -crf:v 23 -g:v 300 "
                  "-force_key_frames:v expr:gte(t,n_forced*5) -c:s copy "
                  "-f omx_ts_mux -omx_core /opt/mc/core.so udp://127.0.0.1:1234 ");
  EXPECT_CONTAINS(line_of(file_source(), target), "-c:v omx_enc_avc -crf:v 23 ");
}

TEST(CommandLineOutputs, FormatsThatCannotBeOutputsAndEmptyFileTargets) {
  for (FormatId format : {FormatId::ytdlp, FormatId::device, FormatId::unknown}) {
    for (const char* url : {"udp://127.0.0.1:1", ""}) {
      EngineTarget target = template_target();
      target.format = format;
      target.url = url;
      EXPECT_EQ(code_of(request_of(file_source(), target)), kErrorNotAnOutput)
          << static_cast<int>(format) << " " << url;
    }
  }
  EngineTarget empty_file = template_target();
  empty_file.format = FormatId::file;
  empty_file.url.clear();
  EXPECT_EQ(code_of(request_of(file_source(), empty_file)), kErrorEmptyFileTarget);
}

TEST(CommandLineOutputs, NativeRtpSendsEachStreamOnItsOwn) {
  EngineTarget rtp = template_target();
  rtp.format = FormatId::rtp_native;
  rtp.url = "rtp://239.1.1.1";
  rtp.format_options = "-payload_type 98 ";
  rtp.audio.rtp.remote_address = htonl(0xef010101);
  rtp.audio.rtp.remote_port = 5002;
  rtp.video.rtp.remote_address = htonl(0xef010101);
  rtp.video.rtp.remote_port = 5000;
  rtp.video.rtp.local_port = 6000;
  rtp.video.global_header = true;
  CommandSettings settings;
  settings.slot = 0;
  settings.session_folder = "/var/log/vx/";
  EXPECT_EQ(line_of(request_of(file_source(), rtp), settings),
            "-re -i /media/clip.mp4 -c:a aac -ac:a 2 -vn -f rtp "
            "-flags:a +global_header -rtpflags +latm rtp://239.1.1.1:5002 "
            "-c:v libx264 -preset:v faster  -crf:v 23 -g:v 300 -force_key_frames:v "
            "expr:gte(t,n_forced*5) -an -f rtp -flags +global_header "
            "-payload_type 98  rtp://239.1.1.1:5000?localport=6000 "
            "-sdp_file /var/log/vx/morv_001_out.sdp ");

  rtp.audio.rtp.remote_port = 0;  // no audio destination: no audio at all
  rtp.video.codec = kCodecH263;
  rtp.video.global_header = false;
  rtp.video.options.clear();
  const std::string line = line_of(request_of(file_source(), rtp), settings);
  EXPECT_CONTAINS(
      line,
      "clip.mp4 -an -c:v h263 -qmin:v 2 -g:v 300 -force_key_frames:v expr:gte(t,n_forced*5) "
      "-an -f rtp -flags -global_header "
      "-rtpflags +rfc2190 ");
}

// ----- several inputs, several groups --------------------------------------------------------

TEST(CommandLineGroups, TwoInputsShareOneOutput) {
  StartRequest request;
  request.sources = {file_source("/media/a.mp4"), network_source("udp://239.0.0.2:1234")};
  request.sources[0].map_options = "-map 0:v -map 0:a ";
  request.sources[1].map_options = "-map 1:v -map 1:a ";
  request.sources[1].filters = {"yadif"};  // filters need a single input
  EngineTarget first = template_target();
  first.video.options = "-preset:v:0 veryfast ";
  EngineTarget second = template_target();
  second.video.codec = kCodecMpeg2Video;
  second.video.options.clear();
  second.audio.codec = 6;
  request.groups.push_back(TargetGroup{first, second});
  EXPECT_EQ(line_of(request),
            "-re -i /media/a.mp4 -i udp://239.0.0.2:1234 "
            "-map 0:v -map 0:a  -c:a:0 aac -ac:a:0 2 -c:v:0 libx264 -preset:v:0 veryfast  "
            "-crf:v:0 23 -g:v:0 300 -force_key_frames:v:0 expr:gte(t,n_forced*5) "
            "-map 1:v -map 1:a  -c:a:1 mp2 -ac:a:1 2 -c:v:1 mpeg2video -qmin:v:1 2 -g:v:1 300 "
            "-force_key_frames:v:1 expr:gte(t,n_forced*5) "
            "-c:s copy -f mpegts udp://127.0.0.1:1234 ");

  // A quality reaches only its own stream; under a bit rate it is the quantiser floor.
  request.groups[0][1].video.quality = 50;
  request.groups[0][1].video.bitrate_kbps = 2000;
  EXPECT_CONTAINS(line_of(request),
                  "-c:v:1 mpeg2video -qmin:v:1 16.2 -qmax:v:1 31 -b:v:1 2000k "
                  "-maxrate:v:1 2000k -bufsize:v:1 2000k -g:v:1 300 "
                  "-force_key_frames:v:1 expr:gte(t,n_forced*5) ");

  request.groups[0].pop_back();  // a group must hold an entry for every input
  EXPECT_EQ(code_of(request), kErrorNotAnOutput);
}

// Each target decides its muxer from its own options: an SRT target after an RTMP one (whose
// "-f flv" stands earlier in the line) still gets MPEG-TS, or ffmpeg cannot guess a format.
TEST(CommandLineGroups, EachTargetChoosesItsOwnMuxer) {
  StartRequest request;
  request.sources = {file_source("/media/a.mp4")};
  EngineTarget rtmp = template_target();
  rtmp.format = FormatId::rtmp;
  rtmp.url = "rtmp://host/live/key";
  EngineTarget srt = template_target();
  srt.format = FormatId::srt;
  srt.url = "srt://host:9000";
  request.groups = {{rtmp}, {srt}};
  const std::string line = line_of(request);
  EXPECT_CONTAINS(line, "-f flv rtmp://host/live/key ");
  EXPECT_CONTAINS(line, "-f mpegts srt://host:9000 ");
}

TEST(CommandLineGroups, HlsVariantsAreNumberedByGroup) {
  StartRequest request = request_of(file_source(), template_target());
  request.groups.clear();
  for (int variant = 0; variant < 2; ++variant) {
    EngineTarget hls = template_target();
    hls.format = FormatId::hls;
    hls.video.bitrate_kbps = variant == 0 ? 3000 : 800;
    hls.url = variant == 0 ? "" : "/www/%v.m3u8";
    hls.format_options = variant == 0 ? "" : "-var_stream_map \"v:0,a:0 v:1,a:1\" ";
    request.groups.push_back(TargetGroup{hls});
  }
  const std::string line = line_of(request);
  EXPECT_CONTAINS(line, "-c:a:0 aac -ac:a:0 2 -c:v:0 libx264 -preset:v faster  -b:v:0 3000k ");
  EXPECT_CONTAINS(line, "-c:a:1 aac -ac:a:1 2 -c:v:1 libx264 -preset:v faster  -b:v:1 800k ");
  EXPECT_CONTAINS(line,
                  "-g:v:1 300 -force_key_frames:v:1 expr:gte(t,n_forced*5) -var_stream_map "
                  "\"v:0,a:0 v:1,a:1\"  -f hls -y -hls_flags delete_segments /www/%v.m3u8 ");

  // With another kind of target the groups are outputs of their own: no group numbers its
  // options, the HLS one after a UDP one included (":1" would name a stream it does not have).
  request.groups[0][0].format = FormatId::udp;
  request.groups[0][0].url = "udp://127.0.0.1:1234";
  request.groups[1][0].url = "/www/live.m3u8";
  request.groups[1][0].format_options = "-hls_time 4 ";
  request.groups[1][0].video.width = 640;
  request.groups[1][0].video.height = 360;
  const std::string line_of_two = line_of(request);
  EXPECT_CONTAINS(line_of_two, "-c:v libx264 -preset:v faster  -b:v 3000k ");
  EXPECT_CONTAINS(line_of_two, "-c:v libx264 -preset:v faster  -b:v 800k ");
  EXPECT_CONTAINS(line_of_two, "-s:v 640x360 -g:v 240 -force_key_frames:v expr:gte(t,n_forced*4) ");
  EXPECT_LACKS(line_of_two, ":1 ");
}

TEST(CommandLineGroups, LongLinesGrowInsteadOfBeingCut) {
  EngineSource source = file_source();
  const std::string long_filter = "drawtext=text=" + std::string(30000, 'a');
  source.filters = {long_filter, long_filter};
  StartRequest request = request_of(source, template_target());
  for (int group = 1; group < 5; ++group) {
    EngineTarget target = template_target();
    target.url = "udp://127.0.0.1:" + std::to_string(1234 + 2 * group);
    request.groups.push_back(TargetGroup{target});
  }
  const std::string line = line_of(request);
  EXPECT_GT(line.size(), 5u * 60000u);
  const std::string last_destination = "-f mpegts udp://127.0.0.1:1242 ";
  EXPECT_EQ(line.substr(line.size() - last_destination.size()), last_destination);
  int whole_filters = 0;
  for (std::size_t at = line.find(long_filter); at != std::string::npos;
       at = line.find(long_filter, at + 1)) {
    ++whole_filters;
  }
  EXPECT_EQ(whole_filters, 10);
}

}  // namespace
}  // namespace vx

namespace vx {
namespace {

// The thumbnail option closes the line: from the pictures the line decodes, from key frames
// alone when every target copies the picture, and not at all without pictures to show.
TEST(CommandLineOutputs, TheThumbnailOptionClosesTheLine) {
  const std::string file = "/run/user/1000/vantorix thumbnails/3.jpg";
  const std::string quoted = quoted_argument(file);
  EngineTarget copies = template_target();
  copies.video.codec = kCodecCopy;
  EngineTarget sound_alone = template_target();
  sound_alone.video.enable = false;
  EngineSource hardware = file_source();
  hardware.video.options = "-hwaccel cuda -hwaccel_output_format cuda ";
  StartRequest two_targets = request_of(file_source(), copies);
  two_targets.groups.push_back(TargetGroup{template_target()});
  struct Case {
    const char* what;
    StartRequest request;
    std::string file;
    std::string ending;  // "" when the line names no thumbnail
  };
  const Case cases[] = {
      {"encoded", request_of(file_source(), template_target()), file,
       std::string(kThumbnailOption) + " " + quoted + " "},
      {"copied", request_of(file_source(), copies), file,
       std::string(kThumbnailKeyFramesOption) + " " + quoted + " "},
      {"copied by one target, encoded by another", two_targets, file,
       std::string(kThumbnailOption) + " " + quoted + " "},
      {"sound alone", request_of(file_source(), sound_alone), file, ""},
      {"decoded on a GPU", request_of(hardware, template_target()), file, ""},
      {"no file", request_of(file_source(), template_target()), "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandSettings settings;
    settings.thumbnail_file = c.file;
    const std::string line = line_of(c.request, settings);
    if (c.ending.empty()) {
      EXPECT_LACKS(line, "-thumbnail");
      continue;
    }
    ASSERT_GE(line.size(), c.ending.size());
    EXPECT_EQ(line.substr(line.size() - c.ending.size()), c.ending);
    const std::vector<std::string> arguments = split_argument_line(line);
    EXPECT_EQ(arguments.back(), file) << "the path is one argument";
  }
}

}  // namespace
}  // namespace vx
