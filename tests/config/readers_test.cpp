#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "config/document.h"
#include "config/json.h"

namespace vx {
namespace {

JsonPtr parse(const std::string& text) {
  JsonPtr tree = json_parse(text);
  EXPECT_TRUE(tree) << text;
  return tree;
}

// Reads key "v" of {"v": <value>}; "missing" leaves the key out.
struct IntCase {
  const char* value;
  std::int32_t expected;
};

TEST(ConfigReaders, IntegerRuleOnEveryType) {
  const IntCase cases[] = {
      {"42", 42},
      {"42.9", 42},
      {"-42.9", -42},
      {"0", 0},
      {"1e20", INT_MAX},
      {"-1e20", INT_MIN},
      {"1e999", INT_MAX},
      {"2147483648", INT_MAX},
      {"\"8080\"", 8080},
      {"\"  12abc\"", 12},
      {"\"-7\"", -7},
      {"\"+5\"", 5},
      {"\"\"", 0},
      {"\"abc\"", 0},
      {"\"NaN\"", 0},
      {"\"1e3\"", 1},
      {"\"99999999999\"", INT_MAX},
      {"\"-99999999999\"", INT_MIN},
      {"\"\\u00e9\\u0001 9\"", 0},
      {"true", 1},
      {"false", 0},
      {"null", 9527},
      {"[]", 9527},
      {"[5]", 9527},
      {"{}", 9527},
      {"{\"v\": 3}", 9527},
  };
  for (const IntCase& c : cases) {
    const JsonPtr object = parse(std::string("{\"v\": ") + c.value + "}");
    EXPECT_EQ(config_int(object.get(), "v", 9527), c.expected) << c.value;
  }
  const JsonPtr empty = parse("{}");
  EXPECT_EQ(config_int(empty.get(), "httpPort"), 0);
  EXPECT_EQ(config_int(empty.get(), "httpPort", 9527), 9527);
  const JsonPtr array = parse("[{\"v\": 1}]");
  EXPECT_EQ(config_int(array.get(), "v", 4), 4);
  EXPECT_EQ(config_int(nullptr, "v", 4), 4);
  EXPECT_EQ(config_int(parse("{\"V\": 1}").get(), "v"), 0);  // keys are case-sensitive
}

TEST(ConfigReaders, BooleanIsOnlyTheLiteralTrue) {
  const JsonPtr object =
      parse(R"({"t": true, "f": false, "one": 1, "text": "true", "null": null, "obj": {}})");
  EXPECT_TRUE(config_bool(object.get(), "t"));
  for (const char* key : {"f", "one", "text", "null", "obj", "missing"}) {
    EXPECT_FALSE(config_bool(object.get(), key)) << key;
  }
  EXPECT_FALSE(config_bool(nullptr, "t"));
}

TEST(ConfigReaders, StringAndFloatRules) {
  const JsonPtr object = parse(
      "{\"s\": \"udp://h:1\", \"n\": 5, \"b\": true, \"z\": null, \"raw\": \"\xff\xfe\x80\","
      " \"rate\": 29.97, \"int\": 25, \"rateText\": \"25\", \"huge\": 1e999, \"flag\": true}");
  EXPECT_STREQ(config_string(object.get(), "s"), "udp://h:1");
  for (const char* key : {"n", "b", "z", "missing"}) {
    EXPECT_STREQ(config_string(object.get(), key), "") << key;
  }
  EXPECT_STREQ(config_string(object.get(), "raw"), "\xff\xfe\x80");  // bytes kept as they are
  EXPECT_STREQ(config_string(nullptr, "s"), "");

  EXPECT_DOUBLE_EQ(config_float(object.get(), "rate"), 29.97);
  EXPECT_DOUBLE_EQ(config_float(object.get(), "int"), 25.0);
  for (const char* key : {"rateText", "huge", "flag", "missing", "s"}) {
    EXPECT_EQ(config_float(object.get(), key), 0.0) << key;
  }
}

TEST(ConfigReaders, ObjectAndArrayAccessCheckTheType) {
  const JsonPtr object = parse(R"({"o": {"k": 1}, "a": [1], "s": "x"})");
  EXPECT_NE(config_object(object.get(), "o"), nullptr);
  EXPECT_EQ(config_object(object.get(), "a"), nullptr);
  EXPECT_NE(config_array(object.get(), "a"), nullptr);
  EXPECT_EQ(config_array(object.get(), "o"), nullptr);
  EXPECT_EQ(config_object(object.get(), "s"), nullptr);
  EXPECT_EQ(config_array(config_object(object.get(), "missing"), "a"), nullptr);
}

std::string compact(const cJSON* item) {
  char* printed = cJSON_PrintUnformatted(item);
  std::string text = printed != nullptr ? printed : "";
  cJSON_free(printed);
  return text;
}

TEST(ConfigWriters, UpdateInPlaceOrAppendWithTheRightType) {
  const JsonPtr object = parse(R"({"log": 0, "httpPort": "8080", "memo": "a"})");
  EXPECT_TRUE(config_set_int(object.get(), "httpPort", 9000));
  EXPECT_TRUE(config_set_string(object.get(), "log", "x\"y"));
  EXPECT_TRUE(config_set_bool(object.get(), "sslEnable", true));
  EXPECT_TRUE(config_set_number(object.get(), "frameRate", 29.97));
  EXPECT_TRUE(config_set_item(object.get(), "memo", JsonPtr(cJSON_CreateArray())));
  EXPECT_EQ(compact(object.get()),
            R"({"log":"x\"y","httpPort":9000,"memo":[],"sslEnable":true,"frameRate":29.97})");
  EXPECT_EQ(config_int(object.get(), "httpPort"), 9000);
  EXPECT_DOUBLE_EQ(config_float(object.get(), "frameRate"), 29.97);
}

TEST(ConfigWriters, RefuseWhatIsNotAnObject) {
  const JsonPtr array = parse("[1, 2]");
  EXPECT_FALSE(config_set_int(array.get(), "k", 1));
  EXPECT_FALSE(config_set_string(nullptr, "k", "v"));
  EXPECT_FALSE(config_set_item(array.get(), "k", JsonPtr(cJSON_CreateNull())));
  EXPECT_EQ(compact(array.get()), "[1,2]");
}

TEST(JsonText, ParseAcceptsOneValueAndPrintKeepsOrder) {
  EXPECT_TRUE(json_parse(" {\"b\": 1, \"a\": 2} \n"));
  for (const char* bad : {"", "   ", "{", "{} {}", "{}x", "[1,]", "NaN", "{\"a\": nan}"}) {
    EXPECT_FALSE(json_parse(bad)) << bad;
  }
  const std::string with_nul("{}\0{}", 5);
  EXPECT_FALSE(json_parse(with_nul));
  const JsonPtr tree = json_parse(R"({"b": 1, "a": [true, "x"]})");
  EXPECT_EQ(json_print(tree.get()).value_or(""), "{\n\t\"b\":\t1,\n\t\"a\":\t[true, \"x\"]\n}");
  EXPECT_FALSE(json_print(nullptr).has_value());
}

}  // namespace
}  // namespace vx
