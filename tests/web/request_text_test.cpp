#include "web/request_text.h"

#include <gtest/gtest.h>

#include <string>

#include "web/sessions.h"

namespace vx {
namespace {

TEST(AppendPair, JoinsAndLeavesOutPairsThatDoNotFit) {
  std::string text;
  EXPECT_TRUE(append_pair(text, "start", nullptr));
  EXPECT_TRUE(append_pair(text, "a", "1"));
  EXPECT_TRUE(append_pair(text, "b", ""));
  EXPECT_EQ(text, "start&a=1&b=");

  // A 10 KB cookie is left out whole; the session cookie after it still gets in and is found.
  std::string cookies;
  EXPECT_TRUE(append_pair(cookies, "theme", "dark"));
  EXPECT_FALSE(append_pair(cookies, "tracking", std::string(10240, 'z').c_str()));
  EXPECT_TRUE(append_pair(cookies, "vx_session", "0a1b"));
  EXPECT_EQ(cookies, "theme=dark&vx_session=0a1b");
  EXPECT_EQ(cookie_value(cookies, kSessionCookieName), "0a1b");

  std::string full;
  EXPECT_TRUE(append_pair(full, std::string(997, 'n'), "v"));
  EXPECT_EQ(full.size(), kMaxPairText);
  EXPECT_FALSE(append_pair(full, "", nullptr));
  EXPECT_EQ(full.size(), kMaxPairText);
}

TEST(ChannelNumber, Paths) {
  struct Case {
    const char* path;
    int number;
  };
  const Case cases[] = {
      {"/channel3", 3},
      {"/CHANNEL3", 3},
      {"/Channel12x", 12},
      {"/channel007", 7},
      {"/channelx", 0},
      {"/channel", 0},
      {"/chan", 0},
      {"/status", 0},
      {"", 0},
      {"/channel9999", 9999},
      {"/channel10000", 0},
      {"/channel99999999999", 0},
      {"/channel4294967297", 0},
      {"/channel-1", 0},
      {"/channel\xc3\xa9", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(channel_number(c.path), c.number) << c.path;
  EXPECT_EQ(channel_number("/channel" + std::string(1000, '9')), 0);
  // The polled pictures and histories take exactly one channel number, as a path segment.
  struct Numbered {
    const char* path;
    const char* prefix;
    const char* suffix;
    int number;
  };
  const Numbered numbered[] = {
      {"/thumbnails/7.jpg", "/thumbnails/", ".jpg", 7},
      {"/THUMBNAILS/16.JPG", "/thumbnails/", ".jpg", 16},
      {"/thumbnails/999.jpg", "/thumbnails/", ".jpg", 999},
      {"/thumbnails/1000.jpg", "/thumbnails/", ".jpg", 0},
      {"/thumbnails/07.jpg", "/thumbnails/", ".jpg", 0},
      {"/thumbnails/0.jpg", "/thumbnails/", ".jpg", 0},
      {"/thumbnails/.jpg", "/thumbnails/", ".jpg", 0},
      {"/thumbnails/7", "/thumbnails/", ".jpg", 0},
      {"/thumbnails/7.jpgx", "/thumbnails/", ".jpg", 0},
      {"/thumbnails/-7.jpg", "/thumbnails/", ".jpg", 0},
      {"/thumbnails/../7.jpg", "/thumbnails/", ".jpg", 0},
      {"/thumbnails/7/8.jpg", "/thumbnails/", ".jpg", 0},
      {"/history/12", "/history/", "", 12},
      {"/history/12/", "/history/", "", 0},
      {"/history/", "/history/", "", 0},
      {"/history/1%32", "/history/", "", 0},
      {"/historyx/1", "/history/", "", 0},
  };
  for (const Numbered& c : numbered)
    EXPECT_EQ(numbered_path(c.path, c.prefix, c.suffix), c.number) << c.path;
  // A client's copy is named by its entity tag, weak or strong, alone or in a list.
  struct Tags {
    const char* header;
    bool matches;
  };
  const Tags tags[] = {
      {"\"a-1-2\"", true},         {"W/\"a-1-2\"", true},   {"\"x\", \"a-1-2\"", true},
      {" \"a-1-2\" ,\"x\"", true}, {"*", true},               {"\"a-1-3\"", false},
      {"a-1-2", false},             {"\"A-1-2\"", false},     {"", false},
      {",,,", false},               {"\"a-1-2", false},
  };
  for (const Tags& c : tags)
    EXPECT_EQ(entity_tag_matches(c.header, "\"a-1-2\""), c.matches) << c.header;
  EXPECT_EQ(path_without_query("/channel3?start"), "/channel3");
  EXPECT_EQ(path_without_query("/status"), "/status");
  EXPECT_EQ(query_value("a=1&timeout=7&b", "timeout"), "7");
  EXPECT_EQ(query_value("output", "output"), std::nullopt) << "a name without a value";
  EXPECT_EQ(query_value("xoutput=1", "output"), std::nullopt) << "another member's name";
  EXPECT_EQ(query_value("xoutput=1&output=2", "output"), "2");
  EXPECT_EQ(query_value("a=output=3", "output"), std::nullopt) << "inside another's value";
  EXPECT_EQ(query_value("output=", "output"), "");
}

TEST(MultipartBody, Cut) {
  struct Case {
    const char* content_type;
    std::string body;
    std::string part;
  };
  const std::string form =
      "------b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n{\"a\":1}\r\n------b--\r\n";
  const Case cases[] = {
      {"multipart/form-data; boundary=----b", form, "{\"a\":1}"},
      {"MULTIPART/FORM-DATA", form, "{\"a\":1}"},
      {"application/json", form, form},
      {"", form, form},
      {"multipart/form-dat", form, form},
      // Truncated bodies: no blank line keeps everything, no closing boundary keeps the rest.
      {"multipart/form-data", "{\"a\":1}\r\n--b", "{\"a\":1}"},
      {"multipart/form-data", "head\r\n\r\n{\"a\":", "{\"a\":"},
      {"multipart/form-data", "head\r\n\r", "head\r\n\r"},
      {"multipart/form-data", "head\r\n\r\n", ""},
      {"multipart/form-data", "", ""},
      {"multipart/form-data", std::string("a\0b\r\n\r\nc\0d\r\n--", 15), std::string("c\0d", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(multipart_body(c.content_type, c.body), c.part) << c.content_type << c.body;
  }
}

TEST(UploadBody, StaysBelowCapacityAndNeverSkipsAChunk) {
  UploadBody body;
  EXPECT_TRUE(body.append(std::string(kUploadCapacity - 2, 'a')));
  EXPECT_TRUE(body.append("b"));
  EXPECT_FALSE(body.append("c"));  // would reach the capacity
  EXPECT_TRUE(body.truncated());
  EXPECT_FALSE(body.append(""));
  EXPECT_EQ(body.text().size(), kUploadCapacity - 1);

  body.clear();
  EXPECT_TRUE(body.text().empty());
  EXPECT_TRUE(body.append("head"));
  EXPECT_FALSE(body.append(std::string(kUploadCapacity, 'x')));
  EXPECT_FALSE(body.append("tail"));  // would fit, but would leave a hole in the body
  EXPECT_EQ(body.text(), "head");
}

}  // namespace
}  // namespace vx
