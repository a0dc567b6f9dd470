#include "engine/output_parser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/channel_log.h"
#include "engine/channel_slot.h"
#include "engine/channel_status.h"
#include "engine/engine_clock.h"
#include "engine/signal_watch.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

std::vector<std::pair<int, std::string>> seen_chunks;
void remember_chunk(int slot, std::string_view chunk) {
  seen_chunks.emplace_back(slot, chunk);
}

class OutputParser : public ::testing::Test {
 protected:
  static constexpr int kSlot = 20;

  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("vx-parser-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    channel_log_open(folder_.string(), 32);
    *engine_slot(kSlot) = ChannelSlot{};
    slot().state = ChannelState::running;
    slot().position_seconds = slot().fps = slot().bitrate_kbps = -1;
    seen_chunks.clear();
  }
  void TearDown() override {
    engine_set_output_callback(nullptr);
    *engine_slot(kSlot) = ChannelSlot{};
    channel_log_close();
    fs::remove_all(folder_);
  }
  static ChannelSlot& slot() { return *engine_slot(kSlot); }

  fs::path folder_;
};

TEST_F(OutputParser, ProgressFiguresComeOnlyWithATime) {
  engine_parse_output(kSlot,
                      "frame=  100 fps= 25 q=28.0 size=    1024kB time=00:01:05.32 "
                      "bitrate=1048.6kbits/s speed=1x\r");
  EXPECT_EQ(slot().position_seconds, 65);
  EXPECT_EQ(slot().fps, 25);
  EXPECT_EQ(slot().bitrate_kbps, 1048);

  engine_parse_output(kSlot, "frame=  200 fps=30 q=28.0 size=2048kB");  // no time: ignored
  EXPECT_EQ(slot().fps, 25);

  engine_parse_output(kSlot, "size=N/A time=01:02:05.00 bitrate=N/A speed=1x");
  EXPECT_EQ(slot().position_seconds, 3725);
  EXPECT_EQ(slot().fps, 25);             // no fps in this chunk
  EXPECT_EQ(slot().bitrate_kbps, 1048);  // N/A keeps the last figure

  // A line split across chunks counts only where " time=" is.
  engine_parse_output(kSlot, "frame=300 fps=50 q=28.0 size=3000kB time=00:00:");
  EXPECT_EQ(slot().position_seconds, 3725);  // the time is incomplete
  EXPECT_EQ(slot().fps, 50);
  engine_parse_output(kSlot, "09.00 bitrate=999.0kbits/s");
  EXPECT_EQ(slot().bitrate_kbps, 1048);
}

TEST_F(OutputParser, OddTimesNeverCorruptTheFigures) {
  struct Case {
    const char* chunk;
    int position;
  };
  const Case cases[] = {
      {" time=N/A bitrate=N/A", -1},
      {" time=12x:00:01", -1},
      {" time=-00:00:02.50", 2},  // "-00" reads as hour 0
      {" time=99999999999:00:00.00", 2147483647},
      {" time=00:10", 2147483647},  // two numbers are not a time
      {" time=1:2:3", 3723},
  };
  for (const Case& c : cases) {
    engine_parse_output(kSlot, c.chunk);
    EXPECT_EQ(slot().position_seconds, c.position) << c.chunk;
  }
}

