// The alternate-input lines the engine writes, taken apart for the failover.
#include "transcoder/failover_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "engine/command_line.h"
#include "vocabulary/codecs.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

using Args = std::vector<std::string>;

std::optional<FailoverPlan> plan_of(const std::string& line, std::string& error) {
  return parse_failover_plan(split_argument_line(line), error);
}

// The line the engine writes for a UDP source with the alternate input `alternate`.
std::string engine_line(const std::string& alternate, const std::vector<std::string>& filters,
                        bool audio = true) {
  StartRequest request;
  EngineSource source;
  source.kind = FormatId::udp;
  source.url = "udp://239.0.0.1:1234";
  source.input_options = "-timeout 5000000 ";
  source.alternate_input = alternate;
  source.filters = filters;
  request.sources.push_back(source);
  EngineTarget target;
  target.format = FormatId::udp;
  target.url = "udp://127.0.0.1:1234";
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.audio.enable = audio;
  target.audio.codec = codec_id_from_name("aac");
  request.groups.push_back(TargetGroup{target});
  std::string line;
  EXPECT_EQ(build_command_line(request, CommandSettings{}, line), 0) << line;
  return line;
}

TEST(FailoverPlan, TestPictureLineSplitsIntoPrimaryAndOutput) {
  const std::string line = engine_line("default", {});
  ASSERT_TRUE(is_failover_line(split_argument_line(line))) << line;
  std::string error;
  const std::optional<FailoverPlan> plan = plan_of(line, error);
  ASSERT_TRUE(plan) << error << "\n" << line;
  ASSERT_GE(plan->primary_input.size(), 2U);
  EXPECT_EQ(Args(plan->primary_input.end() - 2, plan->primary_input.end()),
            (Args{"-i", "udp://239.0.0.1:1234"}));
  EXPECT_NE(std::find(plan->primary_input.begin(), plan->primary_input.end(), "-timeout"),
            plan->primary_input.end())
      << "the primary's own options go with it";
  EXPECT_EQ(plan->primary_filters, "");
  EXPECT_TRUE(plan->video);
  EXPECT_TRUE(plan->audio);
  EXPECT_EQ(plan->alternate_file, "");
  ASSERT_FALSE(plan->output.empty());
  EXPECT_EQ(plan->output.back(), "udp://127.0.0.1:1234");
  EXPECT_EQ(std::count(plan->output.begin(), plan->output.end(), "-i"), 0) << "no input left over";
}

TEST(FailoverPlan, MediaFileAndPrimaryFiltersAreKept) {
  std::string error;
  const std::string line = engine_line("/media/slate 1.mp4", {"yadif"}, false);
  const std::optional<FailoverPlan> plan = plan_of(line, error);
  ASSERT_TRUE(plan) << error << "\n" << line;
  EXPECT_EQ(plan->alternate_file, "/media/slate 1.mp4");
  EXPECT_EQ(plan->primary_filters, "yadif");
  EXPECT_TRUE(plan->video);
  EXPECT_FALSE(plan->audio) << "no sound graph: the target has no audio";
  EXPECT_EQ(plan->output.back(), "udp://127.0.0.1:1234");

  // Audio only: the silence input and the sound graph.
  const std::optional<FailoverPlan> sound = plan_of(
      "-i udp://h:1 -re -f lavfi -i aevalsrc=0 -lavfi:a astreamselect -c:a aac -f mpegts udp://h:2",
      error);
  ASSERT_TRUE(sound) << error;
  EXPECT_FALSE(sound->video);
  EXPECT_TRUE(sound->audio);
}

TEST(FailoverPlan, LinesNotInTheEnginesFormAreRefusedWithAReason) {
  EXPECT_FALSE(is_failover_line(split_argument_line("-i a -c:v libx264 -f null -")));
  const char* refused[] = {
      "-lavfi:v \"[0:v][v1]streamselect\" -f null -",                          // no primary
      "-i u://h -re -f lavfi -i pal100bars -lavfi:v \"scale=1:1\" -f null -",  // no switch
      "-i u://h -lavfi:a \"amix\" -f null -",                                  // no switch
      "-i u://h -lavfi:a astreamselect",                                       // no output
      "-i u://h -lavfi:v",                                                     // no graph
      "-i u://h -re -stream_loop -1 -i a.mp4 -re -stream_loop -1 -i b.mp4 -lavfi:a astreamselect "
      "-f null -",  // two files
  };
  for (const char* line : refused) {
    std::string error;
    EXPECT_FALSE(plan_of(line, error)) << line;
    EXPECT_EQ(error.rfind("morvi-transcoder: ", 0), 0U) << line;
  }
}

