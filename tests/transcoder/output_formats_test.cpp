// morvi-transcoder run on the argument lines the engine composes for every kind of output, each
// result read back by a real peer on 127.0.0.1: files, HLS and DASH; UDP, RTP, SRT, RTSP and RTMP
// senders; native RTP with its session file; the outputs the transcoder serves over HTTP(S)
// itself; and the formats it refuses.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/channel_compiler.h"
#include "engine/command_line.h"
#include "tests/support/peers.h"
#include "vocabulary/codecs.h"
#include "vocabulary/records.h"

namespace vx {
namespace {

using namespace testing_support;

constexpr int kClipFrames = 75;  // 3 s at 25 frames per second
// ffmpeg's own exit status after an orderly stop (SIGINT); the transcoder passes it on.
constexpr int kOrderlyStopStatus = 255;

const std::vector<std::string> kH264Aac = {"audio aac", "video h264"};

// ---------------------------------------------------------------------------------------------
// Engine records

// The new-channel template's target (h264 with the "faster" preset, stereo aac), with a key frame
// every second so that receivers joining a running stream decode within their short capture.
EngineTarget template_target(FormatId format, const std::string& url) {
  EngineTarget target;
  target.format = format;
  target.url = url;
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.video.key_frame_interval = 1;
  target.video.options = "-preset:v faster";
  target.audio.enable = true;
  target.audio.codec = codec_id_from_name("aac");
  target.audio.channels = 2;
  return target;
}

std::string local_url(const char* scheme, std::uint16_t port, const char* rest = "") {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + rest;
}

class OutputFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vx_outputs_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    clip_ = folder_ / "clip.mp4";
    Peer maker(ffmpeg_argv({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=3", "-f",
                            "lavfi", "-i", "sine=frequency=440:duration=3", "-c:v", "libx264",
                            "-pix_fmt", "yuv420p", "-c:a", "aac", clip_.string()}),
               "/dev/null", folder_ / "clip.err");
    ASSERT_EQ(maker.wait(kRunLimit), 0) << maker.report();
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }

  // The clip played once in real time (the engine reads a file source with "-re").
  EngineSource clip_source() const {
    EngineSource source;
    source.kind = FormatId::file;
    source.url = clip_.string();
    return source;
  }
  // The clip repeated until the transcoder is stopped.
  EngineSource looping_source() const {
    EngineSource source = clip_source();
    source.input_options = "-stream_loop -1";
    return source;
  }

  std::string compose(const StartRequest& request, int slot = 0) const {
    std::string line;
    const CommandSettings settings{slot, 0, "", folder_.string() + "/", ""};
    EXPECT_EQ(build_command_line(request, settings, line), 0) << "built so far: " << line;
    return line;
  }
  std::string compose(const EngineSource& source, const EngineTarget& target) const {
    StartRequest request;
    request.sources = {source};
    request.groups = {{target}};
    return compose(request);
  }

  fs::path folder_;
  fs::path clip_;
};

// ---------------------------------------------------------------------------------------------
// Files, HLS and DASH: the clip is played once and the transcoder ends on its own.

struct WrittenCase {
  const char* name;
  FormatId format;
  const char* file;
};

void PrintTo(const WrittenCase& c, std::ostream* out) {
  *out << c.name;
}

class WrittenOutputs : public OutputFormats, public ::testing::WithParamInterface<WrittenCase> {};

TEST_P(WrittenOutputs, HoldTheWholeClip) {
  const WrittenCase& c = GetParam();
  const fs::path written = folder_ / c.file;
  Transcoder transcoder(compose(clip_source(), template_target(c.format, written.string())));
  ASSERT_TRUE(transcoder.started());
  ASSERT_EQ(transcoder.wait_for_end(), 0) << transcoder.report();

  const ProbeResult result = probe(folder_, written.string());
  ASSERT_EQ(result.error, "") << transcoder.report();
  EXPECT_EQ(result.kinds(), kH264Aac) << transcoder.report();
  EXPECT_EQ(result.packets("video"), kClipFrames) << transcoder.report();
}

INSTANTIATE_TEST_SUITE_P(Formats, WrittenOutputs,
                         ::testing::Values(WrittenCase{"mp4", FormatId::file, "out.mp4"},
                                           WrittenCase{"ts", FormatId::file, "out.ts"},
                                           WrittenCase{"mkv", FormatId::file, "out.mkv"},
                                           WrittenCase{"hls", FormatId::hls, "live.m3u8"},
                                           WrittenCase{"dash", FormatId::dash, "live.mpd"}),
                         [](const ::testing::TestParamInfo<WrittenCase>& param) {
                           return param.param.name;
                         });

