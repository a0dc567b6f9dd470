// Facts about the running program and its host: the executable's folder and the host's
// IPv4 addresses as shown to operators (web links, target URL hints).
#pragma once

#include <ifaddrs.h>

#include <string>
#include <vector>

namespace vx {

// Folder of the running executable, without a trailing '/'. Computed once, then cached.
const std::string& module_folder();

inline constexpr std::size_t kMaxLocalAddresses = 5;

// The host's IPv4 addresses in dotted-quad form: the first IPv4 address of each interface,
// skipping loopback (127.x.x.x) and link-local (169.254.x.x), at most five.
std::vector<std::string> local_ipv4_addresses();

// The first of local_ipv4_addresses(), or "" when the host has none.
std::string local_ipv4_address();

// The selection rule of local_ipv4_addresses() over an interface list (as from getifaddrs).
std::vector<std::string> select_ipv4_addresses(const ifaddrs* list);

}  // namespace vx
