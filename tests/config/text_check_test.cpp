#include "config/text_check.h"

#include <gtest/gtest.h>

#include <string>

#include "config/json.h"

namespace vx {
namespace {

// A document with one text replaced: `where` is the JSON that holds the text "@".
std::string problem_of(const std::string& where, const std::string& text) {
  std::string json = where;
  const std::size_t at = json.find('@');
  json.replace(at, 1, text);
  const JsonPtr document = json_parse(json);
  EXPECT_TRUE(document) << json;
  return control_character_problem(document.get());
}

TEST(ConfiguredTexts, ControlCharactersInUrlsAndNamesAreNamedByChannelAndKey) {
  const std::string plain_channel =
      R"({"input": {"sources": [{"url": "/m/a.ts"}]}, "output": {"targets": [{"url": "udp://127.0.0.1:1"}]}})";
  const struct {
    std::string where;
    std::string named;
  } cases[] = {
      {R"({"channels": [{"input": {"sources": [{"url": "@"}]}}]})",
       "channel 1 input.sources[0].url"},
      {R"({"channels": [)" + plain_channel +
           R"(, {"input": {"sources": [{"url": "/a"}, {"url": "@"}]}}]})",
       "channel 2 input.sources[1].url"},
      {R"({"channels": [{"output": {"targets": [{"url": "/a"}, {"url": "@"}]}}]})",
       "channel 1 output.targets[1].url"},
      {R"({"channels": [{"output": {"targets": [{"url": "rtmp://h/a", "rtmp": {"user": "@"}}]}}]})",
       "channel 1 output.targets[0].rtmp.user"},
      {R"({"channels": [{"output": {"targets": [{"rtmp": {"passwd": "@"}}]}}]})",
       "channel 1 output.targets[0].rtmp.passwd"},
      {R"({"channels": [{"output": {"targets": [{"rtmp": {"flashVer": "@"}}]}}]})",
       "channel 1 output.targets[0].rtmp.flashVer"},
      {R"({"channels": [{"output": {"targets": [{"rtmp": {"swfUrl": "@"}}]}}]})",
       "channel 1 output.targets[0].rtmp.swfUrl"},
      {R"({"channels": [{"input": {"map": ["0:v", "@"]}}]})", "channel 1 input.map[1]"},
      {R"({"channels": [{"memo": "@"}]})", "channel 1 memo"},
      {R"({"channels": [{"input": {"sources": [{"video": {"fmtp": "@"}}]}}]})",
       "channel 1 input.sources[0].video.fmtp"},
      {R"({"channels": [{"output": {"targets": [{"audio": {"IP": "@"}}]}}]})",
       "channel 1 output.targets[0].audio.IP"},
      {R"({"global": {"altInput": "@"}})", "global altInput"},
      {R"({"global": {"sslCert": "@"}})", "global sslCert"},
      {R"({"global": {"sslKey": "@"}})", "global sslKey"},
      {R"({"global": {"omxPath": "@"}})", "global omxPath"},
      {R"({"global": {"ytdlpPath": "@"}})", "global ytdlpPath"},
  };
  const struct {
    const char* json;  // as it stands in the JSON text
    const char* code;
  } controls[] = {{"a\\nb", "0x0a"},   {"udp://127.0.0.1:5000\\r", "0x0d"},
                  {"\\t", "0x09"},     {"x\\u0001", "0x01"},
                  {"\\u001f", "0x1f"}, {"del\\u007f", "0x7f"}};
  for (const auto& c : cases) {
    EXPECT_EQ(problem_of(c.where, "/fine path é -y \\\"q\\\""), "") << c.where;
    for (const auto& control : controls) {
      EXPECT_EQ(problem_of(c.where, control.json),
                c.named + " holds a control character (" + control.code + ")")
          << c.where << " " << control.json;
    }
  }
}

}  // namespace
}  // namespace vx
