// A private folder in memory for files that change every few seconds and matter only while the
// program runs (the channels' live thumbnails): never on a disk, so they neither wear it nor
// share it with recordings, and gone with a reboot at the latest.
#pragma once

#include <optional>
#include <string>

namespace vx {

// Whether the path lies on a file system held in memory (tmpfs or ramfs).
bool is_in_memory(const std::string& path);

// Makes a new folder named "<prefix>XXXXXX" (a name nobody else can have taken first, mode 0700)
// in the runtime folder ($XDG_RUNTIME_DIR, when it is an absolute path held in memory), else in
// /dev/shm when that is held in memory. Its path, or nothing with `problem` saying why.
std::optional<std::string> make_memory_folder(const std::string& prefix, std::string& problem);

// Removes the folder's files and then the folder; a folder holding folders is left as it is.
void remove_memory_folder(const std::string& folder);

}  // namespace vx
