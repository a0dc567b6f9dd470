// morvi-transcoder: started by the engine with no arguments. Its first input line is the access
// token and the argument line; it runs ffmpeg with that line and exits with ffmpeg's status.
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/descriptor_limit.h"
#include "platform/encoder_list.h"
#include "platform/file_io.h"
#include "transcoder/child_process.h"
#include "transcoder/failover_plan.h"
#include "transcoder/failover_session.h"
#include "transcoder/ffmpeg_session.h"
#include "transcoder/thumbnail.h"
#include "transcoder/token_line.h"
#include "transcoder/translation.h"
#include "vocabulary/transcoder_protocol.h"

namespace {

int refuse(const std::string& line) {
  vx::write_all(STDOUT_FILENO, line + "\n");
  return 1;
}

// The listing runs as the transcoder's other helpers do: a stop cuts it short, and a listing that
// gives no answer in time is said in the channel log.
std::optional<std::string> ask_for_encoders(std::vector<std::string> argv) {
  const std::string command = argv.empty() ? std::string() : argv.front();
  const vx::HelperResult listing =
      vx::run_helper(std::move(argv), vx::kEncoderListLimit, STDOUT_FILENO);
  if (listing.timed_out) {
    vx::say("morvi-transcoder: \"" + command + " -encoders\" gave no answer within " +
            std::to_string(vx::kEncoderListLimit.count()) +
            " s and was stopped; encoders not checked\n");
  }
  return listing.output;
}

int frozen_video_seconds() {
  // Tests shorten the wait; operators never set it.
  const char* configured = std::getenv("MORVI_FROZEN_VIDEO_SECONDS");
  const int seconds = configured != nullptr ? std::atoi(configured) : 0;
  return seconds > 0 ? seconds : vx::kFrozenVideoSeconds;
}

}  // namespace

int main() {
  // From here on a stop is noted rather than fatal, so that one arriving while the session starts
  // still ends it in order.
  vx::install_signal_handling();
  // Every viewer of a served output is a descriptor; the usual soft limit of 1,024 is far below
  // what the system allows a server.
  vx::raise_descriptor_limit();
  std::string first_line;
  std::getline(std::cin, first_line);
  std::string error;
  const std::optional<std::string> line = vx::argument_line_from(first_line, error);
  if (!line) return refuse(error);

  vx::SessionOptions options;
  std::vector<std::string> arguments = vx::split_argument_line(*line);
  // The thumbnail's option ends the line and is never ffmpeg's: it goes before anything reads it.
  options.thumbnail = vx::take_thumbnail_option(arguments, error);
  if (!error.empty()) return refuse(error);
  options.ffmpeg = vx::ffmpeg_program();
  options.frozen_video_seconds = frozen_video_seconds();
  vx::TranslationContext context;
  context.encoders = vx::ffmpeg_encoders(options.ffmpeg, ask_for_encoders);
  if (vx::interrupted()) return vx::kInterruptedStatus;
  if (vx::is_failover_line(arguments)) {
    // Kept alive on the alternate input: decoders, the switch and one encoder.
    const std::optional<vx::FailoverPlan> plan = vx::parse_failover_plan(arguments, error);
    if (!plan) return refuse(error);
    return vx::run_failover_session(*plan, context, options);
  }
  const vx::Translation translation = vx::translate_arguments(arguments, context);
  if (!translation.error.empty()) return refuse(translation.error);
  return vx::run_ffmpeg_session(translation, options);
}
