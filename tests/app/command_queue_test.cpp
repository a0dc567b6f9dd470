// The hand-over of channel commands from the web server's thread to the program's loop: answered
// by the loop, refused at once while closed, and withdrawn (never run later) when the loop does
// not take them in time.
#include "app/command_queue.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <future>
#include <thread>

#include "vocabulary/errors.h"

namespace vx {
namespace {

using namespace std::chrono_literals;

struct RecordingRunner : ChannelCommands {
  int run_channel_command(ChannelCommand command, int index) override {
    ran.push_back({command, index});
    return index == 7 ? kErrorSlotBusy : 0;
  }
  std::vector<std::pair<ChannelCommand, int>> ran;
};

bool readable(int fd, int milliseconds) {
  pollfd watched{fd, POLLIN, 0};
  return ::poll(&watched, 1, milliseconds) == 1;
}

TEST(CommandQueue, TheLoopAnswersWhatTheServerThreadAsks) {
  CommandQueue queue;
  RecordingRunner runner;
  auto started = std::async(std::launch::async,
                            [&] { return queue.run_channel_command(ChannelCommand::start, 2); });
  ASSERT_TRUE(readable(queue.wake_descriptor(), 5000)) << "the loop is woken";
  queue.carry_out(runner);
  EXPECT_EQ(started.get(), 0);
  auto refused = std::async(std::launch::async,
                            [&] { return queue.run_channel_command(ChannelCommand::stop, 7); });
  ASSERT_TRUE(readable(queue.wake_descriptor(), 5000));
  queue.carry_out(runner);
  EXPECT_EQ(refused.get(), kErrorSlotBusy) << "the runner's code comes back";
  EXPECT_EQ(runner.ran, (std::vector<std::pair<ChannelCommand, int>>{{ChannelCommand::start, 2},
                                                                     {ChannelCommand::stop, 7}}));
  EXPECT_FALSE(readable(queue.wake_descriptor(), 0)) << "nothing left to wake for";
}

TEST(CommandQueue, ClosedOrUnansweredCommandsAreRefusedAndNeverRunLater) {
  CommandQueue queue(200ms);
  RecordingRunner runner;
  auto waiting = std::async(std::launch::async,
                            [&] { return queue.run_channel_command(ChannelCommand::start, 1); });
  ASSERT_TRUE(readable(queue.wake_descriptor(), 5000));
  queue.close();  // as before the web server stops: the waiting request is answered at once
  EXPECT_EQ(waiting.get(), kErrorNotTaken);
  EXPECT_EQ(queue.run_channel_command(ChannelCommand::start, 1), kErrorNotTaken);
  queue.open();

  EXPECT_EQ(queue.run_channel_command(ChannelCommand::preview, 3), kErrorNotTaken)
      << "the loop did not take it within its limit";
  queue.carry_out(runner);
  EXPECT_TRUE(runner.ran.empty()) << "a withdrawn command must not run after its refusal";
}

}  // namespace
}  // namespace vx
