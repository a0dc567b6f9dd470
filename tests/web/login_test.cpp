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

TEST(AuthCheck, CookieTexts) {
  struct Case {
    std::string cookies;
    std::string password;
    bool passes;
  };
  const Case cases[] = {
      {"", "", true},
      {"auth=anything", "", true},
      {"", "secret", false},
      {"auth=", "secret", false},
      {"auth=secret", "secret", true},
      {"auth=Secret", "secret", false},
      {"auth=secre", "secret", false},
      {"auth=secrets", "secret", false},
      {"theme=dark&auth=secret", "secret", true},
      {"theme=dark; auth=secret", "secret", true},
      {"xauth=secret", "secret", false},
      // The first auth token decides.
      {"auth=wrong&auth=secret", "secret", false},
      // "+" is a space; a plus sign in the password arrives as %2B.
      {"auth=a%2Bb", "a+b", true},
      {"auth=a+b", "a+b", false},
      {"auth=a+b", "a b", true},
      {"auth=p%C3%A4ss", "p\xc3\xa4ss", true},
      // A NUL byte is compared like any other, so it never ends the password early.
      {"auth=secret%00garbage", "secret", false},
      {"auth=" + std::string(5000, 'a'), std::string(999, 'a'), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(auth_check(c.cookies, c.password), c.passes) << c.cookies.substr(0, 60);
  }
}

TEST(AuthorizationCheck, BearerTokensAndBasicPasswordsOfAnyUser) {
  struct Case {
    std::string header;
    std::string password;
    bool passes;
  };
  const Case cases[] = {
      {"", "", true},
      {"", "secret", false},
      {"Bearer secret", "secret", true},
      {"bearer  secret", "secret", true},
      {"Bearer Secret", "secret", false},
      {"Bearer secrets", "secret", false},
      // "prometheus:secret", ":secret", "prometheus:wrong", "secret" (no colon)
      {"Basic cHJvbWV0aGV1czpzZWNyZXQ=", "secret", true},
      {"Basic OnNlY3JldA==", "secret", true},
      {"Basic OnNlY3JldA", "secret", true},
      {"Basic cHJvbWV0aGV1czp3cm9uZw==", "secret", false},
      {"Basic c2VjcmV0", "secret", false},
      // A colon inside the password stays part of it: "u:a:b".
      {"Basic dTphOmI=", "a:b", true},
      {"Basic !!!!", "secret", false},
      {"Basic c", "secret", false},
      {"Digest secret", "secret", false},
      {"secret", "secret", false},
      {"Basic " + std::string(4000, 'A'), "secret", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(authorization_check(c.header, c.password), c.passes) << c.header.substr(0, 60);
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

TEST(LoginSetCookie, BoundedAndHeaderSafe) {
  EXPECT_EQ(login_set_cookie("a%2Bb+c"), "auth=a%2Bb+c");
  EXPECT_EQ(login_set_cookie(std::string(94, 'x'))->size(), 99u);
  const std::string refused[] = {
      std::string(95, 'x'),
      std::string(10240, 'x'),
      "pw\r\nSet-Cookie: x=1",
      "pw; Domain=evil",
      "p w",
      std::string("p\0w", 3),
      "p\xc3\xa4ss",
      "\"pw\"",
      "a,b",
  };
  for (const std::string& value : refused)
    EXPECT_FALSE(login_set_cookie(value)) << value.size();
}

TEST(PasswordSetCookie, EveryPasswordComesBackThroughTheCookieCheck) {
  EXPECT_EQ(password_set_cookie("p%+ w"), "auth=p%25%2B%20w");
  for (const std::string password : {"p%+ w", "a;b&c=d", "p\xc3\xa4ss\r\n", "~._-Az09"}) {
    EXPECT_TRUE(auth_check(password_set_cookie(password), password)) << password;
  }
}

}  // namespace
}  // namespace vx