// Each whole line the failover's switch writes (however the reads cut it) puts its input on air
// and counts its reason; the channel shows which input it streams in place of "NO SIGNAL". A
// line that only carries a report after other text is ffmpeg's, and a last failure switches to
// nothing.
TEST_F(OutputParser, SwitchReportsSetTheInputOnAirAndCountTheirReasons) {
  struct Step {
    std::vector<std::string> chunks;
    ChannelState state;
    int on_air;
    const char* shown;  // the status text while without signal; "" while running
  };
  const Step steps[] = {
      {{"primary input available again, switching back\n"}, ChannelState::running, 0, ""},
      {{"frame=9\rprimary black for 2 s, switching to standby 1\n"},
       ChannelState::no_signal,
       1,
       "STANDBY 1"},
      {{"standby 1 frozen for 4 s, swi", "tching to standby 2\nframe=10\r"},
       ChannelState::no_signal,
       2,
       "STANDBY 2"},
      {{"standby 2 timed out, switching to the slate\n"},
       ChannelState::no_signal,
       kSlateInput,
       "NO SIGNAL"},
      {{"primary good for 1 s, switching back from the slate\n"}, ChannelState::running, 0, ""},
      {{"primary silent for 3 s, switching to standby 1\n"},
       ChannelState::no_signal,
       1,
       "STANDBY 1"},
      {{"[in] primary black for 2 s, switching to standby 2\n"},
       ChannelState::no_signal,
       1,
       "STANDBY 1"},
      {{"standby 1 timed out, no input left\n"}, ChannelState::no_signal, 1, "STANDBY 1"},
      {{"primary input timed out, switching to secondary input\n"},
       ChannelState::no_signal,
       kSlateInput,
       "NO SIGNAL"},
      {{"primary input available again, switching back\n"}, ChannelState::running, 0, ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.chunks.front());
    for (const std::string& chunk : step.chunks)
      engine_parse_output(kSlot, chunk);
    EXPECT_EQ(slot().state, step.state);
    EXPECT_EQ(slot().input_on_air, step.on_air);
    if (step.state == ChannelState::no_signal) {
      EXPECT_EQ(no_signal_status_text(ChannelStatusSettings{}, kSlot), step.shown);
    }
  }
  // timeout, black, silence, frozen, recovered
  const std::array<std::uint64_t, kSwitchReasonCount> counted = {2, 1, 1, 1, 3};
  EXPECT_EQ(slot().input_switches, counted);
  // A source gone quiet on a standby source shows no signal; a new transcoder starts on its
  // primary, and the counts go on.
  engine_parse_output(kSlot, "primary black for 2 s, switching to standby 1\n");
  slot().source_quiet = true;
  EXPECT_EQ(no_signal_status_text(ChannelStatusSettings{}, kSlot), "NO SIGNAL");
  forget_transcoder_lines(slot());
  EXPECT_EQ(slot().input_on_air, kPrimaryInput);
  EXPECT_EQ(slot().input_switches[static_cast<std::size_t>(SwitchReason::black)], 2u);
}

TEST_F(OutputParser, FailureTextsStopTheTranscoderAndSwitchesChangeNoOtherState) {
  engine_parse_output(kSlot, "primary input timed out, switching to secondary input\n");
  engine_parse_output(kSlot, "[enc] output video frame freezing\n");
  EXPECT_EQ(slot().state, ChannelState::stopping);
  engine_parse_output(kSlot, "primary input available again, switching back\n");
  EXPECT_EQ(slot().state, ChannelState::stopping);

  slot().state = ChannelState::idle;
  engine_parse_output(kSlot, "There's no buffered audio. Audio will misbehave!");
  EXPECT_EQ(slot().state, ChannelState::idle);
  slot().state = ChannelState::preview;
  engine_parse_output(kSlot, "There's no buffered audio. Audio will misbehave!");
  EXPECT_EQ(slot().state, ChannelState::stopping);
}

// One letter per target number 1..5: '-' not relayed, 'A' on air, 'L' lost.
std::string target_states(const ChannelSlot& slot) {
  std::string letters;
  for (const std::optional<TargetState>& target : slot.relayed_targets)
    letters += !target ? '-' : *target == TargetState::on_air ? 'A' : 'L';
  return letters;
}