// The MPEG-TS tab names its program's streams by input; what ffmpeg writes holds that program
// with the picture and the sound, under its title.
TEST_F(OutputFormats, AProgramNamedByInputHoldsThatInputsStreams) {
  const fs::path written = folder_ / "program.ts";
  EngineTarget target = template_target(FormatId::file, written.string());
  target.format_options = "-program \"program_num=7:title='News: late':if=0\" ";
  Transcoder transcoder(compose(clip_source(), target));
  ASSERT_TRUE(transcoder.started());
  ASSERT_EQ(transcoder.wait_for_end(), 0) << transcoder.report();
  Peer programs({"ffprobe", "-v", "error", "-show_entries",
                 "program=program_num,nb_streams:program_tags=service_name", "-of", "csv=p=0",
                 written.string()},
                folder_ / "programs.out", folder_ / "programs.err");
  ASSERT_EQ(programs.wait(kRunLimit), 0) << programs.report();
  EXPECT_EQ(programs.out().rfind("7,2,News: late,", 0), 0u) << programs.out();
}

// Two HLS targets as the channel compiler folds them: the first group only brings its encoder
// settings (stream suffix ":0"), the last one the maps, the variant map and "%v.m3u8".
TEST_F(OutputFormats, MultiBitRateHlsWritesAPlayablePlaylistPerVariant) {
  StartRequest request;
  request.sources = {clip_source()};
  for (const auto& [name, kbps] : {std::pair{"hi", 800}, std::pair{"lo", 300}}) {
    EngineTarget variant =
        template_target(FormatId::hls, (folder_ / (std::string(name) + ".m3u8")).string());
    variant.video.bitrate_kbps = kbps;
    variant.format_options = "-hls_time 1 ";
    request.groups.push_back({variant});
  }
  apply_multibitrate_hls(request.groups);
  Transcoder transcoder(compose(request));
  ASSERT_TRUE(transcoder.started());
  ASSERT_EQ(transcoder.wait_for_end(), 0) << transcoder.report();

  for (const char* name : {"hi", "lo"}) {
    SCOPED_TRACE(name);
    const fs::path playlist = folder_ / (std::string(name) + ".m3u8");
    ASSERT_TRUE(fs::exists(playlist)) << transcoder.report();
    const ProbeResult result = probe(folder_, playlist.string(), {}, name);
    ASSERT_EQ(result.error, "") << transcoder.report();
    EXPECT_EQ(result.kinds(), kH264Aac) << transcoder.report();
    EXPECT_EQ(result.packets("video"), kClipFrames) << transcoder.report();
  }
}

// ---------------------------------------------------------------------------------------------
// Senders: a real peer receives the stream while the clip loops; the transcoder is stopped as the
// engine stops it.

enum class ReceiverEnd {
  by_itself,    // after the seconds it was asked for
  with_sender,  // when the transcoder's stream ends
  on_sigquit,   // a server, asked to finish once the transcoder has ended
};

struct PeerPlan {
  EngineTarget target;
  std::vector<std::string> receiver;
  Transport transport = Transport::udp;
  std::uint16_t port = 0;        // the port whoever listens binds
  bool receiver_listens = true;  // else the transcoder listens and the receiver calls
  ReceiverEnd end = ReceiverEnd::by_itself;
  fs::path capture;                // what the receiver wrote; empty: the receiver is ffprobe itself
  bool capture_on_stdout = false;  // the receiver writes the stream to its standard output
};

PeerPlan udp_plan(const fs::path& folder) {
  PeerPlan plan;
  plan.port = free_udp_ports(1);
  plan.target = template_target(FormatId::udp, local_url("udp", plan.port));
  plan.capture = folder / "capture.ts";
  plan.receiver = ffmpeg_argv({"-i", local_url("udp", plan.port, "?timeout=10000000"), "-c", "copy",
                               "-t", "2", plan.capture.string()});
  return plan;
}

PeerPlan rtp_plan(const fs::path& folder) {
  PeerPlan plan;
  plan.port = free_udp_ports(2);
  plan.target = template_target(FormatId::rtpts, local_url("rtp", plan.port));
  plan.capture = folder / "capture.ts";
  plan.receiver = ffmpeg_argv(
      {"-i", local_url("rtp", plan.port), "-c", "copy", "-t", "2", plan.capture.string()});
  return plan;
}

// srt-live-transmit writes what it receives to its standard output ("file://con").
PeerPlan srt_caller_plan(const fs::path& folder) {
  PeerPlan plan;
  plan.port = free_udp_ports(1);
  plan.target = template_target(FormatId::srt, local_url("srt", plan.port));
  plan.capture = folder / "capture.ts";
  plan.receiver = {"srt-live-transmit", "-q", "-a:no",
                   local_url("srt", plan.port, "?mode=listener"), "file://con"};
  plan.capture_on_stdout = true;
  plan.end = ReceiverEnd::with_sender;
  return plan;
}

PeerPlan srt_listener_plan(const fs::path& folder) {
  PeerPlan plan = srt_caller_plan(folder);
  plan.target.url = local_url("srt", plan.port, "?mode=listener");
  plan.receiver = {"srt-live-transmit", "-q", "-a:no", local_url("srt", plan.port), "file://con"};
  plan.receiver_listens = false;
  return plan;
}

// ffprobe itself is the RTSP server that takes the publication; it counts until the teardown.
PeerPlan rtsp_plan(const fs::path&) {
  PeerPlan plan;
  plan.port = free_tcp_port();
  plan.transport = Transport::tcp;
  const std::string url = local_url("rtsp", plan.port, "/live");
  plan.target = template_target(FormatId::rtsp, url);
  plan.receiver = probe_argv({"-rtsp_flags", "listen", "-listen_timeout", "30"}, url);
  plan.end = ReceiverEnd::with_sender;
  return plan;
}

