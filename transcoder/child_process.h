// The children the transcoder runs (ffmpeg for the output, and the decoders of a failover):
// forked into our process group, dying with us, their output on a pipe of ours, any of our
// pipes handed over under the numbers they expect.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"
#include "transcoder/http_fanout.h"

namespace vx {

// ffmpeg shares our process group, so an orderly stop sent to the group (as the engine sends it)
// reaches it directly. It must arrive exactly once: a second SIGINT makes ffmpeg abandon its
// output's trailer. So the transcoder only survives SIGINT and SIGTERM and waits for ffmpeg to
// finish; SIGPIPE is ignored so a reader that goes away shows as a failed write.
void install_signal_handling();

// Writes to our standard output, which the engine reads.
void say(std::string_view line);

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
  bool open();
};

// What the child does between fork and exec: only calls that are safe there.
struct ChildPlan {
  std::vector<char*> argv;
  int output = -1;                         // becomes standard output and error
  std::vector<std::pair<int, int>> pipes;  // (our descriptor, number the child sees)
  pid_t parent = 0;
};

// -1 when the fork failed. The child gets standard input from /dev/null, an empty signal mask
// and default dispositions, and is killed when the transcoder dies.
pid_t start_child(ChildPlan& plan);

// The exit status: its own, or 128 + N after signal N.
int exit_status_of(int status);
int wait_for(pid_t pid);

// argv for execvp; the strings must outlive it.
std::vector<char*> argv_of(std::vector<std::string>& arguments);

// Carries one served output from ffmpeg's pipe to its viewers until the pipe ends.
void pump(int fd, HttpFanout& fanout);

}  // namespace vx
