#include "vocabulary/transcoder_protocol.h"

#include <gtest/gtest.h>

#include <random>

#include "vocabulary/url_credentials.h"

namespace vx {
namespace {

using Args = std::vector<std::string>;

std::string joined_line(const Args& texts) {
  std::string line;
  for (const std::string& text : texts)
    append_argument(line, text);
  return line;
}

// The operator's own options are written into the line as they are typed.
TEST(ArgumentLine, OperatorTextsSplitAtBlanksAndQuotesGroup) {
  const struct {
    const char* line;
    Args arguments;
  } cases[] = {
      {"-re -i \"/media/my clip.mp4\" -c:a aac  -f mpegts udp://h:1 ",
       {"-re", "-i", "/media/my clip.mp4", "-c:a", "aac", "-f", "mpegts", "udp://h:1"}},
      {"", {}},
      {" \t\r\n ", {}},
      {"-i \"\" -y", {"-i", "", "-y"}},
      {"a\"b c\"d \"unterminated x", {"ab cd", "unterminated x"}},
      {"-var_stream_map \"v:0,a:0 v:1,a:1\" x", {"-var_stream_map", "v:0,a:0 v:1,a:1", "x"}},
      // Backslashes outside quotes, and inside quotes before anything but '"', '\' or "xHH",
      // stand for themselves.
      {"-filter:v scale=1280\\:720 C:\\dir\\x.ts",
       {"-filter:v", "scale=1280\\:720", "C:\\dir\\x.ts"}},
      {"\"a\\:b\\n\\xg1\\x4\"", {"a\\:b\\n\\xg1\\x4"}},
      {"\"say \\\"hi\\\" \\\\ \\x0a\\x7F\"", {"say \"hi\" \\ \n\x7f"}},
      {"\"trailing\\", {"trailing\\"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(split_argument_line(c.line), c.arguments) << c.line;
  }
}

TEST(ArgumentLine, WrittenTextsComeBackAsTheyWere) {
  const Args hostile = {"",
                        "plain",
                        "udp://127.0.0.1:5000 -y /tmp/x.ts",
                        "\" -y \"",
                        "\"",
                        "\\",
                        "\\\"",
                        "ends with backslash\\",
                        "\\x41 stays four bytes",
                        "line\nfeed\r\n",
                        std::string("nul\0byte", 8),
                        "\t\x01\x1f\x7f",
                        "--version",
                        "Grüße, 東京 \xf0\x9f\x93\xba",
                        "invalid \xff\xfe\xc3 utf-8 \x80"};
  const std::string line = joined_line(hostile);
  EXPECT_EQ(split_argument_line(line), hostile);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  // Texts that need no quotes are written as they are, so the logged line stays readable.
  EXPECT_EQ(joined_line({"-i", "rtmp://h/app/k", "C:\\x.ts"}), "-i rtmp://h/app/k C:\\x.ts ");

  // Random texts over the bytes that matter most, and any byte at all.
  std::mt19937 random(20261210);
  const std::string alphabet = " \"\\x0aA-\t\n\r:'";
  for (int round = 0; round < 2000; ++round) {
    Args texts(random() % 6);
    for (std::string& text : texts) {
      const std::size_t size = random() % 12;
      for (std::size_t k = 0; k < size; ++k) {
        text.push_back(round % 2 == 0 ? alphabet[random() % alphabet.size()]
                                      : static_cast<char>(random() % 256));
      }
    }
    const std::string written = joined_line(texts);
    ASSERT_EQ(split_argument_line(written), texts) << written;
    for (char c : written) {
      const auto byte = static_cast<unsigned char>(c);
      ASSERT_TRUE(byte >= 0x20 && byte != 0x7f) << written;
    }
  }
}

TEST(ArgumentLine, ServedTlsPathsAreOneArgumentEach) {
  EXPECT_EQ(split_argument_line(served_tls_options("/etc/my cert.pem", "/k\".pem")),
            (Args{"-user_agent", "/etc/my cert.pem", "-referer", "/k\".pem"}));
}

TEST(UrlCredentials, UserAndPasswordAreNeverShown) {
  EXPECT_EQ(url_without_credentials("rtmp://op:pw@h/live/k@1"), "rtmp://h/live/k@1");
  EXPECT_EQ(url_without_credentials("srt://h:9000?passphrase=x"), "srt://h:9000?passphrase=x");
  EXPECT_EQ(url_without_credentials("/media/a@b.ts"), "/media/a@b.ts");
  std::string line = "-re -i ";
  append_argument(line, "rtmp://u:secret@h/app");
  line += "-f flv ";
  append_argument(line, "rtmp://key@h/live x");
  EXPECT_EQ(argument_line_without_credentials(line),
            "-re -i rtmp://h/app -f flv \"rtmp://h/live x\"");

  const struct {
    const char* printed;
    const char* shown;
  } texts[] = {
      {"Output #0, flv, to 'rtmp://op:pw@h/live':", "Output #0, flv, to 'rtmp://h/live':"},
      {"from \"rtsp://a@b:c@cam\" and srt://h?x=y@z", "from \"rtsp://cam\" and srt://h?x=y@z"},
      {"a://u@h b://v@i\nc://w@j", "a://h b://i\nc://j"},
      {"mail me@host, file:///u@x/y, ://@", "mail me@host, file:///u@x/y, ://"},
      {"ends in rtmp://user:pass@", "ends in rtmp://"},
  };
  for (const auto& text : texts)
    EXPECT_EQ(text_without_url_credentials(text.printed), text.shown) << text.printed;
}

}  // namespace
}  // namespace vx
