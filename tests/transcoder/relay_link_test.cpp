#include "transcoder/relay_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vx {
namespace {

using namespace std::chrono_literals;

// Events on one link, written as a script: "S<headers>" relay started, "E" relay ended,
// "K<bytes>" a piece that starts a unit, "P<bytes>" one that does not, "W<n>" n bytes written.
std::string run_script(RelayLink& link, const std::vector<std::string>& script) {
  std::string written;
  for (const std::string& step : script) {
    const std::string text = step.substr(1);
    switch (step[0]) {
      case 'S':
        link.relay_started(text);
        break;
      case 'E':
        link.relay_ended();
        break;
      case 'K':
        link.push({text, true});
        break;
      case 'P':
        link.push({text, false});
        break;
      case 'W': {
        const std::size_t count = std::min<std::size_t>(std::stoul(text), link.pending().size());
        written += link.pending().substr(0, count);
        link.consumed(count);
        break;
      }
    }
  }
  return written;
}

TEST(RelayLink, ARelayGetsTheHeadersThenTheStreamFromAStartPointAndNeverHoldsTheEncoder) {
  struct Case {
    const char* what;
    std::vector<std::string> script;
    std::string written;  // everything the relay was given, in order
    std::uint64_t dropped, gaps;
  };
  const Case cases[] = {
      {"down: everything is dropped", {"Kaa", "Pbb", "W99"}, "", 4, 0},
      {"a start waits for a start point", {"Shh", "Pxx", "Kaa", "Pbb", "W99"}, "hhaabb", 2, 0},
      {"the relay ends mid-queue: the rest goes",
       {"Shh", "Kaa", "Pbb", "W3", "E", "Pcc", "Kdd", "W99"},
       "hha",
       7,
       0},
      {"a restart begins with the headers again",
       {"Shh", "Kaa", "W99", "E", "Pbb", "Shh", "Pcc", "Kdd", "W99"},
       "hhaahhdd",
       4,
       0},
      {"a full queue skips to the next start point, keeping what was queued whole",
       {"Shh", "Kaaaa", "Pbbbb", "Pcc", "Kdd", "W99"},
       "hhaaaadd",
       6,
       1},
  };
  for (const Case& c : cases) {
    RelayLink link(8);
    EXPECT_EQ(run_script(link, c.script), c.written) << c.what;
    EXPECT_EQ(link.statistics().bytes_dropped, c.dropped) << c.what;
    EXPECT_EQ(link.statistics().gaps, c.gaps) << c.what;
  }
}

TEST(RelayBackoff, WaitsDoubleUpToTenSecondsAndASteadyRelayStartsOverAtOne) {
  RelayBackoff backoff;
  const auto t0 = RelayBackoff::Clock::time_point{} + 1h;
  std::vector<long> waits;
  auto now = t0;
  for (int end = 0; end < 6; ++end) {
    backoff.started(now);
    now += 2s;
    waits.push_back(std::chrono::duration_cast<std::chrono::seconds>(backoff.ended(now)).count());
  }
  EXPECT_EQ(waits, (std::vector<long>{1, 2, 4, 8, 10, 10}));
  backoff.started(now);
  EXPECT_EQ(backoff.ended(now + 30s), RelayBackoff::kFirstWait) << "it had streamed steadily";
  backoff.started(now + 31s);
  EXPECT_EQ(backoff.ended(now + 32s), 2s);
}

}  // namespace
}  // namespace vx
