#include "app/command_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "vocabulary/errors.h"

namespace vx {

CommandQueue::CommandQueue(std::chrono::milliseconds answer_limit)
    : answer_limit_(answer_limit), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

int CommandQueue::run_channel_command(ChannelCommand command, int index) {
  auto pending = std::make_shared<Pending>(Pending{command, index});
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return kErrorNotTaken;
  waiting_.push_back(pending);
  if (wake_) {
    const std::uint64_t one = 1;
    (void)::write(wake_.get(), &one, sizeof one);
  }
  if (!answered_.wait_for(lock, answer_limit_,
                          [&] { return pending->answered || pending->taken; })) {
    // Withdrawn before the loop saw it, so it never runs after the client was told it did not.
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), pending), waiting_.end());
    return kErrorNotTaken;
  }
  // Once taken, the loop is carrying it out; its answer follows shortly.
  answered_.wait(lock, [&] { return pending->answered; });
  return pending->result;
}

void CommandQueue::carry_out(ChannelCommands& runner) {
  if (wake_) {
    std::uint64_t count = 0;
    (void)::read(wake_.get(), &count, sizeof count);
  }
  for (;;) {
    std::shared_ptr<Pending> pending;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (waiting_.empty()) return;
      pending = waiting_.front();
      waiting_.pop_front();
      pending->taken = true;
    }
    answered_.notify_all();
    const int result = runner.run_channel_command(pending->command, pending->index);
    const std::lock_guard<std::mutex> lock(mutex_);
    answer(*pending, result);
  }
}

void CommandQueue::close() {
  const std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (const std::shared_ptr<Pending>& pending : waiting_)
    answer(*pending, kErrorNotTaken);
  waiting_.clear();
}

void CommandQueue::open() {
  const std::lock_guard<std::mutex> lock(mutex_);
  closed_ = false;
}

void CommandQueue::answer(Pending& pending, int result) {
  pending.result = result;
  pending.answered = true;
  answered_.notify_all();
}

}  // namespace vx
