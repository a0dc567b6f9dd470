// A channel kept on air by standby sources, with real ffmpeg on 127.0.0.1: a red primary that
// stops and comes back, a blue standby that stops, the slate between them; and a primary that
// turns black while it still sends. The recording must run without a hole, from one encoder, and
// show the right colour in each span; the switch must say each switch, once, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "tests/transcoder/failover_support.h"
#include "vocabulary/input_switch_report.h"

namespace vx {
namespace {

using namespace testing_support;

constexpr double kRate = kFailoverRate;

std::string udp_url(std::uint16_t port) {
  return "udp://127.0.0.1:" + std::to_string(port);
}

// The engine's failover line for a UDP primary with a UDP standby source and the test picture as
// the slate, recorded to `file` (and, when given, to `second` at a smaller size).
std::string standby_line(std::uint16_t primary, std::uint16_t standby, SwitchOnLimits switch_on,
                         const fs::path& file, const fs::path& second = {}) {
  StartRequest request = failover_request(primary, "default", file);
  EngineSource source = request.sources.front();
  source.url = udp_url(standby);
  request.standby.push_back(source);
  request.switch_on = switch_on;
  if (!second.empty()) {
    EngineTarget target = request.groups.front().front();
    target.url = second.string();
    target.video.width = 160;
    target.video.height = 120;
    request.groups.push_back(TargetGroup{target});
  }
  return line_of(request);
}

// The recording as one letter per frame: 'r' red, 'b' blue, 'k' black, '?' anything else (the
// slate's bars), with the video packets' times.
struct Recording {
  std::string colours;
  std::vector<double> times;
};

Recording read_recording(const fs::path& folder, const fs::path& file) {
  Recording recording;
  recording.times = video_times(folder, file);

  const fs::path pixels = folder / "pixels.rgb";
  Peer decode(ffmpeg_argv({"-i", file.string(), "-vf", "scale=4:4,format=rgb24", "-f", "rawvideo",
                           "-y", pixels.string()}),
              folder / "decode.out", folder / "decode.err");
  EXPECT_EQ(decode.wait(kRunLimit), 0) << decode.report();
  const std::string bytes = read_text(pixels);
  for (std::size_t at = 0; at + 48 <= bytes.size(); at += 48) {
    int r = 0, g = 0, b = 0, spread = 0;
    for (std::size_t p = at; p < at + 48; p += 3) {
      r += static_cast<unsigned char>(bytes[p]);
      g += static_cast<unsigned char>(bytes[p + 1]);
      b += static_cast<unsigned char>(bytes[p + 2]);
      spread = std::max(spread, std::abs(static_cast<unsigned char>(bytes[p]) -
                                         static_cast<unsigned char>(bytes[at])));
    }
    r /= 16, g /= 16, b /= 16;
    char colour = '?';
    if (spread < 40 && r > 150 && g < 80 && b < 80) colour = 'r';
    if (spread < 40 && b > 150 && r < 80 && g < 80) colour = 'b';
    if (spread < 40 && r < 40 && g < 40 && b < 40) colour = 'k';
    recording.colours += colour;
  }
  return recording;
}

// The spans of the recording: each colour once per stretch, with its length in frames. Stretches
// shorter than `least` frames (a picture or two around a switch) are left out.
std::vector<std::pair<char, std::size_t>> spans_of(const std::string& colours, std::size_t least) {
  std::vector<std::pair<char, std::size_t>> spans;
  for (std::size_t at = 0; at < colours.size();) {
    std::size_t end = at;
    while (end < colours.size() && colours[end] == colours[at])
      ++end;
    if (end - at >= least) {
      if (!spans.empty() && spans.back().first == colours[at]) {
        spans.back().second += end - at;
      } else {
        spans.emplace_back(colours[at], end - at);
      }
    }
    at = end;
  }
  return spans;
}

std::string span_text(const std::vector<std::pair<char, std::size_t>>& spans) {
  std::string text;
  for (const auto& [colour, frames] : spans)
    text += std::string(1, colour) + ":" + std::to_string(frames) + " ";
  return text;
}

void expect_continuous(const std::vector<double>& times) {
  ASSERT_GT(times.size(), 10U);
  double widest = 0;
  for (std::size_t k = 1; k < times.size(); ++k)
    widest = std::max(widest, times[k] - times[k - 1]);
  EXPECT_LE(widest, 1.0 / kRate + 0.001) << "a hole in the output's timestamps";
}

// The switches the transcoder said, in order.
std::vector<SwitchReport> reports_in(const std::string& output) {
  std::vector<SwitchReport> reports;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (const std::optional<SwitchReport> report = parse_switch_report(line)) {
      reports.push_back(*report);
    }
  }
  return reports;
}

class Standby : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = fresh_test_folder("vx-standby"); }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

constexpr const char* kRed = "color=c=red:size=320x240:rate=25";
constexpr const char* kBlue = "color=c=blue:size=320x240:rate=25";

