#include "web/head_deadlines.h"

#include <fcntl.h>
#include <sys/socket.h>

namespace vx {
namespace {

constexpr auto kWatchInterval = std::chrono::milliseconds(250);

}  // namespace

HeadDeadlines::HeadDeadlines(Clock::duration deadline)
    : deadline_(deadline), watcher_([this] { watch_loop(); }) {}

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
  if (!duplicate) {
    ::shutdown(fd, SHUT_RDWR);
    return nullptr;
  }
  const std::lock_guard lock(mutex_);
  watches_.push_front(Watch{std::move(duplicate), Clock::now(), false, false, {}});
  watches_.front().self = watches_.begin();
  return &watches_.front();
}

void HeadDeadlines::head_received(Watch* watch) {
  if (watch == nullptr) return;
  const std::lock_guard lock(mutex_);
  watch->in_request = true;
}

void HeadDeadlines::request_ended(Watch* watch) {
  if (watch == nullptr) return;
  const std::lock_guard lock(mutex_);
  watch->in_request = false;
  watch->since = Clock::now();
}

void HeadDeadlines::closed(Watch* watch) {
  if (watch == nullptr) return;
  const std::lock_guard lock(mutex_);
  watches_.erase(watch->self);
}

void HeadDeadlines::watch_loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kWatchInterval);
    const Clock::time_point now = Clock::now();
    for (Watch& watch : watches_) {
      if (watch.in_request || watch.shut || now - watch.since < deadline_) continue;
      // The library sees the connection end and closes it (and then tells closed()).
      ::shutdown(watch.socket.get(), SHUT_RDWR);
      watch.shut = true;
    }
  }
}

}  // namespace vx
