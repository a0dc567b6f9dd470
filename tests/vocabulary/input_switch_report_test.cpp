// The input switch's report lines: every switch the transcoder can tell reads back as the same
// switch, the old primary texts stay as they were, and lines that only look alike are not
// taken for switches.
#include <gtest/gtest.h>

#include "vocabulary/input_switch_report.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

TEST(InputSwitchReport, EverySwitchIsToldInOneLineThatReadsBackAsTheSameSwitch) {
  struct Case {
    SwitchReport report;
    std::string_view line;
  };
  const Case cases[] = {
      {{kPrimaryInput, kSlateInput, SwitchReason::timed_out, 0}, kPrimaryInputTimedOut},
      {{kSlateInput, kPrimaryInput, SwitchReason::recovered, 0}, kPrimaryInputBack},
      {{kPrimaryInput, 1, SwitchReason::timed_out, 0}, "primary timed out, switching to standby 1"},
      {{kPrimaryInput, 1, SwitchReason::black, 2}, "primary black for 2 s, switching to standby 1"},
      {{1, 2, SwitchReason::silent, 5}, "standby 1 silent for 5 s, switching to standby 2"},
      {{4, kSlateInput, SwitchReason::frozen, 30},
       "standby 4 frozen for 30 s, switching to the slate"},
      {{kPrimaryInput, kSlateInput, SwitchReason::black, 2},
       "primary black for 2 s, switching to the slate"},
      {{2, kPrimaryInput, SwitchReason::recovered, 1},
       "primary good for 1 s, switching back from standby 2"},
      {{kSlateInput, 3, SwitchReason::recovered, 3},
       "standby 3 good for 3 s, switching back from the slate"},
      {{1, kNoInputLeft, SwitchReason::timed_out, 0}, "standby 1 timed out, no input left"},
      {{kPrimaryInput, kNoInputLeft, SwitchReason::timed_out, 0},
       "primary timed out, no input left"},
  };
  for (const Case& c : cases) {
    // A reader holding a line back until it ends holds every beginning of every report.
    for (std::size_t k = 0; k <= c.line.size(); ++k)
      EXPECT_TRUE(may_be_switch_report(c.line.substr(0, k))) << c.line.substr(0, k);
    EXPECT_EQ(switch_report_line(c.report), c.line);
    EXPECT_EQ(parse_switch_report(std::string(c.line)), c.report) << c.line;
    EXPECT_EQ(parse_switch_report("\r\n  " + std::string(c.line) + "\n"), c.report) << c.line;
  }
}

TEST(InputSwitchReport, LinesThatOnlyLookLikeASwitchAreNotTakenForOne) {
  for (std::string_view line : {
           "",
           "primary timed out",
           "primary timed out, switching to standby 5",
           "primary timed out, switching to standby 0",
           "primary timed out, switching to primary",
           "the slate timed out, switching to standby 1",
           "standby 1 black for 0 s, switching to standby 2",
           "standby 1 black for -2 s, switching to standby 2",
           "standby 1 black for 2s, switching to standby 2",
           "standby 1 purple for 2 s, switching to standby 2",
           "primary good for 1 s, switching back from primary",
           "the slate good for 1 s, switching back from standby 1",
           "primary good for x s, switching back from standby 1",
           "[input] udp://a: primary timed out, switching to standby 1 soon",
           "frame=  100 fps= 25 q=28.0 size=     512kB time=00:00:04.00 bitrate=1048.6kbits/s",
       }) {
    EXPECT_FALSE(parse_switch_report(line).has_value()) << line;
  }
  // ffmpeg's text is passed on at once, even when it begins like a report.
  for (std::string_view start : {"frame=", "primary input timed out, switching to secondary inputframe=",
                                  "standby 1 black for 2 s, switching to standby 2 and then some more "
                                  "words to make it far too long",
                                  "[input] primary", "Primary", "primary\ttimed"}) {
    EXPECT_FALSE(may_be_switch_report(start)) << start;
  }
}

TEST(InputSwitchReport, InputsAreNamedForTheStatusAndTheMetrics) {
  struct Case {
    int input;
    std::string_view name, status, label;
  };
  const Case cases[] = {{kPrimaryInput, "primary", "", "primary"},
                        {1, "standby 1", "STANDBY 1", "standby1"},
                        {4, "standby 4", "STANDBY 4", "standby4"},
                        {kSlateInput, "the slate", "NO SIGNAL", "slate"}};
  for (const Case& c : cases) {
    EXPECT_EQ(input_name(c.input), c.name);
    EXPECT_EQ(input_on_air_text(c.input), c.status);
    EXPECT_EQ(input_label(c.input), c.label);
  }
  EXPECT_EQ(switch_reason_label(SwitchReason::silent), "silence");
  EXPECT_EQ(switch_reason_label(SwitchReason::timed_out), "timeout");
}

}  // namespace
}  // namespace vx
