// Sessions and verified script credentials: their life (idle expiry, logout, a new password),
// the tokens and cookies they are carried in, and the per-address guess throttle.
#include "web/sessions.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "web/login_throttle.h"

namespace vx {
namespace {

TEST(Sessions, LifeOfASession) {
  SessionStore store;
  const std::string token = store.create("hash-A", 1000);
  EXPECT_EQ(token.size(), 64u) << "256 random bits";
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);

  struct Step {
    const char* what;
    std::string token;
    const char* stamp;
    std::int64_t now;
    bool live;
  };
  const Step steps[] = {
      {"right away", token, "hash-A", 1000, true},
      {"a token one letter off", token.substr(0, 63) + (token[63] == 'a' ? "b" : "a"), "hash-A",
       1001, false},
      {"no token", "", "hash-A", 1001, false},
      {"idle as long as allowed", token, "hash-A", 1000 + kSessionIdleSeconds, true},
      // Each use starts the idle time again.
      {"used again", token, "hash-A", 1000 + 2 * kSessionIdleSeconds, true},
      {"idle past the limit", token, "hash-A", 1002 + 3 * kSessionIdleSeconds, false},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(store.check(step.token, step.stamp, step.now), step.live) << step.what;
  }
  EXPECT_EQ(store.size(), 0u) << "an expired session is gone, not just refused";

  // A new password ends every session made before it, even when the old one comes back.
  const std::string before = store.create("hash-A", 5000);
  EXPECT_FALSE(store.check(before, "hash-B", 5001));
  EXPECT_FALSE(store.check(before, "hash-A", 5002));

