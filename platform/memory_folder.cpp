#include "platform/memory_folder.h"

#include <dirent.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace vx {
namespace {

std::optional<std::string> runtime_folder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/') return std::nullopt;
  std::string folder(runtime);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

bool is_in_memory(const std::string& path) {
  struct statfs about {};
  if (::statfs(path.c_str(), &about) != 0) return false;
  return about.f_type == TMPFS_MAGIC || about.f_type == RAMFS_MAGIC;
}

std::optional<std::string> make_memory_folder(const std::string& prefix, std::string& problem) {
  std::vector<std::string> places;
  if (std::optional<std::string> runtime = runtime_folder()) places.push_back(*runtime);
  places.emplace_back("/dev/shm");
  for (const std::string& place : places) {
    if (!is_in_memory(place)) continue;
    std::string pattern = place + "/" + prefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) return pattern;
    problem = "cannot make a folder in " + place + ": " + std::strerror(errno);
    return std::nullopt;
  }
  problem = "neither $XDG_RUNTIME_DIR nor /dev/shm is held in memory";
  return std::nullopt;
}

void remove_memory_folder(const std::string& folder) {
  if (folder.empty()) return;
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), &::closedir);
  if (listing) {
    while (const dirent* entry = ::readdir(listing.get())) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      ::unlinkat(::dirfd(listing.get()), name.c_str(), 0);
    }
  }
  ::rmdir(folder.c_str());
}

}  // namespace vx
