// HeadDeadlines: every connection must deliver a whole request head within a deadline of being
// opened, or of the end of its previous request, however slowly it trickles its bytes in (the
// library's idle timeout starts again with every byte, so it cannot). A watcher thread ends the
// laggards by shutting their sockets down; it works on a duplicate of each descriptor, so that a
// number the library has closed and handed to a new connection is never touched.
#pragma once

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
  struct Watch {
    UniqueFd socket;  // the duplicate
    Clock::time_point since;
    bool in_request = false;  // the head is in; the request is being answered
    bool shut = false;
    std::list<Watch>::iterator self;
  };

  explicit HeadDeadlines(Clock::duration deadline);
  ~HeadDeadlines();
  HeadDeadlines(const HeadDeadlines&) = delete;
  HeadDeadlines& operator=(const HeadDeadlines&) = delete;

  // A new connection on `fd`. nullptr when no duplicate can be made (no descriptor is left):
  // then the connection is shut down at once rather than left unwatched.
  Watch* opened(int fd);
  void head_received(Watch* watch);
  // The answer went out: the deadline for the next head starts now.
  void request_ended(Watch* watch);
  void closed(Watch* watch);

 private:
  void watch_loop();

  const Clock::duration deadline_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::list<Watch> watches_;
  bool stopping_ = false;
  std::thread watcher_;
};

}  // namespace vx