// nginx with the RTMP module, run in the foreground as this test's own process, recording what
// is published.
PeerPlan rtmp_plan(const fs::path& folder) {
  PeerPlan plan;
  plan.port = free_tcp_port();
  plan.transport = Transport::tcp;
  plan.target = template_target(FormatId::rtmp, local_url("rtmp", plan.port, "/live/stream"));
  const fs::path conf = folder / "nginx.conf";
  std::ofstream(conf) << "daemon off;\nmaster_process off;\n"
                      << "pid " << (folder / "nginx.pid").string() << ";\n"
                      << "error_log " << (folder / "nginx-error.log").string() << ";\n"
                      << "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
                      << "events {}\n"
                      << "rtmp { server { listen 127.0.0.1:" << plan.port
                      << "; application live { live on; record all; record_path " << folder.string()
                      << "; record_unique off; } } }\n";
  plan.receiver = {
      "nginx", "-e",         (folder / "nginx-error.log").string(), "-p", folder.string(),
      "-c",    conf.string()};
  plan.capture = folder / "stream.flv";
  plan.end = ReceiverEnd::on_sigquit;
  return plan;
}

struct SenderCase {
  const char* name;
  PeerPlan (*plan)(const fs::path& folder);
};

void PrintTo(const SenderCase& c, std::ostream* out) {
  *out << c.name;
}

class Senders : public OutputFormats, public ::testing::WithParamInterface<SenderCase> {};

TEST_P(Senders, PeerReceivesVideoAndAudio) {
  const PeerPlan plan = GetParam().plan(folder_);
  ASSERT_NE(plan.port, 0);
  const fs::path receiver_out = plan.capture_on_stdout ? plan.capture : folder_ / "receiver.out";
  std::optional<Peer> receiver;
  const auto start_receiver = [&] {
    receiver.emplace(plan.receiver, receiver_out, folder_ / "receiver.err");
  };
  if (plan.receiver_listens) {
    start_receiver();
    ASSERT_TRUE(
        wait_until([&] { return port_taken(plan.transport, plan.port) || !receiver->running(); },
                   10s) &&
        receiver->running())
        << receiver->report();
  }
  Transcoder transcoder(compose(looping_source(), plan.target));
  ASSERT_TRUE(transcoder.started());
  if (!plan.receiver_listens) {
    ASSERT_TRUE(
        wait_until([&] { return port_taken(plan.transport, plan.port) || !transcoder.running(); },
                   10s) &&
        transcoder.running())
        << transcoder.report();
    start_receiver();
  }

  if (plan.end == ReceiverEnd::by_itself) {
    ASSERT_EQ(receiver->wait(kRunLimit), 0) << receiver->report() << transcoder.report();
  } else {
    // Three seconds of stream have gone out.
    ASSERT_TRUE(transcoder.wait_for_output(" time=00:00:03")) << transcoder.report();
  }
  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();
  if (plan.end == ReceiverEnd::on_sigquit) receiver->signal(SIGQUIT);
  if (plan.end != ReceiverEnd::by_itself) {
    EXPECT_EQ(receiver->wait(kRunLimit), 0) << receiver->report() << transcoder.report();
  }

  const ProbeResult result = plan.capture.empty() ? ProbeResult{parse_probe(receiver->out()), ""}
                                                  : probe(folder_, plan.capture.string());
  ASSERT_EQ(result.error, "") << transcoder.report();
  EXPECT_EQ(result.kinds(), kH264Aac) << receiver->report() << transcoder.report();
  // At least a second of pictures arrived.
  EXPECT_GE(result.packets("video"), 25) << receiver->report() << transcoder.report();
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Senders,
    ::testing::Values(SenderCase{"udp_mpegts", udp_plan}, SenderCase{"rtp_mpegts", rtp_plan},
                      SenderCase{"srt_caller", srt_caller_plan},
                      SenderCase{"srt_listener", srt_listener_plan}, SenderCase{"rtsp", rtsp_plan},
                      SenderCase{"rtmp", rtmp_plan}),
    [](const ::testing::TestParamInfo<SenderCase>& param) { return param.param.name; });

