// Per-connection address rules of the administration server: the "ipACL" rule text, read as
// pairs of an action word and an address, decides whether an IPv4 client may connect at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vx {

// One pair of the rule text that can change the verdict. Pairs whose action is neither "allow"
// nor "deny", or whose address cannot be read, never change it and are left out.
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

// True when `client` (host order) may connect. No rules allow everyone; otherwise the last
// matching rule decides, and allow stands when none matches.
bool acl_evaluate(const std::vector<AclRule>& rules, std::uint32_t client);

inline bool acl_check(std::uint32_t client, std::string_view rule_text) {
  return acl_evaluate(acl_parse(rule_text), client);
}

}  // namespace vx
