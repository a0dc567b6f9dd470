// Starting with the desktop session: the program's entry in the XDG autostart folder, and the
// name the program goes by (from "morvoem.txt" beside it), which also names that entry.
#pragma once

#include <string>
#include <string_view>

namespace vx {

inline constexpr std::string_view kDefaultAppDisplayName = "Vantorix";
inline constexpr std::size_t kAppDisplayNameLimit = 98;

// The first line of "morvoem.txt" in the folder, without its line end, cut to at most
// kAppDisplayNameLimit bytes at a character boundary; kDefaultAppDisplayName when the file is
// missing or that line is empty.
std::string app_display_name(const std::string& program_folder);

// Writes (enabled) or removes (disabled) "<display name>.desktop" in the autostart folder; the
// entry runs the executable with -quiet. The folder defaults to $XDG_CONFIG_HOME/autostart (or
// ~/.config/autostart) and is created when missing. A name that is not a plain file name is
// replaced by kDefaultAppDisplayName. False on any failure, and then no half-written entry is
// left.
bool autostart_apply(bool enabled, const std::string& display_name,
                     const std::string& executable_path, const std::string& autostart_folder = {});

}  // namespace vx
