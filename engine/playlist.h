// Folder playlists: per channel, the ordered files of a source folder and the one playing now,
// kept in "log/morv_NNN.pls" beside the configuration so the position survives a restart.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace vx {

// Longest playlist-file entry (a path, without the "current " prefix or the line end) that is
// read back; longer lines are skipped whole rather than cut into bogus paths.
inline constexpr std::size_t kPlayListLineLimit = 999;

// Not thread-safe: the engine's callers hold the core lock around every use.
class FolderPlaylist {
 public:
  // Where save() writes; "" (the default) saves nothing.
  void set_file(const std::string& playlist_file) { file_ = playlist_file; }
  const std::string& file() const { return file_; }

  // Scans the folder (every entry that is not a directory; sub-folders too when recursive) into
  // the list, keeping the current file when it is still there, then saves. The list starts over
  // when the folder or a flag differs from the last build or load; otherwise its order is kept
  // (new files join, vanished files leave). Returns the number of files; 0 also when the folder
  // cannot be listed, and then nothing at all changes.
  int build(const std::string& folder, bool recursive, bool shuffle);

  // Replaces the list with the playlist file's entries (a missing or unreadable file gives an
  // empty list) and remembers the file, folder and flags for later builds and saves. Does not
  // save.
  void load(const std::string& playlist_file, const std::string& folder, bool recursive,
            bool shuffle);

  // Moves one file on (back) and saves. At the last (first) file it goes round to the first
  // (last) only when wrap is set; otherwise it stays and gives none. An empty list gives none.
  std::optional<std::string> next(bool wrap);
  std::optional<std::string> previous(bool wrap);

  std::optional<std::string> current() const;
  int count() const { return static_cast<int>(files_.size()); }
  const std::vector<std::string>& files() const { return files_; }

  // Rewrites the playlist file (through a temporary file, so a crash never leaves half a list)
  // when the folder is an existing directory and the list is not empty; otherwise deletes it.
  // Does nothing without a file.
  void save() const;

 private:
  void clear();
  void add(std::string path, bool shuffled);
  void keep_only(const std::unordered_set<std::string>& seen);
  void move_to(const std::optional<std::string>& path);

  std::string file_;
  std::string folder_;
  bool recursive_ = false;
  bool shuffle_ = false;
  std::vector<std::string> files_;
  std::unordered_set<std::string> members_;  // the paths in files_, for the duplicate check
  std::size_t position_ = 0;                 // files_.size() when there is no current file
};

// The playlists of channels 0..15, alive for the whole run. Outside that range
// channel_playlist_at() gives nullptr and channel_playlist() a detached playlist without a
// file, emptied on every such call, so a bad channel number never touches a real channel's
// list or file.
FolderPlaylist* channel_playlist_at(int channel);
FolderPlaylist& channel_playlist(int channel);


// config_folder + "/log/morv_NNN.pls" with NNN = channel + 1; "" for a channel outside 0..15.
std::string playlist_file_path(const std::string& config_folder, int channel);

}  // namespace vx
