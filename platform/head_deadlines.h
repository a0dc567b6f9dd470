// HeadDeadlines: every connection of a server must deliver a whole request head within a
// deadline of being opened, or of the end of its previous request, however slowly it trickles its
// bytes in (an idle timeout starts again with every byte, so it cannot). A watcher thread ends the
// laggards by shutting their sockets down, and the server, seeing the end, closes them. It works
// on a duplicate of each descriptor, so that a number the server has closed and handed to a new
// connection is never touched.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "platform/unique_fd.h"

namespace vx {

class HeadDeadlines {
 public:
  using Clock = std::chrono::steady_clock;
  // The list is guarded by the mutex; a connection's own thread marks its requests without it.
  struct Watch {
    UniqueFd socket;                      // the duplicate
    std::atomic<Clock::rep> since;        // ticks of Clock
    std::atomic<bool> in_request{false};  // the head is in: being answered, or streamed
    bool shut = false;
    std::list<Watch>::iterator self;
  };

  // Laggards are found within a quarter of the deadline (at least 50 ms, at most 1 s) of it.
  explicit HeadDeadlines(Clock::duration deadline);
  ~HeadDeadlines();
  HeadDeadlines(const HeadDeadlines&) = delete;
  HeadDeadlines& operator=(const HeadDeadlines&) = delete;

  // A new connection on `fd`; the watch lives until closed(). The calls below take a null
  // watch (a connection whose descriptor was not known) and do nothing with it. When no duplicate
  // can be made (no descriptor is left) the connection is shut down at once rather than left
  // unwatched.
  Watch* opened(int fd);
  // The head is in: no deadline runs until request_ended() (a streamed answer never calls it).
  void head_received(Watch* watch);
  // The answer went out: the deadline for the next head starts now.
  void request_ended(Watch* watch);
  void closed(Watch* watch);

 private:
  void watch_loop();

  const Clock::duration deadline_;
  const Clock::duration tick_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::list<Watch> watches_;
  bool stopping_ = false;
  std::thread watcher_;
};

}  // namespace vx
