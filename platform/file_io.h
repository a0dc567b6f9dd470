// Whole writes to file descriptors.
#pragma once

#include <string_view>

namespace vx {

// Writes every byte, retrying short writes and interrupted calls; false on any other failure.
bool write_all(int fd, std::string_view bytes);

}  // namespace vx
