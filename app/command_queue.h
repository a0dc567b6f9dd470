// Channel commands from the web server's thread, carried out on the program's own thread by the
// supervisor, so that every front end starts and stops channels on one road. The server thread
// queues a command and waits for its result; the program's loop watches a descriptor that is
// readable while commands wait, and answers them between ticks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/unique_fd.h"
#include "web/web_services.h"

namespace vx {

class CommandQueue final : public ChannelCommands {
 public:
  // A command the loop has not taken within `answer_limit` is withdrawn and refused.
  explicit CommandQueue(std::chrono::milliseconds answer_limit = std::chrono::seconds(10));
  CommandQueue(const CommandQueue&) = delete;
  CommandQueue& operator=(const CommandQueue&) = delete;

  // The server thread's side: queues the command and waits for its result (kErrorNotTaken when
  // the queue is closed or the loop did not take it in time).
  int run_channel_command(ChannelCommand command, int index) override;

  // The loop's side. Readable while commands wait; -1 when no descriptor could be made (the loop
  // then only finds commands at its ticks).
  int wake_descriptor() const { return wake_.get(); }
  // Carries out every waiting command with `runner` (the supervisor) on the caller's thread; the
  // caller does not hold the core lock.
  void carry_out(ChannelCommands& runner);

  // While closed, waiting and new commands are refused at once. The loop closes the queue before
  // it stops the web server (whose stop waits for the requests in flight, and so for us) and
  // opens it again once the server runs.
  void close();
  void open();

 private:
  struct Pending {
    ChannelCommand command;
    int index;
    bool taken = false;
    bool answered = false;
    int result = 0;
  };

  void answer(Pending& pending, int result);

  const std::chrono::milliseconds answer_limit_;
  UniqueFd wake_;
  std::mutex mutex_;
  std::condition_variable answered_;
  std::deque<std::shared_ptr<Pending>> waiting_;
  bool closed_ = false;
};

}  // namespace vx
