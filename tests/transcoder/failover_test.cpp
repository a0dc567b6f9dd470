// morvi-transcoder keeping an output alive on its alternate input, with real ffmpeg on
// 127.0.0.1: a UDP sender the test stops and resumes, the recorded output read back packet by
// packet, the switching texts, and the encoder that must never be restarted.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "tests/transcoder/failover_support.h"

namespace vx {
namespace {

using namespace testing_support;

constexpr double kRate = kFailoverRate;

std::string failover_line(std::uint16_t port, const std::string& alternate, const fs::path& file,
                          FormatId format = FormatId::file, bool sized = true) {
  return line_of(failover_request(port, alternate, file, format, sized));
}

void expect_continuous(const std::vector<double>& times, double seconds) {
  ASSERT_GT(times.size(), 10U);
  double widest = 0;
  for (std::size_t k = 1; k < times.size(); ++k)
    widest = std::max(widest, times[k] - times[k - 1]);
  EXPECT_LE(widest, 2.0 / kRate) << "a hole in the output's timestamps";
  const double span = times.back() - times.front() + 1.0 / kRate;
  EXPECT_NEAR(static_cast<double>(times.size()), span * kRate, span * kRate * 0.01)
      << "frames against duration";
  EXPECT_GT(span, seconds) << "the output ran the whole time";
}

class Failover : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = fresh_test_folder("vx-failover"); }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(Failover, OutputRunsThroughAnInputDropAndComesBackToThePrimary) {
  const std::uint16_t port = free_udp_ports(1);
  const fs::path recording = folder_ / "out.ts";
  std::unique_ptr<Peer> sender = start_live_udp_sender(folder_, port, "sender1");
  Transcoder transcoder(failover_line(port, "default", recording));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(wait_until([&] { return encoders_of(transcoder.pid()).size() == 1; }, 20s))
      << transcoder.report();
  const pid_t encoder = *encoders_of(transcoder.pid()).begin();

  std::this_thread::sleep_for(5s);
  sender.reset();  // the feed drops
  ASSERT_TRUE(transcoder.wait_for_output(std::string(kPrimaryInputTimedOut), 10s))
      << transcoder.report();
  std::this_thread::sleep_for(5s);
  sender = start_live_udp_sender(folder_, port, "sender2");
  ASSERT_TRUE(transcoder.wait_for_output(std::string(kPrimaryInputBack), 20s))
      << transcoder.report();
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(encoders_of(transcoder.pid()), std::set<pid_t>{encoder}) << "never restarted";
  transcoder.interrupt();
  transcoder.wait_for_end(20s);

