// Facts about the running program and its host: the executable's folder, the user's base folders
// and the host's IPv4 addresses as shown to operators (web links, target URL hints).
#pragma once

#include <ifaddrs.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

// Folder of the running executable, without a trailing '/'. Computed once, then cached.
const std::string& module_folder();

// An XDG base folder: the environment variable (XDG_CONFIG_HOME, XDG_CACHE_HOME) when it holds an
// absolute path (the XDG rules ignore a relative one), else `fallback` ("/.config", "/.cache")
// below the home folder ($HOME, else the password database's). "" when no home is known.
std::string xdg_base_folder(const char* variable, const char* fallback);

inline constexpr std::size_t kMaxLocalAddresses = 5;

// The user's videos folder as `xdg-user-dir VIDEOS` finds it: XDG_VIDEOS_DIR from
// user-dirs.dirs in the XDG config folder, else "Videos" below the home folder. "" when no home
// is known.
std::string user_videos_folder();

// XDG_VIDEOS_DIR in the text of a user-dirs.dirs file: "$HOME/..." below `home`, or an absolute
// path. nullopt when the file does not set it, or sets it to something else.
std::optional<std::string> videos_folder_in_user_dirs(std::string_view text, std::string_view home);

// Where the recordings and playlists of a newly chosen target format go: a folder named after the
// product in the user's videos folder, without a trailing '/'. Stored targets keep their paths.
std::string new_output_folder();

// The host's IPv4 addresses in dotted-quad form: the first IPv4 address of each interface,
// skipping loopback (127.x.x.x) and link-local (169.254.x.x), at most five.
std::vector<std::string> local_ipv4_addresses();

// The first of local_ipv4_addresses(), or "" when the host has none.
std::string local_ipv4_address();

// The machine's own name as `hostname` prints it; "" when it has none.
std::string host_name();

// The selection rule of local_ipv4_addresses() over an interface list (as from getifaddrs).
std::vector<std::string> select_ipv4_addresses(const ifaddrs* list);

}  // namespace vx
