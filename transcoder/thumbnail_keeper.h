// Keeps the channel's latest thumbnail in its file: ffmpeg writes JPEG pictures into a pipe, a
// reader thread takes them out as they come (ffmpeg never waits on it) and cuts them into whole
// pictures (JpegFrameSplitter, at most kMaxThumbnailBytes each), and a writer thread puts the
// latest one in a temporary file beside the file and renames it over the file, so that a reader
// always finds a whole picture. A slow disk holds up only the writer, which then skips to the
// latest picture. The file and the temporary file go when the keeper ends.
//
// Unlike the configuration (platform/atomic_file), a thumbnail need not survive a power cut: it
// is renewed every few seconds, so nothing is flushed to the disk.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "transcoder/child_process.h"

namespace vx {

class ThumbnailKeeper {
 public:
  explicit ThumbnailKeeper(std::string path);
  ThumbnailKeeper(const ThumbnailKeeper&) = delete;
  ThumbnailKeeper& operator=(const ThumbnailKeeper&) = delete;
  ~ThumbnailKeeper() { finish(); }

  // Opens the pipe and removes a file a previous run left; false after one line that says why.
  bool open();
  // The pipe's write end, to be handed to ffmpeg.
  int write_end() const { return pipe_.write_end.get(); }
  // Once ffmpeg runs: our write end closes and the threads start.
  void start();
  // Waits until the pipe has ended (ffmpeg is gone), then removes the file and the temporary one.
  void finish();

 private:
  void read_pictures();
  void write_pictures();
  void write_file(const std::string& picture);

  std::string path_;
  std::string temporary_path_;
  Pipe pipe_;
  std::thread reader_;
  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::string latest_;         // a whole picture not written yet; empty: none
  bool ended_ = false;         // the pipe has ended
  bool failure_said_ = false;  // the writer's own
};

}  // namespace vx