  // Logout ends only that session.
  const std::string mine = store.create("hash-B", 6000);
  const std::string yours = store.create("hash-B", 6000);
  EXPECT_NE(mine, yours);
  store.end(mine);
  store.end("not a token");
  EXPECT_FALSE(store.check(mine, "hash-B", 6001));
  EXPECT_TRUE(store.check(yours, "hash-B", 6001));
}

TEST(Sessions, TheTableIsBoundedByEndingTheLongestIdle) {
  SessionStore store;
  const std::string first = store.create("h", 0);
  const std::string busy = store.create("h", 1);
  std::set<std::string> tokens;
  for (std::size_t i = 2; i < kMaxSessions; ++i)
    tokens.insert(store.create("h", 10));
  EXPECT_EQ(tokens.size(), kMaxSessions - 2) << "every token differs";
  EXPECT_TRUE(store.check(busy, "h", 20));  // used lately: the first one is now the idlest
  const std::string newest = store.create("h", 30);
  EXPECT_EQ(store.size(), kMaxSessions);
  EXPECT_FALSE(store.check(first, "h", 31));
  EXPECT_TRUE(store.check(busy, "h", 31));
  EXPECT_TRUE(store.check(newest, "h", 31));
}

TEST(Sessions, VerifiedCredentialsAreBoundToThePasswordInForce) {
  CredentialCache cache;
  EXPECT_FALSE(cache.known("secret", "hash-A"));
  cache.remember("secret", "hash-A");
  EXPECT_TRUE(cache.known("secret", "hash-A"));
  EXPECT_FALSE(cache.known("Secret", "hash-A"));
  EXPECT_FALSE(cache.known("secret", "hash-B")) << "a new password needs a new check";
  cache.remember("other", "hash-B");
  EXPECT_FALSE(cache.known("secret", "hash-A")) << "credentials of an earlier password go";
  for (int i = 0; i < 40; ++i)
    cache.remember("p" + std::to_string(i), "hash-B");
  EXPECT_TRUE(cache.known("p39", "hash-B"));
}

TEST(Sessions, CookieTextsAndSetCookie) {
  struct Case {
    const char* cookies;
    const char* value;
  };
  const Case cases[] = {
      {"vx_session=abc", "abc"},
      {"theme=dark&vx_session=abc", "abc"},
      {"theme=dark; vx_session=abc", "abc"},
      // A ";" alone ends a value too: what follows it is another cookie, never part of ours.
      {"theme=dark;vx_session=abc", "abc"},
      {"vx_session=abc;Path=/x", "abc"},
      {"xvx_session=abc", ""},
      {"vx_sessionx=abc", ""},
      {"vx_session=first&vx_session=second", "first"},
      {"auth=password", ""},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(cookie_value(c.cookies, kSessionCookieName), c.value) << c.cookies;

  EXPECT_EQ(session_set_cookie("ab12", false),
            "vx_session=ab12; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_EQ(session_set_cookie("ab12", true),
            "vx_session=ab12; Path=/; HttpOnly; SameSite=Strict; Secure");
  EXPECT_EQ(session_set_cookie("", false),
            "vx_session=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
}

// One address guessing from t = 0, one attempt after the other as soon as it may: the free
// failures, then lock-outs doubling to a minute; a right password starts it afresh.
TEST(LoginThrottle, WrongPasswordsLockOnlyTheirAddress) {
  LoginThrottle throttle;
  constexpr std::uint32_t kGuesser = 0x7F000002;
  constexpr std::uint32_t kOperator = 0x7F000001;
  std::vector<std::int64_t> lockouts;
  std::int64_t now = 0;
  int attempts = 0;
  while (now < 10 * 60) {
    const LoginThrottle::Admission admission = throttle.admit(kGuesser, now);
    if (!admission.allowed) {
      EXPECT_GE(admission.retry_after, 1);
      // Meanwhile the operator at another address is let in at once.
      EXPECT_TRUE(throttle.admit(kOperator, now).allowed);
      throttle.succeeded(kOperator);
      now += admission.retry_after;
      continue;
    }
    ++attempts;
    if (const std::int64_t seconds = throttle.failed(kGuesser, now)) lockouts.push_back(seconds);
  }
  const std::vector<std::int64_t> first = {1, 2, 4, 8, 16, 32, 60, 60};
  ASSERT_GE(lockouts.size(), first.size());
  EXPECT_EQ(std::vector<std::int64_t>(lockouts.begin(), lockouts.begin() + 8), first);
  // 5 free, then 6 in the first 63 s, then one a minute.
  EXPECT_LE(attempts, 5 + 6 + 10);

  // An hour of quiet forgives.
  const std::int64_t later = now + kLongestLockoutSeconds + kFailureMemorySeconds + 1;
  EXPECT_TRUE(throttle.admit(kGuesser, later).allowed);
  EXPECT_EQ(throttle.failed(kGuesser, later), 0) << "counting starts again";
}

TEST(LoginThrottle, ParallelGuessesGetNoMoreTriesThanSerialOnes) {
  LoginThrottle throttle;
  constexpr std::uint32_t kGuesser = 0x0A000001;
  int admitted = 0;
  for (int i = 0; i < 50; ++i)
    admitted += throttle.admit(kGuesser, 0).allowed ? 1 : 0;
  EXPECT_EQ(admitted, kFreeLoginFailures) << "in flight at once, before any is decided";
  for (int i = 0; i < admitted; ++i)
    throttle.failed(kGuesser, 0);
  EXPECT_FALSE(throttle.admit(kGuesser, 0).allowed);
  const LoginThrottle::Admission after = throttle.admit(kGuesser, 1);
  ASSERT_TRUE(after.allowed);
  EXPECT_FALSE(throttle.admit(kGuesser, 1).allowed) << "past the free ones, one at a time";
  throttle.succeeded(kGuesser);
  EXPECT_TRUE(throttle.admit(kGuesser, 1).allowed) << "a right password clears the address";
}

TEST(LoginThrottle, TheTableStaysBoundedUnderManyAddresses) {
  LoginThrottle throttle;
  for (std::uint32_t address = 0; address < 3 * kMaxThrottledAddresses; ++address) {
    if (throttle.admit(address, 100).allowed) throttle.failed(address, 100);
  }
  EXPECT_LE(throttle.size(), kMaxThrottledAddresses + 1);
}

}  // namespace
}  // namespace vx
