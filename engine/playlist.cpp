#include "engine/playlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string_view>
#include <utility>

#include "engine/channel_slot.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace vx {
namespace {

constexpr std::string_view kCurrentPrefix = "current ";

// Room for the prefix, the longest entry and its line end; a longer line is never held whole.
constexpr std::size_t kRawLineLimit = 2 * kPlayListLineLimit + 16;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

bool is_directory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Trailing '/' go, except that the root stays "/".
std::string without_trailing_slashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  return folder;
}

// A line break inside a name could not be written as one playlist line; reading it back would
// give two bogus paths.
bool fits_one_line(std::string_view name) {
  return name.find_first_of("\r\n") == std::string_view::npos;
}

// Collects the non-directory entries below one folder, depth first in listing order. Folders
// already visited (a symbolic link back up the tree) are not scanned twice.
class FolderScan {
 public:
  explicit FolderScan(bool recursive) : recursive_(recursive) {}

  // False when the folder itself cannot be listed.
  bool scan(const std::string& folder) {
    UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) return false;
    struct stat info {};
    if (::fstat(::dirfd(dir.get()), &info) == 0) visited_.insert({info.st_dev, info.st_ino});
    const std::string prefix = folder == "/" ? folder : folder + "/";
    while (const dirent* entry = ::readdir(dir.get())) {
      take(dir.get(), prefix, entry->d_name);
    }
    return true;
  }

  std::vector<std::string>& paths() { return paths_; }

 private:
  void take(DIR* dir, const std::string& prefix, std::string_view name) {
    if (name == "." || name == ".." || !fits_one_line(name)) return;
    struct stat info {};
    // Follows links: a link to a file plays like the file; a broken link is skipped.
    if (::fstatat(::dirfd(dir), std::string(name).c_str(), &info, 0) != 0) return;
    std::string path = prefix + std::string(name);
    if (!S_ISDIR(info.st_mode)) {
      paths_.push_back(std::move(path));
    } else if (recursive_ && !visited_.contains({info.st_dev, info.st_ino})) {
      scan(path);  // an unreadable sub-folder contributes nothing
    }
  }

  bool recursive_;
  std::vector<std::string> paths_;
  std::set<std::pair<dev_t, ino_t>> visited_;
};

// Reads one line without its "\n"; false at the end of the file. Of a line longer than
// kRawLineLimit only kRawLineLimit + 1 bytes are kept, enough to tell that it is too long.
bool read_line(std::FILE* file, std::string& line) {
  line.clear();
  int c = std::getc(file);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::getc(file)) {
    if (line.size() <= kRawLineLimit) line.push_back(static_cast<char>(c));
  }
  return true;
}

void trim_trailing(std::string& text, std::string_view characters) {
  const std::size_t end = text.find_last_not_of(characters);
  text.erase(end == std::string::npos ? 0 : end + 1);
}

// A path fit for the list: not empty, not over the limit, and without a NUL byte that would
// silently cut it when handed to the system.
bool usable_entry(const std::string& path) {
  return !path.empty() && path.size() <= kPlayListLineLimit && path.find('\0') == std::string::npos;
}