// Arrival times of the datagrams sent to a UDP port of 127.0.0.1, on a thread of its own.
class UdpArrivals {
 public:
  explicit UdpArrivals(std::uint16_t port) : socket_(bound_socket(Transport::udp, port)) {
    timeval limit{0, 100000};
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    thread_ = std::thread([this] { receive(); });
  }
  ~UdpArrivals() {
    stop_ = true;
    thread_.join();
  }
  bool receiving() const { return received_ > 0; }
  // Whether a datagram arrived after `moment`.
  bool received_since(Clock::time_point moment) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return !arrivals_.empty() && arrivals_.back() >= moment;
  }
  // Everything received since `moment`, in order.
  std::string bytes_since(Clock::time_point moment) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string bytes;
    for (std::size_t k = 0; k < arrivals_.size(); ++k) {
      if (arrivals_[k] >= moment) bytes += datagrams_[k];
    }
    return bytes;
  }
  // The longest silence since `from` on.
  Clock::duration longest_gap_since(Clock::time_point from) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Clock::duration longest{};
    Clock::time_point previous = from;
    for (const Clock::time_point at : arrivals_) {
      if (at < from) continue;
      longest = std::max(longest, at - previous);
      previous = at;
    }
    return std::max(longest, Clock::now() - previous);
  }

 private:
  void receive() {
    char datagram[2048];
    while (!stop_) {
      const ssize_t size = ::recv(socket_.get(), datagram, sizeof datagram, 0);
      if (size <= 0) continue;
      const std::lock_guard<std::mutex> lock(mutex_);
      arrivals_.push_back(Clock::now());
      datagrams_.emplace_back(datagram, static_cast<std::size_t>(size));
      ++received_;
    }
  }

  UniqueFd socket_;
  std::atomic<bool> stop_{false};
  std::atomic<int> received_{0};
  std::mutex mutex_;
  std::vector<Clock::time_point> arrivals_;
  std::vector<std::string> datagrams_;
  std::thread thread_;
};

// The network peers taken away and brought back: nginx taking an RTMP publication and recording
// it, and srt-live-transmit listening for SRT and writing what it gets.
struct LosablePeer {
  const char* name;
  FormatId format;
};

void PrintTo(const LosablePeer& c, std::ostream* out) {
  *out << c.name;
}

class LostTargets : public OutputFormats, public ::testing::WithParamInterface<LosablePeer> {};

// One target down never takes the others with it: with a UDP target and a network target, the
// network peer goes away for ten seconds. The UDP receiver sees no silence and the encoder keeps
// running; the peer gets a stream again soon after it is back, decodable from its first frame,
// and the channel log tells the loss and the return once each.
TEST_P(LostTargets, APeerThatGoesAwayTakesNoOtherTargetWithIt) {
  const bool rtmp = GetParam().format == FormatId::rtmp;
  PeerPlan plan = rtmp ? rtmp_plan(folder_) : srt_caller_plan(folder_);
  // srt-live-transmit passes what it gets on to a UDP port of ours, which notes when it arrives.
  std::optional<UdpArrivals> forwarded;
  if (!rtmp) {
    const std::uint16_t forward_port = free_udp_ports(1);
    forwarded.emplace(forward_port);
    plan.receiver = {"srt-live-transmit", "-q", "-a:no",
                     local_url("srt", plan.port, "?mode=listener"), local_url("udp", forward_port)};
  }
  std::optional<Peer> peer;
  const auto start_peer = [&] {
    peer.emplace(plan.receiver, folder_ / "peer.out", folder_ / "peer.err");
    return wait_until([&] { return port_taken(plan.transport, plan.port); }, 10s);
  };
  const auto peer_received_since = [&](Clock::time_point moment) {
    if (!rtmp) return forwarded->received_since(moment);
    return fs::exists(plan.capture) && fs::file_size(plan.capture) > 0;
  };
  ASSERT_TRUE(start_peer()) << peer->report();
  const std::uint16_t udp_port = free_udp_ports(1);
  UdpArrivals udp(udp_port);
  StartRequest request;
  request.sources = {looping_source()};
  request.groups = {{template_target(FormatId::udp, local_url("udp", udp_port))}, {plan.target}};
  Transcoder transcoder(compose(request));
  ASSERT_TRUE(transcoder.wait_for_output(" time=00:00:02")) << transcoder.report();
  ASSERT_TRUE(udp.receiving());
  // The encoder writes the network target into a pipe; its relay reads that pipe.
  const auto encoder = [&] {
    for (const ProcessEntry& process : running_processes()) {
      if (process.parent == transcoder.pid() &&
          process.command.find(" pipe:") != std::string::npos &&
          process.command.find("-i pipe:0") == std::string::npos) {
        return process.pid;
      }
    }
    return pid_t{0};
  };
  const pid_t encoder_before = encoder();
  ASSERT_NE(encoder_before, 0) << transcoder.report();

  peer->signal(rtmp ? SIGQUIT : SIGINT);
  peer->wait(kRunLimit);
  const Clock::time_point gone = Clock::now();
  std::this_thread::sleep_for(10s);
  if (rtmp) fs::remove(plan.capture);
  ASSERT_TRUE(start_peer()) << peer->report();
  const Clock::time_point returned = Clock::now();
  EXPECT_TRUE(wait_until([&] { return peer_received_since(returned); }, 3s))
      << "the peer gets a stream again within three seconds\n"
      << transcoder.report();
  std::printf(
      "[ measured ] %s: first data %lld ms after the peer was back\n", GetParam().name,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - returned).count()));

  EXPECT_LT(udp.longest_gap_since(gone), 1s) << "the UDP target stayed on air";
  EXPECT_EQ(encoder(), encoder_before) << "the encoder kept running";
  EXPECT_TRUE(transcoder.wait_for_output("morvi-transcoder: target 2 back", 10s))
      << transcoder.report();
  std::this_thread::sleep_for(2s);

  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();
  peer->signal(rtmp ? SIGQUIT : SIGINT);
  peer->wait(kRunLimit);
  const fs::path capture = rtmp ? plan.capture : folder_ / "capture.ts";
  if (!rtmp) std::ofstream(capture, std::ios::binary) << forwarded->bytes_since(returned);
  Peer decoder(ffmpeg_argv({"-v", "error", "-i", capture.string(), "-f", "null", "-"}),
               folder_ / "decode.out", folder_ / "decode.err");
  EXPECT_EQ(decoder.wait(kRunLimit), 0) << decoder.report();
  EXPECT_EQ(decoder.err(), "") << "decoded from its first frame";
  const std::string log = transcoder.output();
  const auto count = [&](const std::string& text) {
    std::size_t found = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
      ++found;
    return found;
  };
  EXPECT_EQ(count("morvi-transcoder: target 2 lost (" + plan.target.url + ")"), 1u) << log;
  EXPECT_EQ(count("morvi-transcoder: target 2 back (" + plan.target.url + ")"), 1u) << log;
  EXPECT_EQ(count("target 1 "), 0u) << "UDP is never relayed";
}

