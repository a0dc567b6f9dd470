#include "web/request_workers.h"

namespace vx {

RequestWorkers::RequestWorkers(std::size_t threads) {
  threads_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i)
    threads_.emplace_back([this] { work(); });
}

RequestWorkers::~RequestWorkers() {
  close();
}

void RequestWorkers::close() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_)
    thread.join();
  threads_.clear();
}

void RequestWorkers::run(std::function<void()> job) {
  {
    const std::lock_guard lock(mutex_);
    if (!closing_) {
      jobs_.push_back(std::move(job));
      wake_.notify_one();
      return;
    }
  }
  job();
}

void RequestWorkers::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // closing, and nothing left to do
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace vx