// Two recordings, as a channel with two targets makes them: both from the one encoder.
TEST_F(Standby, PrimaryThenStandbyThenSlateThenPrimaryAgainFromOneEncoder) {
  const std::uint16_t red_port = free_udp_ports(1);
  const std::uint16_t blue_port = free_udp_ports(1);
  const fs::path recording = folder_ / "out.ts";
  const fs::path small = folder_ / "small.ts";
  std::unique_ptr<Peer> red = start_udp_sender(folder_, red_port, "red1", kRed);
  std::unique_ptr<Peer> blue = start_udp_sender(folder_, blue_port, "blue", kBlue);
  Transcoder transcoder(standby_line(red_port, blue_port, {}, recording, small));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(wait_until([&] { return encoders_of(transcoder.pid()).size() == 1; }, 20s))
      << transcoder.report();
  const pid_t encoder = *encoders_of(transcoder.pid()).begin();
  const auto said = [&](const SwitchReport& report) {
    return transcoder.wait_for_output(switch_report_line(report), 15s);
  };

  std::this_thread::sleep_for(5s);
  red.reset();
  ASSERT_TRUE(said({kPrimaryInput, 1, SwitchReason::timed_out, 0})) << transcoder.report();
  std::this_thread::sleep_for(4s);
  blue.reset();
  ASSERT_TRUE(said({1, kSlateInput, SwitchReason::timed_out, 0})) << transcoder.report();
  std::this_thread::sleep_for(4s);
  red = start_udp_sender(folder_, red_port, "red2", kRed);
  ASSERT_TRUE(said({kSlateInput, kPrimaryInput, SwitchReason::recovered, 0}))
      << transcoder.report();
  std::this_thread::sleep_for(4s);
  EXPECT_EQ(encoders_of(transcoder.pid()), std::set<pid_t>{encoder}) << "never restarted";
  transcoder.interrupt();
  ASSERT_TRUE(transcoder.wait_for_end(20s)) << transcoder.report();

  EXPECT_EQ(reports_in(transcoder.output()),
            (std::vector<SwitchReport>{{kPrimaryInput, 1, SwitchReason::timed_out, 0},
                                       {1, kSlateInput, SwitchReason::timed_out, 0},
                                       {kSlateInput, kPrimaryInput, SwitchReason::recovered, 0}}))
      << transcoder.output();
  for (const fs::path& file : {recording, small}) {
    SCOPED_TRACE(file.filename().string());
    const Recording got = read_recording(folder_, file);
    expect_continuous(got.times);
    EXPECT_EQ(got.colours.size(), got.times.size());
    // Red, then red repeated while the timeout runs, blue, blue held, the slate, red again.
    const auto spans = spans_of(got.colours, 5);
    std::string order;
    for (const auto& span : spans)
      order += span.first;
    EXPECT_EQ(order.substr(order.find('r')), "rb?r") << span_text(spans);
  }
}

TEST_F(Standby, APrimaryThatTurnsBlackGivesWayAndTakesTheAirBackWhenGood) {
  const std::uint16_t red_port = free_udp_ports(1);
  const std::uint16_t blue_port = free_udp_ports(1);
  const fs::path recording = folder_ / "out.ts";
  std::unique_ptr<Peer> blue = start_udp_sender(folder_, blue_port, "blue", kBlue);
  Transcoder transcoder(standby_line(red_port, blue_port, {.black = 2}, recording));
  ASSERT_TRUE(transcoder.started());
  ASSERT_TRUE(wait_until([&] { return encoders_of(transcoder.pid()).size() == 1; }, 20s))
      << transcoder.report();
  const pid_t encoder = *encoders_of(transcoder.pid()).begin();
  // Red for 6 s of its own time, black for 10 s, red again.
  std::unique_ptr<Peer> red = start_udp_sender(
      folder_, red_port, "red",
      std::string(kRed) + ",drawbox=x=0:y=0:w=iw:h=ih:color=black:t=fill:enable='between(t,6,16)'");
  const SwitchReport away{kPrimaryInput, 1, SwitchReason::black, 2};
  const SwitchReport back{1, kPrimaryInput, SwitchReason::recovered, 3};
  ASSERT_TRUE(transcoder.wait_for_output(switch_report_line(away), 20s)) << transcoder.report();
  ASSERT_TRUE(transcoder.wait_for_output(switch_report_line(back), 20s)) << transcoder.report();
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(encoders_of(transcoder.pid()), std::set<pid_t>{encoder}) << "never restarted";
  transcoder.interrupt();
  ASSERT_TRUE(transcoder.wait_for_end(20s)) << transcoder.report();

  const Recording got = read_recording(folder_, recording);
  expect_continuous(got.times);
  const auto spans = spans_of(got.colours, 5);
  std::string order;
  for (const auto& span : spans)
    order += span.first;
  // The primary red, black for the 2 s limit, the blue standby through the rest of the black and
  // the recovery time, red again.
  const std::string from_red = order.substr(order.find('r'));
  EXPECT_EQ(from_red, "rkbr") << span_text(spans);
  for (const auto& [colour, frames] : spans) {
    const double seconds = static_cast<double>(frames) / kRate;
    if (colour == 'k') {
      // Pictures are judged as they arrive and shown from a queue of at most 16: a decoder that
      // delivers in a burst (a busy machine) has the switch come before all of them are shown.
      EXPECT_LE(seconds, 2.0 + 0.1) << "black no longer than the limit";
      EXPECT_GE(seconds, 2.0 - 16 / kRate - 0.1) << "black for the limit, less the queue";
    } else if (colour == 'b') {
      EXPECT_NEAR(seconds, 8.0 + 3.0, 1.0) << "the rest of the black and the recovery time";
    }
  }
}

}  // namespace
}  // namespace vx
