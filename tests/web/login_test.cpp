#include "web/login.h"

#include <gtest/gtest.h>

#include <string>

namespace vx {
namespace {

TEST(UrlDecode, FormEncoding) {
  struct Case {
    std::string encoded;
    std::string decoded;
  };
  const Case cases[] = {
      {"a+b", "a b"},
      {"a%2Bb", "a+b"},
      {"a%2bb", "a+b"},
      {"%41%7e", "A~"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%zz%4g", "%zz%4g"},
      {"%%41", "%A"},
      {"x%00y", std::string("x\0y", 3)},
      {"%C3%A9\xff", "\xc3\xa9\xff"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(url_decode(c.encoded), c.decoded) << c.encoded;
  }
}

TEST(UrlDecode, LongerThanTheBoundIsRefusedNotCut) {
  std::string escapes;
  for (int i = 0; i < 999; ++i)
    escapes += "%41";
  EXPECT_EQ(url_decode(escapes), std::string(999, 'A'));
  EXPECT_FALSE(url_decode(escapes + "+"));
  EXPECT_EQ(url_decode("%41%42", 2), "AB");
  EXPECT_FALSE(url_decode("%41%42%43", 2));
}

// What a script's Authorization header gives as the password: a bearer token, or the password
// of basic credentials of any user; nothing for any other form.
TEST(AuthorizationPassword, BearerTokensAndBasicPasswordsOfAnyUser) {
  struct Case {
    std::string header;
    std::optional<std::string> password;
  };
  const Case cases[] = {
      {"", std::nullopt},
      {"Bearer secret", "secret"},
      {"bearer  secret", "secret"},
      {"Bearer ", ""},
      // "prometheus:secret", ":secret", "secret" (no colon)
      {"Basic cHJvbWV0aGV1czpzZWNyZXQ=", "secret"},
      {"Basic OnNlY3JldA==", "secret"},
      {"Basic OnNlY3JldA", "secret"},
      {"Basic c2VjcmV0", std::nullopt},
      // A colon after the first stays part of the password: "u:a:b".
      {"Basic dTphOmI=", "a:b"},
      {"Basic !!!!", std::nullopt},
      {"Basic c", std::nullopt},
      {"Digest secret", std::nullopt},
      {"secret", std::nullopt},
      {"Basic " + std::string(4000, 'A'), std::nullopt},
      {"Bearer " + std::string(1000, 'x'), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(authorization_password(c.header), c.password) << c.header.substr(0, 60);
  }
  EXPECT_EQ(base64_decode("cMOkc3M="), "p\xc3\xa4ss");
}

TEST(ConstantTimeEqual, ComparesWholeTexts) {
  EXPECT_TRUE(constant_time_equal("", ""));
  EXPECT_TRUE(constant_time_equal(std::string("a\0b", 3), std::string("a\0b", 3)));
  EXPECT_FALSE(constant_time_equal("abc", "abd"));
  EXPECT_FALSE(constant_time_equal("abc", "ab"));
  EXPECT_FALSE(constant_time_equal("", std::string(1, '\0')));
}

TEST(LoginForm, OnlyTheFirstFieldCounts) {
  struct Case {
    const char* body;
    std::optional<std::string_view> value;
  };
  const Case cases[] = {
      {"auth=a%2Bb", "a%2Bb"},           {"auth=pw&other=1", "pw"},
      {"other=1&auth=pw", std::nullopt}, {"auth=", ""},
      {"Auth=pw", std::nullopt},         {"", std::nullopt},
      {"&auth=pw", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(login_form_value(c.body), c.value) << c.body;
}

TEST(FormField, ExactNamesOnly) {
  struct Case {
    const char* body;
    const char* name;
    std::optional<std::string_view> value;
  };
  const Case cases[] = {
      {"token=ab&auth=p%26w&confirm=p%26w", "auth", "p%26w"},
      {"token=ab&auth=pw", "token", "ab"},
      {"xauth=1&auth=2", "auth", "2"},
      {"auth", "auth", std::nullopt},
      {"auth=", "auth", ""},
      {"a=1&&auth=3&", "auth", "3"},
      {"", "auth", std::nullopt},
      {"auth2=1", "auth", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(form_field(c.body, c.name), c.value) << c.body << " / " << c.name;
}

}  // namespace
}  // namespace vx
