// The login password as the configuration keeps it: which texts keep, set or remove the hash,
// what leaves the program in its place, and the hash itself.
#include "config/login_password.h"

#include <gtest/gtest.h>

#include <string>

#include "config/document.h"
#include "config/json.h"

namespace vx {
namespace {

const std::string& hash_of_secret() {
  static const std::string hash = login_password_hash("secret");
  return hash;
}

TEST(LoginPassword, HashesAreSaltedSlowAndMatchOnlyTheirPassword) {
  const std::string& hash = hash_of_secret();
  EXPECT_TRUE(hash.starts_with("$argon2id$")) << hash;
  EXPECT_NE(login_password_hash("secret"), hash) << "a fresh salt every time";
  EXPECT_TRUE(login_password_matches(hash, "secret"));
  for (const std::string& wrong :
       {std::string("Secret"), std::string("secret "), std::string(), std::string("secret\0", 7)}) {
    EXPECT_FALSE(login_password_matches(hash, wrong)) << wrong;
  }
  for (const std::string& unreadable :
       {std::string(), std::string("secret"), std::string("$argon2id$v=19$garbage"),
        std::string(200, '$')}) {
    EXPECT_FALSE(login_password_matches(unreadable, "secret")) << unreadable;
  }
  const std::string unicode = login_password_hash("P\xc3\xa4ss\xe2\x82\xac");
  EXPECT_TRUE(login_password_matches(unicode, "P\xc3\xa4ss\xe2\x82\xac"));
}

// "loginPass" of a posted or loaded "global" object against the hash in force before it.
TEST(LoginPassword, SettleKeepsSetsOrRemovesTheHash) {
  const std::string placeholder(kStoredPasswordPlaceholder);
  struct Case {
    const char* what;
    std::string current;  // the hash in force before
    std::string global;   // the object as posted
    LoginSettle settled;
    const char* matches;  // a password the hash after must match; nullptr: no hash after
  };
  const Case cases[] = {
      {"no loginPass keeps", hash_of_secret(), R"({"log": 1})", LoginSettle::kept, "secret"},
      {"the placeholder keeps", hash_of_secret(), R"({"loginPass": ")" + placeholder + R"("})",
       LoginSettle::kept, "secret"},
      {"a number keeps", hash_of_secret(), R"({"loginPass": 7})", LoginSettle::kept, "secret"},
      {"the same password keeps", hash_of_secret(), R"({"loginPass": "secret"})", LoginSettle::kept,
       "secret"},
      {"a posted hash never counts", hash_of_secret(),
       R"({"loginHash": "$argon2id$v=19$m=8,t=1,p=1$AAAA$AAAA"})", LoginSettle::kept, "secret"},
      {"another text replaces", hash_of_secret(), R"({"loginPass": "n3w"})", LoginSettle::changed,
       "n3w"},
      {"empty removes", hash_of_secret(), R"({"loginPass": ""})", LoginSettle::changed, nullptr},
      {"first password", "", R"({"loginPass": "first"})", LoginSettle::changed, "first"},
      {"none stays none", "", R"({"loginPass": ""})", LoginSettle::kept, nullptr},
      {"the placeholder with none set", "", R"({"loginPass": ")" + placeholder + R"("})",
       LoginSettle::kept, nullptr},
  };
  for (const Case& c : cases) {
    JsonPtr global = json_parse(c.global);
    ASSERT_TRUE(global) << c.what;
    EXPECT_EQ(login_password_settle(global.get(), c.current), c.settled) << c.what;
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(global.get(), kLoginPassKey), nullptr) << c.what;
    const std::string after = config_login_hash(global.get());
    if (c.matches == nullptr) {
      EXPECT_EQ(after, "") << c.what;
      EXPECT_FALSE(login_password_is_set(global.get())) << c.what;
    } else {
      EXPECT_TRUE(login_password_matches(after, c.matches)) << c.what;
      EXPECT_EQ(after == c.current, c.settled == LoginSettle::kept) << c.what;
    }
  }
}

TEST(LoginPassword, WhatLeavesTheProgramHoldsNoHash) {
  JsonPtr document =
      json_parse(R"({"global": {"httpPort": 9527, "loginPass": "x"}, "channels": []})");
  cJSON* global = config_object(document.get(), "global");
  EXPECT_EQ(login_password_store(global, "typed"), LoginSettle::changed);
  EXPECT_TRUE(login_password_is_set(global));
  EXPECT_EQ(login_password_shown(global), kStoredPasswordPlaceholder);

  const JsonPtr shown = config_public_copy(document.get());
  const std::string printed = json_print(shown.get()).value();
  EXPECT_EQ(printed.find("argon2"), std::string::npos) << printed;
  EXPECT_EQ(printed.find(kLoginHashKey), std::string::npos) << printed;
  EXPECT_STREQ(config_string(config_object(shown.get(), "global"), kLoginPassKey),
               std::string(kStoredPasswordPlaceholder).c_str());
  EXPECT_TRUE(login_password_is_set(global)) << "the document itself keeps its hash";

  // Sent back as it was shown, the copy keeps the password.
  cJSON* returned = config_object(shown.get(), "global");
  EXPECT_EQ(login_password_settle(returned, config_login_hash(global)), LoginSettle::kept);
  EXPECT_EQ(config_login_hash(returned), config_login_hash(global));

  EXPECT_EQ(login_password_store(global, ""), LoginSettle::changed);
  EXPECT_STREQ(config_string(config_object(config_public_copy(document.get()).get(), "global"),
                             kLoginPassKey),
               "");

  // A clear text that could not be hashed keeps every login closed, and is never handed out.
  JsonPtr waiting = json_parse(R"({"global": {"loginPass": "still clear"}})");
  EXPECT_TRUE(login_password_is_set(config_object(waiting.get(), "global")));
  EXPECT_EQ(json_print(config_public_copy(waiting.get()).get())->find("still clear"),
            std::string::npos);
}

}  // namespace
}  // namespace vx