TEST(FailoverPlan, StandbySourcesTheSlateAndTheContentLimitsAreTakenApart) {
  const std::string graphs =
      " -lavfi:v \"[0:v][v1]streamselect\" -lavfi:a astreamselect -c:v libx264 -f mpegts udp://h:2";
  std::string error;
  const std::optional<FailoverPlan> plan = plan_of(
      "-timeout 9 -i udp://h:1 -standby -rw_timeout 5 -i \"rtmp://b/live key\" -standby -f dshow "
      "-i video=Cam -re -f lavfi -i pal100bars -re -f lavfi -i aevalsrc=0 "
      "-switch_on black=2:frozen=5" + graphs,
      error);
  ASSERT_TRUE(plan) << error;
  EXPECT_EQ(plan->primary_input, (Args{"-timeout", "9", "-i", "udp://h:1"}));
  EXPECT_EQ(plan->standby_inputs,
            (std::vector<Args>{{"-rw_timeout", "5", "-i", "rtmp://b/live key"},
                               {"-f", "dshow", "-i", "video=Cam"}}));
  EXPECT_TRUE(plan->slate);
  EXPECT_EQ(plan->alternate_file, "");
  EXPECT_EQ(std::tuple(plan->switch_on.black, plan->switch_on.silence, plan->switch_on.frozen),
            std::tuple(2, 0, 5));
  EXPECT_EQ(plan->output.back(), "udp://h:2");

  // No alternate inputs: no slate. The limits may come first.
  const std::optional<FailoverPlan> bare =
      plan_of("-i udp://h:1 -switch_on silence=30 -standby -i srt://b:9" + graphs, error);
  ASSERT_TRUE(bare) << error;
  EXPECT_FALSE(bare->slate);
  EXPECT_EQ(bare->standby_inputs, (std::vector<Args>{{"-i", "srt://b:9"}}));
  EXPECT_EQ(bare->switch_on.silence, 30);
  // The engine's own line: each standby arrives whole, however its URL is spelt, and a line
  // without the global alternate input has no slate.
  StartRequest request;
  EngineSource source;
  source.kind = FormatId::udp;
  source.url = "udp://239.0.0.1:1234";
  request.sources.push_back(source);
  source.kind = FormatId::rtmp;
  source.url = "rtmp://b/live/\"key\" two";
  request.standby.push_back(source);
  source.kind = FormatId::device;
  source.url = "video=USB Cam";
  request.standby.push_back(source);
  request.switch_on = {.black = 2, .frozen = 5};
  EngineTarget target;
  target.format = FormatId::udp;
  target.url = "udp://127.0.0.1:1234";
  target.video.enable = true;
  target.video.codec = kCodecH264;
  request.groups.push_back(TargetGroup{target});
  std::string written;
  ASSERT_EQ(build_command_line(request, CommandSettings{}, written), 0);
  const std::optional<FailoverPlan> engine = plan_of(written, error);
  ASSERT_TRUE(engine) << error << "\n" << written;
  ASSERT_EQ(engine->standby_inputs.size(), 2U) << written;
  EXPECT_EQ(engine->standby_inputs[0].back(), "rtmp://b/live/\"key\" two");
  EXPECT_EQ(engine->standby_inputs[1].back(), "video=USB Cam");
  EXPECT_FALSE(engine->slate);
  EXPECT_EQ(std::tuple(engine->switch_on.black, engine->switch_on.frozen), std::tuple(2, 5));
  EXPECT_EQ(engine->output.back(), "udp://127.0.0.1:1234");

  const std::optional<FailoverPlan> old = plan_of(engine_line("default", {}), error);
  ASSERT_TRUE(old) << error;
  EXPECT_TRUE(old->slate) << "the test picture is a slate";

  const std::vector<std::string> refused = {
      "-i udp://h:1 -standby" + graphs,                       // a standby without its input
      "-i udp://h:1 -standby -f dshow" + graphs,              // the same
      "-i udp://h:1 -switch_on purple=2" + graphs,            // no such fault
      "-i udp://h:1 -switch_on black=3601" + graphs,          // beyond an hour
      "-i udp://h:1 -switch_on black=-1" + graphs,            // negative
      "-i udp://h:1 -switch_on black=2x" + graphs,            // not a number
      "-i udp://h:1 -switch_on black=" + graphs,              // no number
      "-i udp://h:1 -switch_on",                              // nothing after it
      "-i u://1 -standby -i u://2 -standby -i u://3 -standby -i u://4 -standby -i u://5 "
      "-standby -i u://6" + graphs,                           // five standbys
  };
  for (const std::string& line : refused) {
    error.clear();
    EXPECT_FALSE(plan_of(line, error)) << line;
    EXPECT_EQ(error.rfind("morvi-transcoder: ", 0), 0U) << line << ": " << error;
  }
}

}  // namespace
}  // namespace vx
