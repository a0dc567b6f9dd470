// The children the transcoder runs (ffmpeg for the output, and the decoders of a failover):
// forked into our process group, dying with us, their output on a pipe of ours, any of our
// pipes handed over under the numbers they expect.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"
#include "transcoder/http_fanout.h"
#include "transcoder/translation.h"
#include "transcoder/viewer_reports.h"

namespace vx {

// ffmpeg shares our process group, so an orderly stop sent to the group (as the engine sends it)
// reaches it directly. It must arrive exactly once: a second SIGINT makes ffmpeg abandon its
// output's trailer. So the transcoder only survives SIGINT and SIGTERM, notes them and waits for
// ffmpeg to finish; SIGPIPE is ignored so a reader that goes away shows as a failed write.
void install_signal_handling();

// True once SIGINT or SIGTERM arrived: a session still starting must not start anything more,
// as the stop was meant for children that do not exist yet.
bool interrupted();

// What the transcoder exits with when a stop arrived before its encoder ran.
inline constexpr int kInterruptedStatus = 130;

// Writes to our standard output, which the engine reads.
void say(std::string_view line);

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
  bool open();
};

// One read of up to `capacity` bytes, retried while a signal interrupts it: the byte count, 0 once
// every writer has closed the pipe, -1 on a failure.
ssize_t read_some(int fd, char* into, std::size_t capacity);

// Reads until the pipe ends (or fails), handing on each piece of at most `piece_size` bytes as it
// arrives.
void read_until_end(int fd, std::size_t piece_size,
                    const std::function<void(std::string_view)>& take);

// What the child does between fork and exec: only calls that are safe there.
struct ChildPlan {
  std::vector<char*> argv;
  int output = -1;                         // becomes standard output and error
  int input = -1;                          // becomes standard input; -1: /dev/null
  std::vector<std::pair<int, int>> pipes;  // (our descriptor, number the child sees)
  pid_t parent = 0;

  // The number after every pipe the child gets so far (3 when it gets none).
  int next_pipe_number() const;
};

// -1 when the fork failed or a stop has arrived (interrupted() tells). A stop arriving while the
// child is forked either reaches the child as well or prevents its exec, so no child ever runs
// that missed it. The child gets standard input from plan.input (else /dev/null), an empty signal
// mask and default dispositions, and is killed when the transcoder dies.
pid_t start_child(ChildPlan& plan);

// A short-lived helper (a probe, the one still picture, ffmpeg's encoder list), killed after
// `limit` and at a stop.
struct HelperResult {
  std::optional<std::string> output;  // what it wrote, when it ended with status 0
  bool timed_out = false;
};
// Takes what the helper writes on `output_number`: 1 for its standard output (then its standard
// error too), or 3 for a pipe of its own (its messages are then dropped).
HelperResult run_helper(std::vector<std::string> arguments, std::chrono::milliseconds limit,
                        int output_number);

// The exit status: its own, or 128 + N after signal N.
int exit_status_of(int status);
int wait_for(pid_t pid);

// argv for execvp; the strings must outlive it.
std::vector<char*> argv_of(std::vector<std::string>& arguments);

// The outputs ffmpeg writes into pipes that the transcoder serves over HTTP(S): their fan-outs,
// the pipes, one thread per output carrying the bytes to the viewers until ffmpeg ends, and the
// reports of their viewer counts.
class ServedOutputs {
 public:
  ServedOutputs() = default;
  ServedOutputs(const ServedOutputs&) = delete;
  ServedOutputs& operator=(const ServedOutputs&) = delete;
  ~ServedOutputs() { join(); }

  // Starts every fan-out and opens its pipe; false after one line that says why.
  bool open(const std::vector<ServedOutput>& served);
  // Hands the pipes to the child under the numbers its arguments name.
  void hand_to(ChildPlan& plan) const;
  // Once the child runs: the pumps start and the viewer reports begin. Our write ends stay open,
  // so that a child started again in its place writes into the same pipes.
  void start_pumping();
  // Once no other child will get the pipes: our write ends close, and the pumps end with the
  // child's.
  void close_write_ends();
  // Once the child is gone: our write ends close, and it waits until every pipe has ended; the
  // viewer reports end with them.
  void join();

 private:
  std::vector<int> numbers_;
  std::vector<int> targets_;
  std::vector<std::unique_ptr<HttpFanout>> fanouts_;
  std::vector<Pipe> pipes_;
  std::vector<std::thread> pumps_;
  ViewerReports reports_;  // after the fan-outs: it stops before they go
};

}  // namespace vx
