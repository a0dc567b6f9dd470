// The JSON helpers the dialog records share: option arrays, objects made on demand, byte cuts.
#include "settings/json_fields.h"

#include <gtest/gtest.h>

#include "config/json.h"

namespace vx {
namespace {

TEST(JsonFields, ArraysObjectsAndCuts) {
  JsonPtr root = json_parse(R"({"video": 3, "options": ["a", 1, "b", null], "keep": 1})");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(string_array(root.get(), "options"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(string_array(root.get(), "missing").empty());

  cJSON* video = object_member(root.get(), "video");  // a number is replaced by an object
  ASSERT_TRUE(cJSON_IsObject(video));
  EXPECT_TRUE(set_string_array(video, "options", {"-x 1", "-y 2"}));
  EXPECT_EQ(string_array(object_member(root.get(), "video"), "options"),
            (std::vector<std::string>{"-x 1", "-y 2"}));
  EXPECT_EQ(root->child->string, std::string("video")) << "the key keeps its place";

  EXPECT_EQ(cut_to_bytes("abc", 5), "abc");
  EXPECT_EQ(cut_to_bytes("ab\xc3\xa4", 3), "ab") << "never half a character";
  EXPECT_EQ(cut_to_bytes("a\xe2\x82\xac"
                         "b",
                         4),
            "a\xe2\x82\xac");

  std::vector<std::string> options = {"-hls_time 6", "", "-x 1", "-start_number 3"};
  remove_options(options, {"-hls_time ", "-start_number "});
  EXPECT_EQ(options, (std::vector<std::string>{"-x 1"}));
}

}  // namespace
}  // namespace vx