INSTANTIATE_TEST_SUITE_P(Relays, LostTargets,
                         ::testing::Values(LosablePeer{"rtmp", FormatId::rtmp},
                                           LosablePeer{"srt", FormatId::srt}),
                         [](const ::testing::TestParamInfo<LosablePeer>& param) {
                           return param.param.name;
                         });

// Beside another target an RTSP target goes through a relay fed MPEG-TS, whose AAC carries no
// configuration for the RTSP session's description: the sound still reaches a real RTSP server
// (ffprobe listening), and nothing is lost on the way.
TEST_F(OutputFormats, RtspBesideUdpReachesItsServer) {
  const PeerPlan plan = rtsp_plan(folder_);
  ASSERT_NE(plan.port, 0);
  Peer receiver(plan.receiver, folder_ / "receiver.out", folder_ / "receiver.err");
  ASSERT_TRUE(wait_until([&] { return port_taken(plan.transport, plan.port); }, 10s))
      << receiver.report();
  StartRequest request;
  request.sources = {looping_source()};
  request.groups = {{template_target(FormatId::udp, local_url("udp", free_udp_ports(1)))},
                    {plan.target}};
  Transcoder transcoder(compose(request));
  ASSERT_TRUE(transcoder.wait_for_output(" time=00:00:03")) << transcoder.report();
  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();

  const ProbeResult result = probe_finished(receiver);
  ASSERT_EQ(result.error, "") << transcoder.report();
  EXPECT_EQ(result.kinds(), kH264Aac) << transcoder.report();
  EXPECT_GE(result.packets("video"), 25) << transcoder.report();
  EXPECT_EQ(transcoder.output().find("target 2 lost"), std::string::npos) << transcoder.report();
}

// A relay's loss names the complaint that explains it, not ffmpeg's closing words after it
// ("Error initializing output stream 0:1 --").
TEST_F(OutputFormats, RelayLossNamesTheReason) {
  const std::uint16_t port = free_tcp_port();  // nobody listens there
  ASSERT_NE(port, 0);
  StartRequest request;
  request.sources = {looping_source()};
  request.groups = {{template_target(FormatId::udp, local_url("udp", free_udp_ports(1)))},
                    {template_target(FormatId::rtsp, local_url("rtsp", port, "/live"))}};
  Transcoder transcoder(compose(request));
  ASSERT_TRUE(transcoder.wait_for_output("morvi-transcoder: target 2 lost")) << transcoder.report();
  const std::string log = transcoder.output();
  const std::size_t at = log.find("morvi-transcoder: target 2 lost");
  const std::string lost = log.substr(at, log.find('\n', at) - at);
  EXPECT_NE(lost.find("): [tcp] Connection to tcp://127.0.0.1:" + std::to_string(port)),
            std::string::npos)
      << lost;
  EXPECT_NE(lost.find("failed: Connection refused"), std::string::npos) << lost;
  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();
}

// Native RTP: one RTP stream per medium and the session description the receiver reads.
TEST_F(OutputFormats, NativeRtpIsReadBackThroughItsSessionFile) {
  const std::uint16_t port = free_udp_ports(4);
  ASSERT_NE(port, 0);
  EngineTarget target = template_target(FormatId::rtp_native, local_url("rtp", port));
  target.video.rtp.remote_address = inet_addr("127.0.0.1");
  target.video.rtp.remote_port = port;
  target.audio.rtp.remote_address = inet_addr("127.0.0.1");
  target.audio.rtp.remote_port = static_cast<std::uint16_t>(port + 2);
  const std::string line = compose(looping_source(), target);
  Transcoder transcoder(line);
  ASSERT_TRUE(transcoder.started());

  const fs::path description = folder_ / "morv_001_out.sdp";
  ASSERT_TRUE(
      wait_until([&] { return fs::exists(description) && fs::file_size(description) > 0; }, 20s))
      << transcoder.report();
  const std::string text = read_text(description);
  EXPECT_NE(text.find("m=video " + std::to_string(port) + " "), std::string::npos) << text;
  EXPECT_NE(text.find("m=audio " + std::to_string(port + 2) + " "), std::string::npos) << text;

  // The sender repeats its parameter sets with every key frame, so joining late is fine.
  const ProbeResult result =
      probe(folder_, description.string(),
            {"-protocol_whitelist", "file,udp,rtp", "-read_intervals", "%+2"});
  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();
  ASSERT_EQ(result.error, "") << text << transcoder.report();
  EXPECT_EQ(result.kinds(), kH264Aac) << text << transcoder.report();
  // Two seconds read from a running stream, the first key frame within one of them.
  EXPECT_GE(result.packets("video"), 15) << text << transcoder.report();
}

