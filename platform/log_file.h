// Log files that other programs may read, move or delete at any time: each record is appended
// with one write on a descriptor opened for it and closed again; the file is private to the
// user (0600, an older file made so too); past a size it is moved to the newest of a few
// numbered archives "NAME-K.EXT" (1 the oldest), the oldest dropped. Callers serialise the
// appends to one file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

struct LogRotation {
  std::uint64_t size_limit = 0;  // a file past this many bytes is archived before the next record
  int archives = 0;              // the most archives kept
};

// "folder/morv_001.log" and 3 give "folder/morv_001-3.log"; a name without an extension gets
// "-3" at its end.
std::string log_archive_path(std::string_view path, int number);

// Appends `record`, after `opening` when the file is new or empty (a byte-order mark, say).
// False when the file cannot be written.
bool log_file_append(const std::string& path, std::string_view record, const LogRotation& rotation,
                     std::string_view opening = {});

}  // namespace vx
