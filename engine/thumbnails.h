// Where each running channel's live thumbnail is kept and how it is read back. The transcoder
// makes the picture from the frames it decodes anyway and replaces one file per channel whole,
// in a private folder held in memory that the engine makes when it starts and removes when it
// shuts down; the engine clears a channel's file whenever its transcoder starts or ends, so a
// stopped channel has none.
#pragma once

#include <optional>
#include <string>

namespace vx {

// Makes the folder (engine_init); says in the program's log why there is none when it cannot.
void thumbnails_open();
// Removes the folder and every picture in it (engine_shutdown).
void thumbnails_close();

// The file the transcoder of channel slot 0..15 keeps its picture in; "" for another slot or
// when there is no folder.
std::string thumbnail_file(int slot);
// Removes the slot's picture (its transcoder starts anew or ended).
void thumbnail_forget(int slot);

// The channel's file while its transcoder runs; nothing otherwise. Call with the core lock held.
std::optional<std::string> engine_thumbnail_file(int slot);

struct Thumbnail {
  std::string jpeg;
  // Changes with every new picture: the transcoder renames a new file over the old one.
  std::string tag;
};

// The picture in the file, read without the core lock; nothing when the file is missing, not a
// regular file, empty or larger than kMaxThumbnailBytes.
std::optional<Thumbnail> read_thumbnail(const std::string& file);

}  // namespace vx
