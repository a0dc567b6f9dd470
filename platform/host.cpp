#include "platform/host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string_view>

#include "vocabulary/product.h"

namespace vx {

const std::string& module_folder() {
  static const std::string folder = [] {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::string(".");
    std::string text = exe.parent_path().string();
    return text.empty() ? std::string("/") : text;
  }();
  return folder;
}

namespace {

bool is_excluded_ipv4(in_addr_t network_order) {
  const std::uint32_t host = ntohl(network_order);
  const std::uint32_t first = host >> 24;
  const std::uint32_t second = (host >> 16) & 0xff;
  return first == 127 || (first == 169 && second == 254);
}

}  // namespace

std::vector<std::string> select_ipv4_addresses(const ifaddrs* list) {
  std::vector<std::string> addresses;
  std::set<std::string_view> seen_interfaces;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const std::string_view name = entry->ifa_name != nullptr ? entry->ifa_name : "";
    // Only the first IPv4 address of an interface counts, usable or not.
    if (!seen_interfaces.insert(name).second) continue;
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (is_excluded_ipv4(ipv4->sin_addr.s_addr)) continue;
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) continue;
    addresses.emplace_back(text);
    if (addresses.size() == kMaxLocalAddresses) break;
  }
  return addresses;
}

std::string xdg_base_folder(const char* variable, const char* fallback) {
  const char* base = std::getenv(variable);
  if (base != nullptr && base[0] == '/') return base;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + fallback;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr ||
      entry.pw_dir == nullptr || entry.pw_dir[0] != '/') {
    return {};
  }
  return std::string(entry.pw_dir) + fallback;
}

std::optional<std::string> videos_folder_in_user_dirs(std::string_view text,
                                                      std::string_view home) {
  constexpr std::string_view kKey = "XDG_VIDEOS_DIR=";
  std::optional<std::string> found;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.remove_suffix(1);
    if (!line.starts_with(kKey)) continue;
    line.remove_prefix(kKey.size());
    // The value is quoted, and holds "$HOME/..." or an absolute path; anything else is ignored,
    // as xdg-user-dir ignores it. A later line wins.
    if (line.size() < 2 || line.front() != '"' || line.back() != '"') continue;
    line = line.substr(1, line.size() - 2);
    if (line.find('"') != std::string_view::npos || line.find('\\') != std::string_view::npos) {
      continue;
    }
    if (line == "$HOME" || line.starts_with("$HOME/")) {
      if (home.empty()) continue;
      found = std::string(home) + std::string(line.substr(5));
    } else if (line.starts_with('/')) {
      found = std::string(line);
    }
  }
  while (found && found->size() > 1 && found->back() == '/')
    found->pop_back();
  return found;
}

std::string user_videos_folder() {
  const std::string home = xdg_base_folder("HOME", "");
  const std::string config = xdg_base_folder("XDG_CONFIG_HOME", "/.config");
  if (!config.empty()) {
    std::string text;
    std::ifstream file(config + "/user-dirs.dirs");
    if (file) text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (std::optional<std::string> videos = videos_folder_in_user_dirs(text, home)) {
      return *videos;
    }
  }
  return home.empty() ? std::string() : home + "/Videos";
}

std::string new_output_folder() {
  const std::string videos = user_videos_folder();
  return (videos.empty() ? std::string("/tmp") : videos) + "/" + kProductName;
}

std::vector<std::string> local_ipv4_addresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::vector<std::string> addresses = select_ipv4_addresses(list);
  freeifaddrs(list);
  return addresses;
}

std::string local_ipv4_address() {
  std::vector<std::string> addresses = local_ipv4_addresses();
  return addresses.empty() ? std::string() : addresses.front();
}

std::string host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace vx
