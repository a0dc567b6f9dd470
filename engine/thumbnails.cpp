#include "engine/thumbnails.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "engine/channel_slot.h"
#include "platform/memory_folder.h"
#include "platform/unique_fd.h"
#include "vocabulary/channel_glance.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

std::string& folder() {
  static std::string value;
  return value;
}

bool transcoder_runs(const ChannelSlot& slot) {
  return slot.pid > 0 && slot.state != ChannelState::idle && slot.state != ChannelState::extract;
}

}  // namespace

void thumbnails_open() {
  if (!folder().empty()) return;
  std::string problem;
  const std::optional<std::string> made = make_memory_folder("vantorix-thumbnails-", problem);
  if (!made) {
    std::fprintf(stderr, "Vantorix: no channel thumbnails: %s\n", problem.c_str());
    return;
  }
  folder() = *made;
}

void thumbnails_close() {
  remove_memory_folder(folder());
  folder().clear();
}

std::string thumbnail_file(int slot) {
  if (folder().empty() || slot < 0 || slot >= kMaxChannels) return {};
  std::string file = folder();
  append_format(file, "/%d.jpg", slot + 1);
  return file;
}

void thumbnail_forget(int slot) {
  const std::string file = thumbnail_file(slot);
  if (!file.empty()) ::unlink(file.c_str());
}

std::optional<std::string> engine_thumbnail_file(int slot) {
  const ChannelSlot* channel = engine_slot(slot);
  if (channel == nullptr || !transcoder_runs(*channel)) return std::nullopt;
  std::string file = thumbnail_file(slot);
  if (file.empty()) return std::nullopt;
  return file;
}

std::optional<Thumbnail> read_thumbnail(const std::string& file) {
  const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat about {};
  if (!fd || ::fstat(fd.get(), &about) != 0 || !S_ISREG(about.st_mode)) return std::nullopt;
  if (about.st_size <= 0 || about.st_size > kMaxThumbnailBytes) return std::nullopt;
  Thumbnail thumbnail;
  thumbnail.jpeg.resize(static_cast<std::size_t>(about.st_size));
  std::size_t filled = 0;
  while (filled < thumbnail.jpeg.size()) {
    const ssize_t got = ::read(fd.get(), thumbnail.jpeg.data() + filled,
                               thumbnail.jpeg.size() - filled);
    if (got <= 0) return std::nullopt;  // the file shrank under us: not a picture we can trust
    filled += static_cast<std::size_t>(got);
  }
  append_format(thumbnail.tag, "%llx-%llx-%llx", static_cast<unsigned long long>(about.st_ino),
                static_cast<unsigned long long>(about.st_mtim.tv_sec) * 1000000000ull +
                    static_cast<unsigned long long>(about.st_mtim.tv_nsec),
                static_cast<unsigned long long>(about.st_size));
  return thumbnail;
}

}  // namespace vx
