#include "devices/device_text.h"

#include <gtest/gtest.h>

#include <string>

#include "config/json.h"

namespace vx {
namespace {

const std::string kBad = "\xEF\xBF\xBD";

TEST(DeviceText, KeepsValidUtf8AndReplacesEveryMalformedByte) {
  struct Case {
    std::string raw;
    std::string clean;
  };
  const Case cases[] = {
      {"DeckLink 8K Pro (1)", "DeckLink 8K Pro (1)"},
      {"Caméra \xE2\x82\xAC \xF0\x9F\x8E\xA5", "Caméra \xE2\x82\xAC \xF0\x9F\x8E\xA5"},
      {"a\xC0\x80z", "a" + kBad + kBad + "z"},          // overlong NUL
      {"\xED\xA0\x80", kBad + kBad + kBad},             // UTF-16 surrogate
      {"\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},  // above U+10FFFF
      {"cut \xE2\x82", "cut " + kBad + kBad},           // sequence cut short at the end
      {"\xFF\xFE", kBad + kBad},
      {std::string("a\0b", 3), "a" + kBad + "b"},  // a NUL would end the name in C code
  };
  for (const Case& c : cases)
    EXPECT_EQ(device_text(c.raw, 999), c.clean) << c.raw;
}

TEST(DeviceText, LimitCountsCharactersNotBytes) {
  EXPECT_EQ(device_text("ééé", 2), "éé");
  EXPECT_EQ(device_text(std::string(1500, 'x'), 999), std::string(999, 'x'));
  EXPECT_EQ(device_text("\xFF\xFF\xFF", 1), kBad);
}

TEST(DeviceText, JsonLiteralParsesBackToTheCleanText) {
  const std::string raw = std::string("\"q\" \\ \n\t\x01 \xC3") + "\xA9\xFF";
  const std::string literal = device_text_json(raw, 999);
  const JsonPtr parsed = json_parse(literal);
  ASSERT_TRUE(parsed) << literal;
  ASSERT_TRUE(cJSON_IsString(parsed.get()));
  EXPECT_EQ(std::string(parsed->valuestring), device_text(raw, 999));
}

}  // namespace
}  // namespace vx
