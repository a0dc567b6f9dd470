// Whole-file reads and crash-safe whole-file replacement (the configuration, the transcoder's
// cached encoder list): a reader never sees half of a write, whatever moment the process or the
// machine stops.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

// Files larger than this are not configuration files; reading them is refused rather than
// pulling an arbitrary amount of memory in.
inline constexpr std::size_t kConfigFileSizeLimit = 64u << 20;

// The bytes of a regular file, or none when it is missing, unreadable, not a regular file
// (a folder, a FIFO or a device never blocks or floods the caller) or over the limit.
std::optional<std::string> file_read_whole(const std::string& path,
                                           std::size_t limit = kConfigFileSizeLimit);

// Replaces the file with the bytes: they go to "<path>.tmp" in the same folder, which is
// flushed to the disk and then renamed over the path, and the folder is flushed so the rename
// itself survives a power cut. An existing file keeps its permission bits (new files get
// 0600: the configuration holds the login password); a symbolic link is followed and its
// target replaced. False when any step fails, and then the old file is as it was.
bool file_replace(const std::string& path, std::string_view bytes);

}  // namespace vx