TEST_F(OutputParser, RelayedTargetStatesFollowWholeReportLines) {
  const std::string too_long =
      "morvi-transcoder: target 1 relayed (rtmp://h/" + std::string(5000, 'x') + ")\n";
  struct Case {
    const char* what;
    std::vector<std::string> chunks;
    const char* states;
  };
  const Case cases[] = {
      {"announced in one chunk, with progress around them",
       {"frame=1 time=00:00:01.00\rmorvi-transcoder: target 2 relayed (rtmp://h/live)\n"
        "morvi-transcoder: target 5 relayed (srt://h:9000)\r\nframe=2 time=00:00:02.00\r"},
       "-A--A"},
      {"split in the prefix, the number and the word",
       {"morvi-transcoder: tar", "get 3 relayed (rtsp://h/a)\nmorvi-transcoder: target ", "4",
        " rel", "ayed (rtmp://h/b)", "\n"},
       "--AA-"},
      {"lost, then back, split anywhere",
       {"morvi-transcoder: target 1 relayed (srt://h:1)\nmorvi-transcoder: target 2 relayed "
        "(srt://h:2)\nmorvi-transcoder: target 1 lo",
        "st (srt://h:1): Connection refused\nmorvi-transcoder: target 2 lost (srt://h:2): "
        "timed out\nmorvi-transcoder: target 2 back (srt://h:2",
        ")\n"},
       "LA---"},
      {"a line is read only once it ends",
       {"morvi-transcoder: target 1 relayed (rtmp://h/a)"},
       "-----"},
      {"lost and back for a target never announced",
       {"morvi-transcoder: target 3 lost (rtmp://h/a): gone\n"
        "morvi-transcoder: target 4 back (rtmp://h/b)\n"},
       "-----"},
      {"numbers outside 1..5",
       {"morvi-transcoder: target 0 relayed (a)\nmorvi-transcoder: target 6 relayed (b)\n"
        "morvi-transcoder: target 99999999999 relayed (c)\n"
        "morvi-transcoder: target -1 relayed (d)\n"},
       "-----"},
      {"malformed reports",
       {"morvi-transcoder: target x relayed (a)\nmorvi-transcoder: target 1 relayed a\n"
        "morvi-transcoder: target 1 relayed (a\nmorvi-transcoder: target  1 relayed (a)\n"
        "morvi-transcoder: target 1 started (a)\nmorvi-transcoder: target 1\n"
        "morvi-transcoder: target \nmorvi-transcoder: target 1 relayed (a)x\n"},
       "-----"},
      {"a lost report without its reason changes nothing",
       {"morvi-transcoder: target 2 relayed (a)\nmorvi-transcoder: target 2 lost (a)\n"},
       "-A---"},
      {"a report that is not at the start of its line",
       {"[relay] morvi-transcoder: target 1 relayed (a)\n[relay] ",
        "morvi-transcoder: target 2 relayed (b)\n"},
       "-----"},
      {"an overlong line is skipped, the next one read",
       {too_long.substr(0, 3000), too_long.substr(3000),
        "morvi-transcoder: target 4 relayed (c)\n"},
       "---A-"},
  };
  for (const Case& c : cases) {
    *engine_slot(kSlot) = ChannelSlot{};
    slot().state = ChannelState::running;
    for (const std::string& chunk : c.chunks)
      engine_parse_output(kSlot, chunk);
    EXPECT_EQ(target_states(slot()), c.states) << c.what;
    EXPECT_LE(slot().unfinished_line.size(), 4096u) << c.what;
  }
}

TEST_F(OutputParser, EveryChunkReachesTheLogAndTheCallback) {
  engine_set_output_callback(&remember_chunk);
  engine_parse_output(kSlot, "first\r");
  engine_parse_output(kSlot, "second\n");
  engine_parse_output(40, "bad slot\n");  // no slot record, still logged and passed on
  ASSERT_EQ(seen_chunks.size(), 3u);
  EXPECT_EQ(seen_chunks[1], std::make_pair(kSlot, std::string("second\n")));
  EXPECT_EQ(seen_chunks[2].first, 40);

  std::ifstream in(folder_ / "morv_021.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "\xEF\xBB\xBF"
            "first\rsecond\n");
  EXPECT_GT(slot().last_output_time, 0);
}

