#include "transcoder/ffmpeg_session.h"

#include <cstdlib>

#include "transcoder/child_process.h"
#include "transcoder/output_relay.h"
#include "transcoder/relayed_outputs.h"

namespace vx {

int run_ffmpeg_session(const Translation& translation, const SessionOptions& options) {
  install_signal_handling();

  ServedOutputs served;
  if (!served.open(translation.served)) return 1;
  RelayedOutputs relayed(options.ffmpeg);
  if (!relayed.open(translation.relayed)) return 1;
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
  served.hand_to(plan);
  relayed.hand_to(plan);
  const pid_t pid = start_child(plan);
  if (pid < 0) {
    if (interrupted()) return kInterruptedStatus;
    say("morvi-transcoder: cannot start " + options.ffmpeg + "\n");
    return 1;
  }
  output.write_end.reset();

  served.start_pumping();
  relayed.start_pumping();

  OutputRelay(options.frozen_video_seconds).relay(output.read_end.get());
  const int status = wait_for(pid);
  served.join();
  relayed.join();
  return status;
}

}  // namespace vx