// ---------------------------------------------------------------------------------------------
// Outputs the transcoder serves itself.

fs::path make_certificate(const fs::path& folder, std::string& failure) {
  Peer openssl({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                "/CN=127.0.0.1", "-days", "1", "-keyout", (folder / "key.pem").string(), "-out",
                (folder / "cert.pem").string()},
               folder / "openssl.out", folder / "openssl.err");
  if (openssl.wait(kRunLimit) != 0) failure = openssl.report();
  return folder / "cert.pem";
}

struct ServedCase {
  const char* name;
  FormatId format;
  const char* scheme;
  int viewers;
};

void PrintTo(const ServedCase& c, std::ostream* out) {
  *out << c.name;
}

class ServedOutputs : public OutputFormats, public ::testing::WithParamInterface<ServedCase> {};

// Viewers join a running stream, each from the live edge, all at once.
TEST_P(ServedOutputs, EveryViewerGetsAPlayableStream) {
  const ServedCase& c = GetParam();
  const std::uint16_t port = free_tcp_port();
  ASSERT_NE(port, 0);
  const bool secure = std::string(c.scheme) == "https";
  EngineTarget target = template_target(c.format, local_url(c.scheme, port));
  if (secure) {
    std::string failure;
    make_certificate(folder_, failure);
    ASSERT_EQ(failure, "");
    // As the channel compiler passes the web server's certificate and key.
    target.format_options = "-user_agent \"" + (folder_ / "cert.pem").string() + "\" -referer \"" +
                            (folder_ / "key.pem").string() + "\"";
  }
  Transcoder transcoder(compose(looping_source(), target));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(transcoder.wait_for_output(" time=00:00:01")) << transcoder.report();
  ASSERT_TRUE(port_taken(Transport::tcp, port)) << transcoder.report();

  // The html5 target is served under "/<channel>.mp4"; every path gets the stream.
  const std::string url =
      local_url(c.scheme, port, c.format == FormatId::html5 ? "/1.mp4" : "/live.ts");
  std::vector<std::string> options = {"-read_intervals", "%+2"};
  if (secure) options.insert(options.end(), {"-tls_verify", "0"});
  std::vector<std::unique_ptr<Peer>> viewers;
  for (int k = 0; k < c.viewers; ++k) {
    const std::string name = "viewer" + std::to_string(k);
    viewers.push_back(std::make_unique<Peer>(probe_argv(options, url), folder_ / (name + ".out"),
                                             folder_ / (name + ".err")));
  }
  for (int k = 0; k < c.viewers; ++k) {
    SCOPED_TRACE("viewer " + std::to_string(k));
    const ProbeResult result = probe_finished(*viewers[k]);
    ASSERT_EQ(result.error, "") << transcoder.report();
    EXPECT_EQ(result.kinds(), kH264Aac) << transcoder.report();
    EXPECT_GE(result.packets("video"), 25) << transcoder.report();
  }
  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();
}

INSTANTIATE_TEST_SUITE_P(Formats, ServedOutputs,
                         ::testing::Values(ServedCase{"mpegts_http", FormatId::http, "http", 3},
                                           ServedCase{"html5_http", FormatId::html5, "http", 2},
                                           ServedCase{"mpegts_https", FormatId::http, "https", 1},
                                           ServedCase{"html5_https", FormatId::html5, "https", 1}),
                         [](const ::testing::TestParamInfo<ServedCase>& param) {
                           return param.param.name;
                         });

// curl, fetching for a few seconds: the response head and the body it got.
struct Fetched {
  std::string head;
  std::string body;
  std::string failure;
};

