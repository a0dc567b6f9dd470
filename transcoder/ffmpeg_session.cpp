#include "transcoder/ffmpeg_session.h"

#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>

#include "transcoder/child_process.h"
#include "transcoder/output_relay.h"
#include "transcoder/relayed_outputs.h"
#include "transcoder/thumbnail_keeper.h"

namespace vx {
namespace {

// What a run that could not start returns.
constexpr int kNotStarted = -1;

// Starts ffmpeg with `arguments` and the pipes of `plan`, runs `started` once it runs, and relays
// what it prints until it ends. Its exit status, or kNotStarted (after one line that says why,
// unless a stop came first).
int run_ffmpeg(std::vector<std::string> arguments, ChildPlan plan, const std::string& ffmpeg,
               OutputRelay& relay, const std::function<void()>& started) {
  Pipe output;
  if (!output.open()) {
    say("morvi-transcoder: no pipe for ffmpeg's output; nothing started\n");
    return kNotStarted;
  }
  plan.argv = argv_of(arguments);
  plan.output = output.write_end.get();
  const pid_t pid = start_child(plan);
  if (pid < 0) {
    if (!interrupted()) say("morvi-transcoder: cannot start " + ffmpeg + "\n");
    return kNotStarted;
  }
  output.write_end.reset();
  started();
  relay.relay(output.read_end.get());
  return wait_for(pid);
}

// The line with the thumbnail's output added, its pipe among the child's.
std::vector<std::string> with_thumbnail(std::vector<std::string> arguments,
                                        const Thumbnail& thumbnail, int fd) {
  if (thumbnail.key_frames_only) decode_key_frames_only(arguments);
  const std::vector<std::string> output = thumbnail_output("0:v:0", fd);
  arguments.insert(arguments.end(), output.begin(), output.end());
  return arguments;
}

}  // namespace

int run_ffmpeg_session(const Translation& translation, const SessionOptions& options) {
  install_signal_handling();

  ServedOutputs served;
  if (!served.open(translation.served)) return 1;
  RelayedOutputs relayed(options.ffmpeg);
  if (!relayed.open(translation.relayed)) return 1;
  std::optional<ThumbnailKeeper> keeper;
  if (options.thumbnail && takes_a_thumbnail(translation)) {
    keeper.emplace(options.thumbnail->path);
    if (!keeper->open()) return 1;
  }

  std::vector<std::string> arguments = {options.ffmpeg, "-hide_banner", "-nostdin"};
  arguments.insert(arguments.end(), translation.arguments.begin(), translation.arguments.end());
  ChildPlan plan;
  served.hand_to(plan);
  relayed.hand_to(plan);
  bool pumping = false;
  const auto start_pumping = [&] {
    if (std::exchange(pumping, true)) return;
    served.start_pumping();
    relayed.start_pumping();
  };

  int status = kNotStarted;
  bool without_thumbnail = !keeper;
  if (keeper) {
    ChildPlan thumbnail_plan = plan;
    const int fd = thumbnail_plan.next_pipe_number();
    thumbnail_plan.pipes.emplace_back(keeper->write_end(), fd);
    // A source without a picture leaves the thumbnail's output without a stream, which ffmpeg
    // refuses before it writes anything: the line runs again without it.
    OutputRelay relay(options.frozen_video_seconds);
    relay.withhold(no_picture_line(translation.output_count));
    status = run_ffmpeg(with_thumbnail(arguments, *options.thumbnail, fd), thumbnail_plan,
                        options.ffmpeg, relay, [&] {
                          keeper->start();
                          start_pumping();
                        });
    keeper->finish();
    without_thumbnail = relay.withheld() && status != 0 && !interrupted();
    if (without_thumbnail) say("morvi-transcoder: the source has no picture; no thumbnail\n");
  }
  if (without_thumbnail) {
    OutputRelay relay(options.frozen_video_seconds);
    status = run_ffmpeg(arguments, plan, options.ffmpeg, relay, start_pumping);
  }
  served.join();
  relayed.join();
  if (status == kNotStarted) return interrupted() ? kInterruptedStatus : 1;
  return status;
}

}  // namespace vx
