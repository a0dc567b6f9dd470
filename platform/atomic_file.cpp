#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

// Where the bytes must land: the target of a symbolic link, so that a configuration the
// operator keeps elsewhere through a link stays there instead of the link being replaced.
std::string resolve_link(const std::string& path) {
  std::error_code error;
  if (!fs::is_symlink(path, error)) return path;
  const fs::path target = fs::canonical(path, error);
  return error ? path : target.string();
}

std::string parent_folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t mode_to_keep(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) return status.st_mode & 07777;
  return 0600;
}

bool sync_folder(const std::string& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd && ::fsync(fd.get()) == 0;
}

bool write_synced(const std::string& temporary, std::string_view bytes, mode_t mode) {
  UniqueFd fd(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return false;
  // The umask may have narrowed the bits; the old file's bits are the ones to keep.
  if (::fchmod(fd.get(), mode) != 0) return false;
  if (!write_all(fd.get(), bytes) || ::fsync(fd.get()) != 0) return false;
  return ::close(fd.release()) == 0;
}

}  // namespace

std::optional<std::string> file_read_whole(const std::string& path, std::size_t limit) {
  // O_NONBLOCK so that opening a FIFO returns at once; it is refused below as not regular.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return std::nullopt;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (static_cast<std::size_t>(status.st_size) > limit) return std::nullopt;

  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) return bytes;
    // The file may grow while it is read; the limit holds all the same.
    if (bytes.size() + static_cast<std::size_t>(got) > limit) return std::nullopt;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

bool file_replace(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const std::string target = resolve_link(path);
  const std::string temporary = target + ".tmp";
  if (!write_synced(temporary, bytes, mode_to_keep(target)) ||
      ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The new contents are in place; a failed folder flush only weakens the power-cut guarantee.
  sync_folder(parent_folder(target));
  return true;
}

}  // namespace vx