Fetched fetch(const fs::path& folder, const std::vector<std::string>& options,
              const std::string& url) {
  std::vector<std::string> argv = {"curl",
                                   "-s",
                                   "-S",
                                   "--max-time",
                                   "3",
                                   "-D",
                                   (folder / "head.txt").string(),
                                   "-o",
                                   (folder / "body.bin").string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(url);
  Peer curl(argv, folder / "curl.out", folder / "curl.err");
  const std::optional<int> status = curl.wait(kRunLimit);
  Fetched fetched{read_text(folder / "head.txt"), read_text(folder / "body.bin"), ""};
  // 28: the time given ran out, as it must on an endless stream.
  if (status != 28)
    fetched.failure =
        "curl ended with " + std::to_string(status.value_or(-1)) + "\n" + curl.report();
  return fetched;
}

std::string header_value(const std::string& head, const std::string& name) {
  std::istringstream lines(head);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > name.size() + 1 && line[name.size()] == ':' &&
        std::equal(name.begin(), name.end(), line.begin(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      std::string value = line.substr(name.size() + 1);
      value.erase(0, value.find_first_not_of(' '));
      while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
        value.pop_back();
      return value;
    }
  }
  return "";
}

// Key frames 10 s apart, viewers joining 1 s and 5 s in, both inside the first interval: each gets
// the stream at once, from the init segment and the fragment that opens with the key frame, so
// what it got decodes from its first picture. Half-second fragments make it so; with one fragment
// per interval neither viewer gets a byte before 10 s.
TEST_F(OutputFormats, ServedHtml5ViewersJoiningBetweenDistantKeyFramesGetPicturesAtOnce) {
  const std::uint16_t port = free_tcp_port();
  ASSERT_NE(port, 0);
  EngineTarget target = template_target(FormatId::html5, local_url("http", port));
  target.video.key_frame_interval = 10;
  Transcoder transcoder(compose(looping_source(), target));
  ASSERT_TRUE(transcoder.started());
  const std::string url = local_url("http", port, "/1.mp4");
  struct Join {
    const char* at;  // the stream time ffmpeg reports when the viewer joins
    int least_pictures;
  };
  // In 3 s a viewer decodes those 3 s, and the one joining at 5 s also the 5 s it starts back;
  // the bounds leave room for a slow machine.
  for (const Join join : {Join{" time=00:00:01", 25}, Join{" time=00:00:05", 100}}) {
    SCOPED_TRACE(join.at);
    ASSERT_TRUE(transcoder.wait_for_output(join.at)) << transcoder.report();
    const Fetched fetched = fetch(folder_, {}, url);
    ASSERT_EQ(fetched.failure, "") << transcoder.report();
    ASSERT_GT(fetched.body.size(), 8U) << "no bytes in 3 s";
    EXPECT_EQ(fetched.body.substr(4, 4), "ftyp");
    const fs::path got = folder_ / "joined.mp4";
    std::ofstream(got, std::ios::binary) << fetched.body;
    Peer frames({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                 "frame=key_frame", "-of", "default=nw=1:nk=1", got.string()},
                folder_ / "frames.out", folder_ / "frames.err");
    ASSERT_EQ(frames.wait(kRunLimit), 0) << frames.report();
    const std::string keys = frames.out();
    EXPECT_TRUE(keys.starts_with("1\n"))
        << "the first picture is no key frame: " << keys.substr(0, 40);
    EXPECT_GE(std::count(keys.begin(), keys.end(), '\n'), join.least_pictures);
    EXPECT_EQ(frames.err(), "");
  }
  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();
}

TEST_F(OutputFormats, ServedMjpegIsAMultipartRunOfWholeJpegPictures) {
  const std::uint16_t port = free_tcp_port();
  ASSERT_NE(port, 0);
  EngineTarget target = template_target(FormatId::httpmjpg, local_url("http", port));
  target.video.codec = codec_id_from_name("mjpeg");
  target.audio.enable = false;
  Transcoder transcoder(compose(looping_source(), target));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(transcoder.wait_for_output(" time=00:00:01")) << transcoder.report();

  const Fetched fetched = fetch(folder_, {}, local_url("http", port, "/1.mjpg"));
  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();
  ASSERT_EQ(fetched.failure, "") << transcoder.report();

  const std::string type = header_value(fetched.head, "Content-Type");
  const std::string marker = "boundary=";
  ASSERT_TRUE(type.starts_with("multipart/x-mixed-replace;")) << fetched.head;
  ASSERT_NE(type.find(marker), std::string::npos) << fetched.head;
  const std::string delimiter = "--" + type.substr(type.find(marker) + marker.size());

  // Each part: the delimiter, its head, an empty line, exactly Content-Length bytes of one JPEG
  // picture and CRLF. The viewer starts with a whole part; curl's time limit may cut the last.
  const std::string& body = fetched.body;
  ASSERT_TRUE(body.starts_with(delimiter + "\r\n")) << last_part(body.substr(0, 200));
  int pictures = 0;
  std::string first_picture;
  for (std::size_t at = 0;;) {
    const std::size_t head_end = body.find("\r\n\r\n", at);
    if (head_end == std::string::npos) break;
    const std::string part_head = body.substr(at, head_end + 2 - at);
    const std::size_t size = std::stoul("0" + header_value(part_head, "Content-Length"));
    const std::size_t next = head_end + 4 + size;
    if (next > body.size()) break;
    const std::string picture = body.substr(head_end + 4, size);
    EXPECT_EQ(header_value(part_head, "Content-Type"), "image/jpeg") << part_head;
    ASSERT_GE(picture.size(), 4u) << part_head;
    EXPECT_TRUE(picture.starts_with("\xFF\xD8") && picture.ends_with("\xFF\xD9"))
        << "part " << pictures << " is no whole JPEG picture";
    if (pictures++ == 0) first_picture = picture;
    at = body.find(delimiter, next);
    if (at == std::string::npos) {
      // Cut within the separator.
      EXPECT_TRUE(("\r\n" + delimiter).starts_with(body.substr(next)))
          << "stray bytes after part " << pictures;
      break;
    }
    ASSERT_EQ(at, next + 2) << "stray bytes after part " << pictures;
  }
  // About three seconds at 25 pictures a second.
  EXPECT_GE(pictures, 25) << fetched.head;
  std::ofstream(folder_ / "picture.jpg", std::ios::binary) << first_picture;
  const ProbeResult result = probe(folder_, (folder_ / "picture.jpg").string());
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.kinds(), std::vector<std::string>{"video mjpeg"});
}