// The transcoder's own lines come between ffmpeg's progress texts, which end in a carriage
// return; in the log each stands time-stamped on a line of its own, however the reads cut it, and
// ffmpeg's text around it stays as it came. The regular expression stands for the time stamp.
TEST_F(OutputParser, TheTranscodersOwnLinesStandOnTheirOwnInTheLog) {
  struct Case {
    const char* what;
    std::vector<std::string> chunks;
    const char* log;
  };
  const Case cases[] = {
      {"after progress, in one chunk",
       {"frame=1 time=00:00:01.00\rmorvi-transcoder: target 2 lost (rtmp://h/a): refused\n"
        "frame=2 time=00:00:02.00\r"},
       "frame=1 time=00:00:01.00\r\n[T] morvi-transcoder: target 2 lost (rtmp://h/a): "
       "refused\nframe=2 time=00:00:02.00\r"},
      {"cut anywhere, the switch texts too",
       {"frame=1\rmorvi-trans", "coder: target 1 back (srt://h:1)", "\nprimary input timed",
        " out, switching to secondary input\n", "frame=2\r"},
       "frame=1\r\n[T] morvi-transcoder: target 1 back (srt://h:1)\n[T] primary input timed "
       "out, switching to secondary input\nframe=2\r"},
      {"a switch to or from a standby source",
       {"frame=1\rstandby 2 black", " for 9 s, switching to the slate\nframe=2\r"},
       "frame=1\r\n[T] standby 2 black for 9 s, switching to the slate\nframe=2\r"},
      {"lines that only begin like them, or carry them later, are ffmpeg's",
       {"morvi\rprimary input\n[relay] morvi-transcoder: target 1 lost (a): x\nstandby 1 ok\n"},
       "morvi\rprimary input\n[relay] morvi-transcoder: target 1 lost (a): x\nstandby 1 ok\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    channel_log_close();
    fs::remove(folder_ / "morv_021.log");
    channel_log_open(folder_.string(), 32);
    *engine_slot(kSlot) = ChannelSlot{};
    for (const std::string& chunk : c.chunks)
      engine_parse_output(kSlot, chunk);
    std::ifstream in(folder_ / "morv_021.log", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string stamped =
        std::regex_replace(text.str(), std::regex(R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\])"), "[T]");
    EXPECT_EQ(stamped, std::string("\xEF\xBB\xBF") + c.log);
  }
}

std::int64_t parser_now = 0;
std::int64_t parser_clock() {
  return parser_now;
}

// A source that stops delivering shows no signal after five seconds of a standing position, and
// running again once the position moves; the failover's alternate input keeps it without signal
// whatever the position does. Each step is a chunk of output (or, when empty, a poll) at a time.
TEST_F(OutputParser, AStandingPositionShowsNoSignalUntilItMoves) {
  struct Step {
    std::int64_t at;
    const char* output;  // "" for a poll
    ChannelState state;
  };
  const Step steps[] = {
      {0, "frame=1 time=00:00:01.00\r", ChannelState::running},
      {4, "", ChannelState::running},
      {5, "frame=2 time=00:00:01.50\r", ChannelState::running},  // the same whole second
      {6, "", ChannelState::no_signal},
      {9, "frame=3 time=00:00:02.00\r", ChannelState::running},
      {14, "", ChannelState::no_signal},
      {15, "primary input timed out, switching to secondary input\n", ChannelState::no_signal},
      {16, "frame=9 time=00:00:03.00\r", ChannelState::no_signal},
      {17, "primary input available again, switching back\n", ChannelState::running},
  };
  engine_set_clock(&parser_clock);
  slot().pid = 0;
  slot().last_position_move = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at);
    parser_now = step.at;
    if (step.output[0] == '\0') {
      signal_watch_poll(kSlot, slot(), parser_now, 32);
    } else {
      engine_parse_output(kSlot, step.output);
    }
    EXPECT_EQ(slot().state, step.state);
  }
  // A source that never delivers counts from the launch, unless ffmpeg runs at a level that
  // reports no progress.
  for (const int level : {16, 0}) {
    *engine_slot(kSlot) = ChannelSlot{};
    slot().state = ChannelState::running;
    slot().position_seconds = -1;
    signal_watch_poll(kSlot, slot(), kFirstReportSeconds - 1, level);  // still probing
    EXPECT_EQ(slot().state, ChannelState::running);
    signal_watch_poll(kSlot, slot(), kFirstReportSeconds, level);
    EXPECT_EQ(slot().state, level == 0 ? ChannelState::no_signal : ChannelState::running);
  }
  engine_set_clock(nullptr);
  std::ifstream in(folder_ / "morv_021.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string log = text.str();
  EXPECT_NE(log.find("] no signal: the source has delivered nothing for 6 s\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("] the source delivers again after 9 s\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] no signal: the source has delivered nothing for 5 s\n"), std::string::npos)
      << log;
}

}  // namespace
}  // namespace vx
