// Per-connection address rules of the administration server: the "ipACL" rule text, read as
// pairs of an action word and an address, decides whether an IPv4 client may connect at all. A
// rule text that cannot be read whole is refused when it is set, and where one is found all the
// same (a hand-edited file) it admits this machine only: a rule is never dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

// One pair of the rule text. acl_parse() leaves out pairs whose action is neither "allow" nor
// "deny" or whose address cannot be read; acl_problem() names them.
struct AclRule {
  bool allow = true;
  std::uint32_t first = 0;  // host order
  // Addresses covered after `first`, so first..first+span; wider than 32 bits because /0 spans
  // 2^32 - 1 addresses after its start.
  std::uint64_t span = 0;
};

// A dotted IPv4 address of four decimal parts 0..255, in host order; anything else is nullopt.
std::optional<std::uint32_t> parse_ipv4(std::string_view text);

std::vector<AclRule> acl_parse(std::string_view rule_text);

// The first pair that cannot be read, named for the operator ("address rule 2 (\"deny
// 10.0.0.0/33\"): ..."), or "" when every pair can: an action word other than "allow" or
// "deny", an address that is neither "all" nor a dotted IPv4 address with an optional prefix
// length from 0 to 32, or a last action word without an address.
std::string acl_problem(std::string_view rule_text);

// True when `client` (host order) may connect. No rules allow everyone; otherwise the last
// matching rule decides, and allow stands when none matches.
bool acl_evaluate(const std::vector<AclRule>& rules, std::uint32_t client);

// 127.0.0.0/8.
bool is_loopback(std::uint32_t client);

// The verdict for a client under the rule text; a text with a pair that cannot be read admits
// loopback clients only, so that the operator at the machine can mend it and nobody else gets in
// by a rule that was meant to keep them out.
bool acl_check(std::uint32_t client, std::string_view rule_text);

}  // namespace vx