// curl takes the self-made certificate only when told not to verify it; the bytes are MPEG-TS.
TEST_F(OutputFormats, ServedHttpsStreamReachesCurl) {
  std::string failure;
  make_certificate(folder_, failure);
  ASSERT_EQ(failure, "");
  const std::uint16_t port = free_tcp_port();
  ASSERT_NE(port, 0);
  EngineTarget target = template_target(FormatId::http, local_url("https", port));
  target.format_options = "-user_agent \"" + (folder_ / "cert.pem").string() + "\" -referer \"" +
                          (folder_ / "key.pem").string() + "\"";
  Transcoder transcoder(compose(looping_source(), target));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(transcoder.wait_for_output(" time=00:00:01")) << transcoder.report();

  const Fetched fetched = fetch(folder_, {"-k"}, local_url("https", port, "/"));
  ASSERT_EQ(fetched.failure, "") << transcoder.report();
  EXPECT_EQ(header_value(fetched.head, "Content-Type"), "video/mp2t") << fetched.head;
  // Whole 188-byte packets from the first byte on.
  ASSERT_GE(fetched.body.size(), 188u * 100);
  for (std::size_t at = 0; at < 188 * 100; at += 188) {
    ASSERT_EQ(fetched.body[at], '\x47') << "no sync byte at " << at;
  }
  std::ofstream(folder_ / "fetched.ts", std::ios::binary) << fetched.body;
  const ProbeResult result = probe(folder_, (folder_ / "fetched.ts").string());
  EXPECT_EQ(result.kinds(), kH264Aac);

  transcoder.interrupt();
  EXPECT_EQ(transcoder.wait_for_end(), kOrderlyStopStatus) << transcoder.report();
}

// ---------------------------------------------------------------------------------------------
// Starts that end at once with one line.

TEST_F(OutputFormats, TakenPortEndsTheStartWithOneLineNamingIt) {
  UniqueFd taken = bound_socket(Transport::tcp, 0);
  ASSERT_TRUE(taken);
  ASSERT_EQ(::listen(taken.get(), 1), 0);
  const std::uint16_t port = port_of(taken);
  for (const FormatId format : {FormatId::http, FormatId::html5}) {
    Transcoder transcoder(compose(clip_source(), template_target(format, local_url("http", port))));
    ASSERT_TRUE(transcoder.started());
    EXPECT_EQ(transcoder.wait_for_end(10s), 1) << transcoder.report();
    const std::string output = transcoder.output();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << transcoder.report();
    EXPECT_NE(output.find(std::to_string(port)), std::string::npos) << transcoder.report();
    EXPECT_EQ(output.find(" time="), std::string::npos) << transcoder.report();
  }
}

struct RefusedCase {
  const char* name;
  FormatId format;
  const char* audio_codec;
  const char* video_codec;
  const char* missing;  // what the one line must name
};

void PrintTo(const RefusedCase& c, std::ostream* out) {
  *out << c.name;
}

class RefusedOutputs : public OutputFormats, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedOutputs, EndTheStartWithOneLineNamingWhatIsMissing) {
  const RefusedCase& c = GetParam();
  // A file target for the encoders, so that a start that went ahead would leave a file behind.
  const fs::path file = folder_ / "never.ts";
  EngineTarget target = template_target(c.format, c.format == FormatId::file ? file.string() : "x");
  target.audio.codec = codec_id_from_name(c.audio_codec);
  target.video.codec = codec_id_from_name(c.video_codec);
  Transcoder transcoder(compose(clip_source(), target));
  ASSERT_TRUE(transcoder.started());
  EXPECT_EQ(transcoder.wait_for_end(10s), 1) << transcoder.report();
  const std::string output = transcoder.output();
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << transcoder.report();
  EXPECT_NE(output.find(c.missing), std::string::npos) << transcoder.report();
  EXPECT_FALSE(fs::exists(file)) << transcoder.report();
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RefusedOutputs,
    ::testing::Values(RefusedCase{"mainconcept_h264", FormatId::file, "aac", "omx264",
                                  "omx_enc_avc"},
                      RefusedCase{"ndi", FormatId::ndi, "aac", "h264", "libndi_newtek"},
                      RefusedCase{"decklink", FormatId::decklink, "aac", "h264", "decklink"},
                      RefusedCase{"fdk_he_aac", FormatId::file, "heaac", "h264", "libfdk_aac"}),
    [](const ::testing::TestParamInfo<RefusedCase>& param) { return param.param.name; });

}  // namespace
}  // namespace vx
