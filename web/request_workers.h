// RequestWorkers: a few threads for the requests that may take long (a password hashed at
// login, an NDI search, a channel command waiting for the program's own thread), so that the
// threads polling every connection never wait for one of them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vx {

class RequestWorkers {
 public:
  explicit RequestWorkers(std::size_t threads);
  ~RequestWorkers();  // close()s
  RequestWorkers(const RequestWorkers&) = delete;
  RequestWorkers& operator=(const RequestWorkers&) = delete;

  // Runs the job on a worker, in the order handed over; once closing has begun, on the calling
  // thread at once, so that no job is ever lost.
  void run(std::function<void()> job);
  // Finishes every job handed over and joins the threads; later jobs run where they are handed.
  void close();

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace vx
