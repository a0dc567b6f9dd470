#include "transcoder/ffmpeg_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace vx {
namespace {

// ffmpeg shares our process group, so an orderly stop sent to the group (as the engine sends it)
// reaches it directly. It must arrive exactly once: a second SIGINT makes ffmpeg abandon its
// output's trailer. So the transcoder only survives the signal and waits for ffmpeg to finish.
void survive_signal(int) {}

void install_signal_handling() {
  struct sigaction action {};
  action.sa_handler = survive_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

void say(std::string_view line) {
  write_all(STDOUT_FILENO, line);
}

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
  bool open() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    read_end.reset(ends[0]);
    write_end.reset(ends[1]);
    return true;
  }
};

// What the child does between fork and exec: only calls that are safe there.
struct ChildPlan {
  std::vector<char*> argv;
  int output = -1;                         // becomes standard output and error
  std::vector<std::pair<int, int>> pipes;  // (our descriptor, number the child sees)
  pid_t parent = 0;
};

[[noreturn]] void become_child(const ChildPlan& plan) {
  // ffmpeg must not outlive a transcoder that is killed outright.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != plan.parent) _exit(127);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGPIPE, SIG_DFL);
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
  const int null_input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
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

pid_t start_child(ChildPlan& plan) {
  plan.parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) become_child(plan);
  return pid;
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

// Carries one served output from ffmpeg's pipe to its viewers.
void pump(int fd, HttpFanout& fanout) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    fanout.feed(std::string_view(buffer, static_cast<std::size_t>(count)));
  }
  fanout.finish();
}

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string ffmpeg_program() {
  const char* configured = std::getenv("MORVI_FFMPEG");
  return configured != nullptr && *configured != '\0' ? configured : "ffmpeg";
}

std::set<std::string> ffmpeg_encoders(const std::string& ffmpeg) {
  Pipe output;
  if (!output.open()) return {};
  std::vector<std::string> arguments = {ffmpeg, "-hide_banner", "-encoders"};
  ChildPlan plan;
  plan.argv = argv_of(arguments);
  plan.output = output.write_end.get();
  const pid_t pid = start_child(plan);
  if (pid < 0) return {};
  output.write_end.reset();
  std::string listing;
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t count = ::read(output.read_end.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    listing.append(buffer, static_cast<std::size_t>(count));
  }
  return wait_for(pid) == 0 ? parse_encoder_list(listing) : std::set<std::string>{};
}

int run_ffmpeg_session(const Translation& translation, const SessionOptions& options) {
  install_signal_handling();

  std::vector<std::unique_ptr<HttpFanout>> fanouts;
  std::vector<Pipe> served_pipes(translation.served.size());
  for (std::size_t k = 0; k < translation.served.size(); ++k) {
    std::string error;
    fanouts.push_back(HttpFanout::start(translation.served[k].fanout, error));
    if (!fanouts.back()) {
      say("morvi-transcoder: " + error + "; nothing started\n");
      return 1;
    }
    if (!served_pipes[k].open()) {
      say("morvi-transcoder: no pipe for " + translation.served[k].url + "; nothing started\n");
      return 1;
    }
  }
  Pipe output;
  if (!output.open()) {
    say("morvi-transcoder: no pipe for ffmpeg's output; nothing started\n");
    return 1;
  }

  std::vector<std::string> arguments = {options.ffmpeg, "-hide_banner", "-nostdin"};
  arguments.insert(arguments.end(), translation.arguments.begin(), translation.arguments.end());
  ChildPlan plan;
  plan.argv = argv_of(arguments);
  plan.output = output.write_end.get();
  for (std::size_t k = 0; k < served_pipes.size(); ++k) {
    plan.pipes.emplace_back(served_pipes[k].write_end.get(), translation.served[k].fd);
  }
  const pid_t pid = start_child(plan);
  if (pid < 0) {
    say("morvi-transcoder: cannot start " + options.ffmpeg + "\n");
    return 1;
  }
  output.write_end.reset();

  std::vector<std::thread> pumps;
  for (std::size_t k = 0; k < served_pipes.size(); ++k) {
    served_pipes[k].write_end.reset();
    pumps.emplace_back(pump, served_pipes[k].read_end.get(), std::ref(*fanouts[k]));
  }

  ProgressWatch watch(options.frozen_video_seconds);
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t count = ::read(output.read_end.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    const std::string_view text(buffer, static_cast<std::size_t>(count));
    say(text);
    if (watch.frozen_after(text, seconds_now())) say("\noutput video frame freezing\n");
  }
  const int status = wait_for(pid);
  for (std::thread& thread : pumps)
    thread.join();
  return status;
}

}  // namespace vx
