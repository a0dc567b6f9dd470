#include "web/acl.h"

#include "vocabulary/ascii.h"

namespace vx {
namespace {

constexpr std::string_view kSeparators = " \r\n";

std::vector<std::string_view> split_tokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = text.find_first_not_of(kSeparators, pos);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(text.find_first_of(kSeparators, start), text.size());
    tokens.push_back(text.substr(start, end - start));
    pos = end;
  }
  return tokens;
}

// Reads 1..max_digits decimal digits that make a value no greater than `limit`.
std::optional<std::uint32_t> parse_small_decimal(std::string_view text, std::size_t max_digits,
                                                 std::uint32_t limit) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > limit) return std::nullopt;
  return value;
}

// The written address is not masked: the range starts at it and covers 2^(32-n) addresses,
// wrapping past 255.255.255.255, so every prefix length covers exactly that many addresses.
std::optional<AclRule> parse_address(std::string_view text, bool allow) {
  if (iequals(text, "all")) return AclRule{allow, 0, 0xFFFFFFFFull};
  std::uint32_t prefix = 32;
  const std::size_t slash = text.find('/');
  if (slash != std::string_view::npos) {
    const auto length = parse_small_decimal(text.substr(slash + 1), 2, 32);
    if (!length) return std::nullopt;
    prefix = *length;
    text = text.substr(0, slash);
  }
  const auto first = parse_ipv4(text);
  if (!first) return std::nullopt;
  return AclRule{allow, *first, (std::uint64_t{1} << (32 - prefix)) - 1};
}

}  // namespace

std::optional<std::uint32_t> parse_ipv4(std::string_view text) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const auto value = parse_small_decimal(text.substr(0, dot), 3, 255);
    if (!value) return std::nullopt;
    address = (address << 8) | *value;
    text = text.substr(std::min(dot + 1, text.size()));
  }
  return address;
}

std::string acl_problem(std::string_view rule_text) {
  const std::vector<std::string_view> tokens = split_tokens(rule_text);
  for (std::size_t i = 0; i < tokens.size(); i += 2) {
    const std::string number = std::to_string(i / 2 + 1);
    if (i + 1 == tokens.size()) {
      return "address rule " + number + " (\"" + std::string(tokens[i]) + "\") has no address";
    }
    const std::string rule = "address rule " + number + " (\"" + std::string(tokens[i]) + " " +
                             std::string(tokens[i + 1]) + "\")";
    const bool deny = iequals(tokens[i], "deny");
    if (!deny && !iequals(tokens[i], "allow")) {
      return rule + ": \"" + std::string(tokens[i]) + "\" is neither \"allow\" nor \"deny\"";
    }
    if (!parse_address(tokens[i + 1], !deny)) {
      return rule + ": \"" + std::string(tokens[i + 1]) +
             "\" is neither \"all\" nor an IPv4 address (a.b.c.d, optionally /0 to /32)";
    }
  }
  return "";
}

bool is_loopback(std::uint32_t client) {
  return client >> 24 == 127;
}

bool acl_check(std::uint32_t client, std::string_view rule_text) {
  if (!acl_problem(rule_text).empty()) return is_loopback(client);
  return acl_evaluate(acl_parse(rule_text), client);
}

std::vector<AclRule> acl_parse(std::string_view rule_text) {
  const std::vector<std::string_view> tokens = split_tokens(rule_text);
  std::vector<AclRule> rules;
  // A final action word without an address is ignored.
  for (std::size_t i = 0; i + 1 < tokens.size(); i += 2) {
    const bool deny = iequals(tokens[i], "deny");
    if (!deny && !iequals(tokens[i], "allow")) continue;
    if (const auto rule = parse_address(tokens[i + 1], !deny)) rules.push_back(*rule);
  }
  return rules;
}

bool acl_evaluate(const std::vector<AclRule>& rules, std::uint32_t client) {
  bool allow = true;
  for (const AclRule& rule : rules) {
    const std::uint32_t offset = client - rule.first;  // wraps, like the range itself
    if (offset <= rule.span) allow = rule.allow;
  }
  return allow;
}

}  // namespace vx
