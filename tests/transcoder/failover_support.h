// What the failover tests share: the engine's line for a UDP source kept alive by the failover and
// recorded (or sent) at 25 frames per second, and the video packets' times of a recording.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/command_line.h"
#include "tests/support/peers.h"
#include "vocabulary/codecs.h"

namespace vx {

inline constexpr double kFailoverRate = 25.0;

// A UDP source on `port` kept alive on `alternate` ("" for none), recorded to `file` (or sent to
// `file` when it is a URL), at 320x240 or, unsized, at the source's size.
inline StartRequest failover_request(std::uint16_t port, const std::string& alternate,
                                     const testing_support::fs::path& file,
                                     FormatId format = FormatId::file, bool sized = true) {
  StartRequest request;
  EngineSource source;
  source.kind = FormatId::udp;
  source.url = "udp://127.0.0.1:" + std::to_string(port);
  source.alternate_input = alternate;
  request.sources.push_back(source);
  EngineTarget target;
  target.format = format;
  target.url = file.string();
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.video.width = sized ? 320 : 0;
  target.video.height = sized ? 240 : 0;
  target.video.frame_rate = 25;
  target.video.key_frame_interval = 1;
  target.video.options = "-preset:v ultrafast";
  target.audio.enable = true;
  target.audio.codec = codec_id_from_name("aac");
  target.audio.channels = 2;
  request.groups.push_back(TargetGroup{target});
  return request;
}

inline std::string line_of(const StartRequest& request) {
  std::string line;
  EXPECT_EQ(build_command_line(request, CommandSettings{}, line), 0) << line;
  return line;
}

// The video packets' times in the recording, in order.
inline std::vector<double> video_times(const testing_support::fs::path& folder,
                                       const testing_support::fs::path& file) {
  using namespace testing_support;
  Peer ffprobe({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                "packet=pts_time", "-of", "csv=p=0", file.string()},
               folder / "times.out", folder / "times.err");
  EXPECT_EQ(ffprobe.wait(kRunLimit), 0) << ffprobe.report();
  std::vector<double> times;
  std::istringstream lines(ffprobe.out());
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) times.push_back(std::atof(line.c_str()));
  }
  std::sort(times.begin(), times.end());
  return times;
}

}  // namespace vx
