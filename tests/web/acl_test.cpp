#include "web/acl.h"

#include <gtest/gtest.h>

#include <string>

namespace vx {
namespace {

std::uint32_t ip(const char* text) {
  return parse_ipv4(text).value();
}

struct AclCase {
  const char* rules;
  const char* client;
  bool allowed;
};

TEST(AclCheck, RuleTexts) {
  const AclCase cases[] = {
      {"", "8.8.8.8", true},
      {" \r\n \n", "8.8.8.8", true},
      {"allow all", "8.8.8.8", true},
      {"deny all", "127.0.0.1", false},
      {"DENY ALL", "127.0.0.1", false},
      {"deny all\nallow 127.0.0.1", "127.0.0.1", true},
      {"deny all\nallow 127.0.0.1", "127.0.0.2", false},
      {"deny all\r\nallow 192.168.1.0/24", "192.168.1.255", true},
      {"deny all\r\nallow 192.168.1.0/24", "192.168.2.0", false},
      {"allow all\ndeny 10.1.2.3", "10.1.2.3", false},
      {"allow all\ndeny 10.1.2.3", "10.1.2.4", true},
      // The written address is not masked.
      {"deny 10.0.0.5/24", "10.0.1.4", false},
      {"deny 10.0.0.5/24", "10.0.0.4", true},
      {"deny 10.0.0.5/24", "10.0.1.5", true},
      {"deny 0.0.0.0/0", "255.255.255.255", false},
      {"deny 10.0.0.5/0", "10.0.0.4", false},
      {"deny 10.0.0.5/32", "10.0.0.5", false},
      // A range past 255.255.255.255 wraps around to 0.0.0.0.
      {"deny 255.255.255.0/16", "255.255.255.255", false},
      {"deny 255.255.255.0/16", "0.0.254.255", false},
      {"deny 255.255.255.0/16", "0.0.255.0", true},
      {"deny 255.255.255.0/16", "255.255.254.255", true},
      // The last matching pair decides.
      {"deny 1.2.3.4 allow 1.2.3.0/24", "1.2.3.4", true},
      {"allow 1.2.3.0/24 deny 1.2.3.4", "1.2.3.4", false},
  };
  for (const AclCase& c : cases) {
    EXPECT_EQ(acl_check(ip(c.client), c.rules), c.allowed) << c.rules << " / " << c.client;
  }
}

// A rule text with a pair that cannot be read is named whole for the operator, and where it is
// found all the same it admits this machine only: a rule meant to keep someone out never lets
// them in by being dropped.
TEST(AclCheck, UnreadableRulesAreNamedAndAdmitLoopbackOnly) {
  const char* addresses[] = {
      "10.0.0",  "10.0.0.0.1",     "256.0.0.1",    "10.0.0.1/33", "10.0.0.1/",   "10.0.0.1/-1",
      "10..0.1", "10.0.0.1x",      "0x0a.0.0.1",   "1000.0.0.1",  "/8",          "10.0.0.1/8/8",
      "allx",    "\xc3\xa9.1.1.1", "10.0.0.1/999", "-1.0.0.0",    "99999999999", "10.0.0.01111",
  };
  for (const char* address : addresses) {
    const std::string rules = std::string("allow all\ndeny ") + address;
    EXPECT_EQ(acl_problem(rules), "address rule 2 (\"deny " + std::string(address) + "\"): \"" +
                                      address +
                                      "\" is neither \"all\" nor an IPv4 address (a.b.c.d, "
                                      "optionally /0 to /32)");
    EXPECT_FALSE(acl_check(ip("10.0.0.1"), rules)) << address;
    EXPECT_TRUE(acl_check(ip("127.0.0.1"), rules)) << address;
    EXPECT_TRUE(acl_check(ip("127.9.9.9"), rules)) << address;
  }
  struct Case {
    const char* rules;
    const char* problem;
    bool remote_admitted;
  };
  const Case cases[] = {
      {"", "", true},
      {"allow all\r\ndeny 10.0.0.0/8", "", false},
      {"deny 10.0.0.0/8 allow all", "", true},
      {"allow", "address rule 1 (\"allow\") has no address", false},
      {"allow all deny", "address rule 2 (\"deny\") has no address", false},
      {"allow all permit all",
       "address rule 2 (\"permit all\"): \"permit\" is neither \"allow\" nor \"deny\"", false},
      // Tabs are not separators: "allow\tall" is one lone word.
      {"allow\tall", "address rule 1 (\"allow\tall\") has no address", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(acl_problem(c.rules), c.problem) << c.rules;
    EXPECT_EQ(acl_check(ip("10.0.0.1"), c.rules), c.remote_admitted) << c.rules;
  }
}

TEST(AclCheck, EveryPrefixCoversExactlyItsSize) {
  for (std::uint32_t n = 0; n <= 32; ++n) {
    const auto rules = acl_parse("deny 255.255.255.250/" + std::to_string(n));
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0].span + 1, std::uint64_t{1} << (32 - n)) << n;
    const std::uint32_t last = static_cast<std::uint32_t>(rules[0].first + rules[0].span);
    EXPECT_FALSE(acl_evaluate(rules, last)) << n;
    if (n > 0) {
      EXPECT_TRUE(acl_evaluate(rules, last + 1)) << n;
    }
  }
}

}  // namespace
}  // namespace vx
