#include "transcoder/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

#include "platform/file_io.h"

namespace vx {

namespace {

// Set by the signal handler and read by every thread (the relays' pumps too): a lock-free atomic
// is both safe in a handler and free of data races.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void note_stop(int) {
  g_interrupted.store(true, std::memory_order_relaxed);
}

// SIGINT and SIGTERM held back for as long as it lives.
class StopsHeld {
 public:
  StopsHeld() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before_);
  }
  StopsHeld(const StopsHeld&) = delete;
  StopsHeld& operator=(const StopsHeld&) = delete;
  ~StopsHeld() { release(); }

  // Lets any stop that arrived meanwhile be noted now.
  void release() {
    if (released_) return;
    released_ = true;
    ::pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }

 private:
  sigset_t before_;
  bool released_ = false;
};

}  // namespace

void install_signal_handling() {
  struct sigaction action {};
  action.sa_handler = note_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

bool interrupted() {
  return g_interrupted.load(std::memory_order_relaxed);
}

void say(std::string_view line) {
  write_all(STDOUT_FILENO, line);
}

bool Pipe::open() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end.reset(ends[0]);
  write_end.reset(ends[1]);
  return true;
}

ssize_t read_some(int fd, char* into, std::size_t capacity) {
  for (;;) {
    const ssize_t count = ::read(fd, into, capacity);
    if (count >= 0 || errno != EINTR) return count;
  }
}

void read_until_end(int fd, std::size_t piece_size,
                    const std::function<void(std::string_view)>& take) {
  std::string buffer(piece_size, '\0');
  for (;;) {
    const ssize_t count = read_some(fd, buffer.data(), buffer.size());
    if (count <= 0) return;
    take(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
  }
}

int ChildPlan::next_pipe_number() const {
  int number = STDERR_FILENO + 1;
  for (const auto& [ours, theirs] : pipes)
    number = std::max(number, theirs + 1);
  return number;
}

namespace {

// The child starts with the stops held. Their default action comes first, so that a stop held
// for it ends it as soon as it lets them through; and it waits for the parent's word, which only
// comes when the parent had no stop before the fork (one that came after reached the child too).
[[noreturn]] void become_child(const ChildPlan& plan, int go) {
  // ffmpeg must not outlive a transcoder that is killed outright.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != plan.parent) _exit(127);
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGPIPE, SIG_DFL);
  char word = 0;
  if (read_some(go, &word, 1) != 1) _exit(127);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // Other threads may hold allocator locks: no allocation from here on. Every source is first
  // copied above the numbers being handed out, so none is overwritten before it is used.
  constexpr std::size_t kMaxPipes = 32;
  if (plan.pipes.size() > kMaxPipes) _exit(127);
  int sources[kMaxPipes];
  for (std::size_t k = 0; k < plan.pipes.size(); ++k) {
    sources[k] = ::fcntl(plan.pipes[k].first, F_DUPFD_CLOEXEC, 512);
    if (sources[k] < 0) _exit(127);
  }
  const int output = ::fcntl(plan.output, F_DUPFD_CLOEXEC, 512);
  const int null_input = plan.input >= 0 ? ::fcntl(plan.input, F_DUPFD_CLOEXEC, 512)
                                         : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (output < 0 || null_input < 0) _exit(127);
  for (std::size_t k = 0; k < plan.pipes.size(); ++k) {
    if (::dup2(sources[k], plan.pipes[k].second) < 0) _exit(127);
  }
  if (::dup2(null_input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
      ::dup2(output, STDERR_FILENO) < 0) {
    _exit(127);
  }
  ::execvp(plan.argv[0], plan.argv.data());
  _exit(127);
}

}  // namespace

pid_t start_child(ChildPlan& plan) {
  StopsHeld held;
  Pipe go;
  if (interrupted() || !go.open()) return -1;
  plan.parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) become_child(plan, go.read_end.get());
  if (pid < 0) return -1;
  held.release();
  if (interrupted()) {
    ::kill(pid, SIGKILL);
    wait_for(pid);
    return -1;
  }
  if (!write_all(go.write_end.get(), "g")) {
    ::kill(pid, SIGKILL);
    wait_for(pid);
    return -1;
  }
  return pid;
}

HelperResult run_helper(std::vector<std::string> arguments, std::chrono::milliseconds limit,
                        int output_number) {
  using Clock = std::chrono::steady_clock;
  HelperResult result;
  Pipe data;
  const UniqueFd nowhere(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!data.open() || !nowhere) return result;
  ChildPlan plan;
  plan.argv = argv_of(arguments);
  if (output_number == STDOUT_FILENO) {
    plan.output = data.write_end.get();
  } else {
    plan.output = nowhere.get();
    plan.pipes.emplace_back(data.write_end.get(), output_number);
  }
  const pid_t pid = start_child(plan);
  if (pid < 0) return result;
  data.write_end.reset();
  std::string bytes;
  const auto deadline = Clock::now() + limit;
  char buffer[64 * 1024];
  pollfd ready{data.read_end.get(), POLLIN, 0};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (interrupted() || left.count() <= 0) {
      result.timed_out = !interrupted();
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t count = read_some(data.read_end.get(), buffer, sizeof buffer);
    if (count <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  if (wait_for(pid) == 0 && !result.timed_out) result.output = std::move(bytes);
  return result;
}

int exit_status_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  return exit_status_of(status);
}

std::vector<char*> argv_of(std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  return argv;
}

namespace {

// Carries one served output from ffmpeg's pipe to its viewers until the pipe ends.
void pump(int fd, HttpFanout& fanout) {
  read_until_end(fd, 64 * 1024, [&fanout](std::string_view bytes) { fanout.feed(bytes); });
  fanout.finish();
}

}  // namespace

bool ServedOutputs::open(const std::vector<ServedOutput>& served) {
  // The fan-outs share the descriptors this process may hold.
  const std::size_t connections =
      fanout_connection_budget() / std::max<std::size_t>(served.size(), 1);
  for (const ServedOutput& output : served) {
    std::string error;
    FanoutConfig config = output.fanout;
    config.connection_limit = std::max<std::size_t>(connections, 1);
    fanouts_.push_back(HttpFanout::start(config, error));
    if (!fanouts_.back()) {
      say("morvi-transcoder: " + error + "; nothing started\n");
      return false;
    }
    pipes_.emplace_back();
    if (!pipes_.back().open()) {
      say("morvi-transcoder: no pipe for " + output.url + "; nothing started\n");
      return false;
    }
    numbers_.push_back(output.fd);
    targets_.push_back(output.target);
  }
  return true;
}

void ServedOutputs::hand_to(ChildPlan& plan) const {
  for (std::size_t k = 0; k < pipes_.size(); ++k) {
    plan.pipes.emplace_back(pipes_[k].write_end.get(), numbers_[k]);
  }
}

void ServedOutputs::start_pumping() {
  for (std::size_t k = 0; k < pipes_.size(); ++k) {
    pumps_.emplace_back(pump, pipes_[k].read_end.get(), std::ref(*fanouts_[k]));
  }
  std::vector<ViewerReports::Watched> watched;
  for (std::size_t k = 0; k < targets_.size(); ++k) {
    if (targets_[k] > 0) watched.push_back({targets_[k], fanouts_[k].get()});
  }
  reports_.start(watched);
}

void ServedOutputs::close_write_ends() {
  for (Pipe& pipe : pipes_)
    pipe.write_end.reset();
}

void ServedOutputs::join() {
  close_write_ends();
  for (std::thread& thread : pumps_) {
    if (thread.joinable()) thread.join();
  }
  reports_.stop();
}

}  // namespace vx
