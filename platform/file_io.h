// Whole writes to file descriptors, and whether a path names a folder.
#pragma once

#include <string>
#include <string_view>

namespace vx {

// Writes every byte, retrying short writes and interrupted calls; false on any other failure.
bool write_all(int fd, std::string_view bytes);

// Whether `path` names an existing folder (links followed); false for "".
bool is_existing_folder(const std::string& path);

}  // namespace vx