bool write_file_replacing(const std::string& path, std::string_view text) {
  const std::string temporary = path + ".tmp";
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return false;
  const bool written = write_all(fd.get(), text) && ::close(fd.release()) == 0;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace

int FolderPlaylist::build(const std::string& folder, bool recursive, bool shuffle) {
  FolderScan scan(recursive);
  if (!scan.scan(without_trailing_slashes(folder))) return 0;

  const std::optional<std::string> remembered = current();
  if (folder != folder_ || recursive != recursive_ || shuffle != shuffle_) clear();
  folder_ = folder;
  recursive_ = recursive;
  shuffle_ = shuffle;

  std::vector<std::string>& found = scan.paths();
  keep_only(std::unordered_set<std::string>(found.begin(), found.end()));
  for (std::string& path : found) {
    add(std::move(path), shuffle);
  }
  // std::string compares bytes as unsigned, which orders UTF-8 by code point.
  if (!shuffle) std::sort(files_.begin(), files_.end());
  move_to(remembered);
  save();
  return count();
}

void FolderPlaylist::load(const std::string& playlist_file, const std::string& folder, bool recursive,
                     bool shuffle) {
  file_ = playlist_file;
  folder_ = folder;
  recursive_ = recursive;
  shuffle_ = shuffle;
  clear();

  UniqueFile in(std::fopen(playlist_file.c_str(), "rb"));
  if (!in) return;
  std::optional<std::string> current_path;
  std::string line;
  while (read_line(in.get(), line)) {
    if (line.size() > kRawLineLimit) continue;  // skipped whole, never cut into a bogus path
    if (line.starts_with(kCurrentPrefix)) {
      line.erase(0, kCurrentPrefix.size());
      trim_trailing(line, "\r");
      if (usable_entry(line)) current_path = line;
      continue;
    }
    trim_trailing(line, "\r\n ");
    if (usable_entry(line)) add(line, false);
  }
  move_to(current_path);
}

std::optional<std::string> FolderPlaylist::next(bool wrap) {
  if (files_.empty()) return std::nullopt;
  if (position_ + 1 >= files_.size()) {
    if (!wrap) return std::nullopt;
    position_ = 0;
  } else {
    ++position_;
  }
  save();
  return current();
}

std::optional<std::string> FolderPlaylist::previous(bool wrap) {
  if (files_.empty()) return std::nullopt;
  if (position_ == 0 || position_ >= files_.size()) {
    if (!wrap) return std::nullopt;
    position_ = files_.size() - 1;
  } else {
    --position_;
  }
  save();
  return current();
}

std::optional<std::string> FolderPlaylist::current() const {
  if (position_ >= files_.size()) return std::nullopt;
  return files_[position_];
}

void FolderPlaylist::save() const {
  if (file_.empty()) return;
  if (files_.empty() || !is_directory(folder_)) {
    ::unlink(file_.c_str());
    return;
  }
  std::string text;
  if (const std::optional<std::string> playing = current()) {
    text.append(kCurrentPrefix).append(*playing).push_back('\n');
  }
  for (const std::string& path : files_) {
    text.append(path).push_back('\n');
  }
  write_file_replacing(file_, text);
}

void FolderPlaylist::clear() {
  files_.clear();
  members_.clear();
  position_ = 0;
}

void FolderPlaylist::add(std::string path, bool shuffled) {
  if (members_.contains(path)) return;
  members_.insert(path);
  if (shuffled && !files_.empty()) {
    const auto at = static_cast<std::size_t>(std::rand()) % files_.size();
    files_.insert(files_.begin() + static_cast<std::ptrdiff_t>(at), std::move(path));
  } else {
    files_.push_back(std::move(path));
  }
}

// Files that left the folder leave the list too, so a build never offers a path that is gone;
// the survivors keep their order (a shuffled order stays as it was).
void FolderPlaylist::keep_only(const std::unordered_set<std::string>& seen) {
  std::erase_if(files_, [&](const std::string& path) {
    if (seen.contains(path)) return false;
    members_.erase(path);
    return true;
  });
}

void FolderPlaylist::move_to(const std::optional<std::string>& path) {
  position_ = 0;
  if (!path) return;
  const auto found = std::find(files_.begin(), files_.end(), *path);
  if (found != files_.end()) position_ = static_cast<std::size_t>(found - files_.begin());
}

FolderPlaylist* channel_playlist_at(int channel) {
  static std::array<FolderPlaylist, kMaxChannels> playlists;
  if (channel < 0 || channel >= kMaxChannels) return nullptr;
  return &playlists[static_cast<std::size_t>(channel)];
}

FolderPlaylist& channel_playlist(int channel) {
  if (FolderPlaylist* playlist = channel_playlist_at(channel)) return *playlist;
  static FolderPlaylist detached;
  detached = FolderPlaylist{};
  return detached;
}

std::string playlist_file_path(const std::string& config_folder, int channel) {
  if (channel < 0 || channel >= kMaxChannels) return "";
  char name[32];
  std::snprintf(name, sizeof name, "/log/morv_%03d.pls", channel + 1);
  return config_folder + name;
}

}  // namespace vx
