#include "vocabulary/transcoder_protocol.h"

#include <gtest/gtest.h>

namespace vx {
namespace {

using Args = std::vector<std::string>;

TEST(ArgumentLine, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(split_argument_line("-re -i \"/media/my clip.mp4\" -c:a aac  -f mpegts udp://h:1 "),
            (Args{"-re", "-i", "/media/my clip.mp4", "-c:a", "aac", "-f", "mpegts", "udp://h:1"}));
  EXPECT_EQ(split_argument_line(""), Args{});
  EXPECT_EQ(split_argument_line(" \t\r\n "), Args{});
  EXPECT_EQ(split_argument_line("-i \"\" -y"), (Args{"-i", "", "-y"}));
  EXPECT_EQ(split_argument_line("a\"b c\"d \"unterminated x"), (Args{"ab cd", "unterminated x"}));
  EXPECT_EQ(split_argument_line("-var_stream_map \"v:0,a:0 v:1,a:1\" x"),
            (Args{"-var_stream_map", "v:0,a:0 v:1,a:1", "x"}));
}

TEST(ArgumentLine, FilterTextsLoseTheirEscapesOnly) {
  EXPECT_EQ(split_argument_line("-filter:v \"scale=1280\\:720, a\\\\\\:b\" -x a\\:b"),
            (Args{"-filter:v", "scale=1280:720, a\\:b", "-x", "a\\:b"}));
  EXPECT_EQ(split_argument_line("-lavfi:v \"[0:v]x\\:y\\n\" -lavfi:a \"astreamselect\\\\\""),
            (Args{"-lavfi:v", "[0:v]x:y\\n", "-lavfi:a", "astreamselect\\"}));
  EXPECT_EQ(split_argument_line("-filter:v trailing\\"), (Args{"-filter:v", "trailing\\"}));
}

}  // namespace
}  // namespace vx
