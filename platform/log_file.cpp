#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace vx {
namespace {

constexpr mode_t kPrivate = 0600;

bool file_exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Makes room for a fresh file: the archives keep their order from 1 (oldest) upward, the
// surplus oldest ones go, and the file becomes the newest archive.
void rotate(const std::string& path, int archives) {
  int next = 1;
  while (file_exists(log_archive_path(path, next)))
    ++next;
  if (next > archives - 1) {
    const int surplus = next - archives;
    for (int number = 1; number <= surplus; ++number)
      ::unlink(log_archive_path(path, number).c_str());
    for (int number = 1; number < archives; ++number) {
      ::rename(log_archive_path(path, surplus + number).c_str(),
               log_archive_path(path, number).c_str());
    }
  }
  ::rename(path.c_str(), log_archive_path(path, next < archives ? next : archives).c_str());
}

}  // namespace

std::string log_archive_path(std::string_view path, int number) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const bool has_extension =
      dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash + 1);
  const std::size_t split = has_extension ? dot : path.size();
  return std::string(path.substr(0, split)) + "-" + std::to_string(number) +
         std::string(path.substr(split));
}

bool log_file_append(const std::string& path, std::string_view record, const LogRotation& rotation,
                     std::string_view opening) {
  if (path.empty()) return false;
  struct stat info {};
  if (rotation.archives > 0 && ::stat(path.c_str(), &info) == 0 &&
      static_cast<std::uint64_t>(info.st_size) > rotation.size_limit) {
    rotate(path, rotation.archives);
  }
  const UniqueFd file(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, kPrivate));
  if (!file || ::fstat(file.get(), &info) != 0) return false;
  if ((info.st_mode & 0777) != kPrivate) ::fchmod(file.get(), kPrivate);
  if (info.st_size == 0 && !opening.empty()) {
    std::string whole(opening);
    whole.append(record);
    return write_all(file.get(), whole);
  }
  return write_all(file.get(), record);
}

}  // namespace vx
