// Fuzzes the address rules: the first four bytes are the client address, the rest the rule text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/acl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t client = (std::uint32_t{data[0]} << 24) | (std::uint32_t{data[1]} << 16) |
                               (std::uint32_t{data[2]} << 8) | data[3];
  const std::string_view rules(reinterpret_cast<const char*>(data + 4), size - 4);
  const bool allowed = vx::acl_check(client, rules);
  // Rules after "deny all" can only let the client back in, never the other way round.
  if (vx::acl_check(client, "deny all\n" + std::string(rules)) && !allowed) std::abort();
  for (const vx::AclRule& rule : vx::acl_parse(rules)) {
    if (rule.span > 0xFFFFFFFFu) std::abort();
  }
  return 0;
}
