// Reading ffmpeg's encoder list: the table it prints, and the bounded run that asks for it.
#include "platform/encoder_list.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vx {
namespace {

TEST(EncoderList, TheTableBelowTheRuleIsRead) {
  const std::string listing =
      "Encoders:\n V..... = Video\n A..... = Audio\n ------\n"
      " V....D libx264              libx264 H.264 / AVC\n"
      " A....D aac                  AAC (Advanced Audio Coding)\n"
      " V....D h263p                H.263+\n";
  EXPECT_EQ(parse_encoder_list(listing), (std::set<std::string>{"libx264", "aac", "h263p"}));
  EXPECT_TRUE(parse_encoder_list("garbage without a table").empty());
}

TEST(EncoderList, OnlyAListingThatEndsWellInTimeCounts) {
  struct Case {
    const char* script;
    std::optional<std::string> output;
  };
  const Case cases[] = {
      {"echo listed; echo said >&2", std::string("listed\nsaid\n")},
      {"echo half; exit 1", std::nullopt},
      {"echo late; exec sleep 30", std::nullopt},  // killed at the limit
  };
  for (const Case& c : cases) {
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(run_encoder_listing({"sh", "-c", c.script}), c.output) << c.script;
    EXPECT_LT(std::chrono::steady_clock::now() - began, kEncoderListLimit + std::chrono::seconds(2))
        << c.script;
  }
  EXPECT_EQ(run_encoder_listing({"/nonexistent/ffmpeg"}), std::nullopt);
}

}  // namespace
}  // namespace vx
