#include "platform/head_deadlines.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <algorithm>

namespace vx {

HeadDeadlines::HeadDeadlines(Clock::duration deadline)
    : deadline_(deadline),
      tick_(std::clamp<Clock::duration>(deadline / 4, std::chrono::milliseconds(50),
                                        std::chrono::seconds(1))),
      watcher_([this] { watch_loop(); }) {}

HeadDeadlines::~HeadDeadlines() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  watcher_.join();
}

HeadDeadlines::Watch* HeadDeadlines::opened(int fd) {
  UniqueFd duplicate(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  const bool unwatchable = !duplicate;
  if (unwatchable) ::shutdown(fd, SHUT_RDWR);
  const std::lock_guard lock(mutex_);
  Watch& watch = watches_.emplace_front();
  watch.socket = std::move(duplicate);
  watch.since = Clock::now().time_since_epoch().count();
  watch.shut = unwatchable;
  watch.self = watches_.begin();
  return &watch;
}

void HeadDeadlines::head_received(Watch* watch) {
  if (watch == nullptr) return;
  watch->in_request.store(true, std::memory_order_relaxed);
}

void HeadDeadlines::request_ended(Watch* watch) {
  if (watch == nullptr) return;
  // The new start first: the watcher never sees the request over with the old one.
  watch->since.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  watch->in_request.store(false, std::memory_order_release);
}

void HeadDeadlines::closed(Watch* watch) {
  if (watch == nullptr) return;
  const std::lock_guard lock(mutex_);
  watches_.erase(watch->self);
}

void HeadDeadlines::watch_loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, tick_);
    const Clock::rep late = (Clock::now() - deadline_).time_since_epoch().count();
    for (Watch& watch : watches_) {
      if (watch.shut || watch.in_request.load(std::memory_order_acquire) ||
          watch.since.load(std::memory_order_relaxed) > late) {
        continue;
      }
      ::shutdown(watch.socket.get(), SHUT_RDWR);
      watch.shut = true;
    }
  }
}

}  // namespace vx