  const std::string said = transcoder.output();
  const std::size_t away = said.find(kPrimaryInputTimedOut);
  const std::size_t back = said.find(kPrimaryInputBack);
  EXPECT_LT(away, back);
  EXPECT_EQ(said.find(kPrimaryInputTimedOut, away + 1), std::string::npos) << "said once";
  EXPECT_EQ(said.find(kPrimaryInputBack, back + 1), std::string::npos) << "said once";
  expect_continuous(video_times(folder_, recording), 15.0);
}

TEST_F(Failover, ADeadPrimaryStartsOnAMediaFileAndSwitchesWhenItArrives) {
  const fs::path slate = folder_ / "slate.mp4";
  Peer maker(ffmpeg_argv({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=2", "-f",
                          "lavfi", "-i", "sine=frequency=880:duration=2", "-c:v", "libx264",
                          "-preset", "ultrafast", "-c:a", "aac", slate.string()}),
             folder_ / "slate.out", folder_ / "slate.err");
  ASSERT_EQ(maker.wait(kRunLimit), 0) << maker.report();

  const std::uint16_t port = free_udp_ports(1);
  const fs::path recording = folder_ / "out.ts";
  Transcoder transcoder(failover_line(port, slate.string(), recording));
  ASSERT_TRUE(transcoder.started());
  std::this_thread::sleep_for(6s);  // nothing arrives: the slate loops
  std::unique_ptr<Peer> sender = start_live_udp_sender(folder_, port, "sender");
  ASSERT_TRUE(transcoder.wait_for_output(std::string(kPrimaryInputBack), 20s))
      << transcoder.report();
  std::this_thread::sleep_for(2s);
  transcoder.interrupt();
  transcoder.wait_for_end(20s);
  expect_continuous(video_times(folder_, recording), 7.0);
}

// A source that never answers, and an output without a size of its own: the output starts on the
// alternate at once, and the switch is reported at the timeout, not after a wait for the source.
TEST_F(Failover, ADeadPrimaryGoesToTheAlternateAtTheTimeoutWithOutputFromTheStart) {
  const std::uint16_t port = free_udp_ports(1);
  const fs::path recording = folder_ / "out.ts";
  const auto started = Clock::now();
  Transcoder transcoder(failover_line(port, "default", recording, FormatId::file, false));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(transcoder.wait_for_output(std::string(kPrimaryInputTimedOut), 20s))
      << transcoder.report();
  const double switched = std::chrono::duration<double>(Clock::now() - started).count();
  transcoder.interrupt();
  ASSERT_TRUE(transcoder.wait_for_end(20s)) << transcoder.report();

  // The switching timeout is 3 s; a source waited for first took 8 s.
  EXPECT_LT(switched, 5.0) << transcoder.report();
  const std::vector<double> times = video_times(folder_, recording);
  EXPECT_GE(static_cast<double>(times.size()), 2.5 * kRate) << "output from the start";
}

TEST_F(Failover, ARelayedTargetRunsBehindTheSwitchToo) {
  const std::uint16_t port = free_udp_ports(1);
  std::unique_ptr<Peer> sender = start_live_udp_sender(folder_, port, "sender");
  const std::uint16_t srt = free_udp_ports(1);
  const fs::path received = folder_ / "srt.ts";
  Peer peer({"srt-live-transmit", "-q", "-a:no",
             "srt://127.0.0.1:" + std::to_string(srt) + "?mode=listener", "file://con"},
            received, folder_ / "srt.err");
  ASSERT_TRUE(wait_until([&] { return port_taken(Transport::udp, srt); }, 10s)) << peer.report();
  // The engine keeps a line with an alternate input to one output; the transcoder takes more.
  Transcoder transcoder(
      failover_line(port, "default", folder_ / "out.ts") +
      " -c:v libx264 -preset:v ultrafast -g:v 25 -c:a aac -f mpegts srt://127.0.0.1:" +
      std::to_string(srt));
  ASSERT_TRUE(transcoder.wait_for_output("morvi-transcoder: target 2 relayed", 20s))
      << transcoder.report();
  EXPECT_TRUE(
      wait_until([&] { return fs::exists(received) && fs::file_size(received) > 188 * 100; }, 20s))
      << transcoder.report();
  EXPECT_EQ(encoders_of(transcoder.pid()).size(), 1U) << "the encoder behind the input switch";
  transcoder.interrupt();
  ASSERT_TRUE(transcoder.wait_for_end(20s)) << transcoder.report();
  peer.signal(SIGINT);
  peer.wait(10s);
  EXPECT_EQ(read_text(received).substr(0, 1), "\x47") << "the peer got a transport stream";
  EXPECT_GT(video_times(folder_, folder_ / "out.ts").size(), 10U) << "the recording went on";
}

TEST_F(Failover, OutputsServedOverHttpWorkTheSameWay) {
  const std::uint16_t port = free_udp_ports(1);
  const std::uint16_t http = free_tcp_port();
  std::unique_ptr<Peer> sender = start_live_udp_sender(folder_, port, "sender");
  Transcoder transcoder(
      failover_line(port, "default", "http://127.0.0.1:" + std::to_string(http), FormatId::http));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(wait_until([&] { return port_taken(Transport::tcp, http); }, 20s))
      << transcoder.report();
  Peer curl({"curl", "-s", "--max-time", "3", "-o", (folder_ / "got.ts").string(),
             "http://127.0.0.1:" + std::to_string(http) + "/live"},
            folder_ / "curl.out", folder_ / "curl.err");
  curl.wait(10s);
  const std::string got = read_text(folder_ / "got.ts");
  ASSERT_GT(got.size(), 188U * 100) << transcoder.report();
  EXPECT_EQ(got[0], '\x47') << "a viewer starts on a transport stream packet";
  transcoder.interrupt();
  transcoder.wait_for_end(20s);
}

}  // namespace
}  // namespace vx
