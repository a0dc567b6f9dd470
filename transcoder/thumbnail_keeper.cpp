#include "transcoder/thumbnail_keeper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/unique_fd.h"
#include "transcoder/stream_framing.h"
#include "vocabulary/channel_glance.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;

// Writes the bytes into a file of our own (never through a link), mode 0600; 0 or the errno.
int write_private_file(const std::string& path, std::string_view bytes) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                       S_IRUSR | S_IWUSR));
  if (!file) return errno;
  // A file left by an earlier run keeps the mode it had; it must be private all the same.
  if (::fchmod(file.get(), S_IRUSR | S_IWUSR) != 0 || !write_all(file.get(), bytes)) return errno;
  return ::close(file.release()) == 0 ? 0 : errno;
}

}  // namespace

ThumbnailKeeper::ThumbnailKeeper(std::string path)
    : path_(std::move(path)), temporary_path_(path_ + ".part") {}

bool ThumbnailKeeper::open() {
  // A picture from an earlier run is not this channel's latest.
  ::unlink(path_.c_str());
  ::unlink(temporary_path_.c_str());
  if (!pipe_.open()) {
    say("morvi-transcoder: no pipe for the thumbnail; nothing started\n");
    return false;
  }
  return true;
}

void ThumbnailKeeper::start() {
  pipe_.write_end.reset();
  reader_ = std::thread([this] { read_pictures(); });
  writer_ = std::thread([this] { write_pictures(); });
}

void ThumbnailKeeper::finish() {
  if (reader_.joinable()) reader_.join();
  if (writer_.joinable()) writer_.join();
  if (!pipe_.read_end) return;  // never opened, or finished already
  pipe_.read_end.reset();
  ::unlink(temporary_path_.c_str());
  ::unlink(path_.c_str());
}

void ThumbnailKeeper::read_pictures() {
  JpegFrameSplitter splitter(static_cast<std::size_t>(kMaxThumbnailBytes));
  std::vector<std::string> pictures;
  read_until_end(pipe_.read_end.get(), kReadSize, [&](std::string_view bytes) {
    splitter.push(bytes, pictures);
    if (pictures.empty()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      latest_ = std::move(pictures.back());  // an older one not written yet is of no use
    }
    pictures.clear();
    ready_.notify_one();
  });
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  ready_.notify_one();
}

void ThumbnailKeeper::write_pictures() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ready_.wait(lock, [this] { return !latest_.empty() || ended_; });
    if (ended_) return;  // the file goes now anyway
    const std::string picture = std::exchange(latest_, std::string());
    lock.unlock();
    write_file(picture);
    lock.lock();
  }
}

// A failure is said once; the next picture is tried all the same.
void ThumbnailKeeper::write_file(const std::string& picture) {
  int error = write_private_file(temporary_path_, picture);
  if (error == 0 && ::rename(temporary_path_.c_str(), path_.c_str()) != 0) error = errno;
  if (error == 0) return;
  ::unlink(temporary_path_.c_str());
  if (failure_said_) return;
  failure_said_ = true;
  say("morvi-transcoder: the thumbnail cannot be written to " + quoted_argument(path_) + " (" +
      std::error_code(error, std::generic_category()).message() + ")\n");
}

}  // namespace vx
