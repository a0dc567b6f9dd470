// Fuzzes what morvi-transcoder does with its first input line before anything runs: the token
// check, the splitting into arguments, the thumbnail's option taken off its end, the alternate-
// input plan and the translation for stock ffmpeg. The first byte picks the translation's
// settings, the rest up to a line feed is the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transcoder/failover_plan.h"
#include "transcoder/thumbnail.h"
#include "transcoder/token_line.h"
#include "transcoder/translation.h"
#include "vocabulary/transcoder_protocol.h"

namespace {

constexpr std::string_view kRefusalStart = "morvi-transcoder: ";
constexpr std::string_view kNothingStarted = "; nothing started";

void check_token(std::string_view line, const std::optional<std::string>& arguments,
                 const std::string& error) {
  std::string_view expected = line;
  if (!expected.empty() && expected.back() == '\r') expected.remove_suffix(1);
  const std::string opening = std::string(vx::kTranscoderToken) + " ";
  if (!expected.starts_with(opening)) {
    // No argument line comes out of a line without the token and its space.
    if (arguments || !error.starts_with(kRefusalStart)) std::abort();
    return;
  }
  expected.remove_prefix(opening.size());
  const bool blank = expected.find_first_not_of(" \t") == std::string_view::npos;
  if (blank != !arguments) std::abort();
  if (arguments && *arguments != expected) std::abort();
  if (!arguments && !error.starts_with(kRefusalStart)) std::abort();
}

// Every argument written again and joined must split into the same arguments, whatever bytes
// the line gave them, and the written line holds no control byte that could end or forge a line.
void check_round_trip(const std::vector<std::string>& arguments) {
  std::string joined;
  for (const std::string& argument : arguments)
    vx::append_argument(joined, argument);
  for (char c : joined) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) std::abort();
  }
  if (vx::split_argument_line(joined) != arguments) std::abort();
}

void check_translation(const std::vector<std::string>& arguments, bool with_encoders) {
  vx::TranslationContext context;
  // No capture device can be found, and none of the host's is looked at.
  context.devices = {"/nonexistent/sys", "/nonexistent/proc", "/nonexistent/dev"};
  if (with_encoders) context.encoders = {"libx264", "aac", "mpeg2video", "mp2"};
  context.first_pipe_fd = 5;
  const vx::Translation translation = vx::translate_arguments(arguments, context);
  if (!translation.error.empty()) {
    if (!translation.arguments.empty() || !translation.served.empty()) std::abort();
    if (!translation.error.starts_with(kRefusalStart) ||
        !translation.error.ends_with(kNothingStarted)) {
      std::abort();
    }
    return;
  }
  for (std::size_t k = 0; k < translation.served.size(); ++k) {
    const vx::ServedOutput& served = translation.served[k];
    if (served.fd != context.first_pipe_fd + static_cast<int>(k)) std::abort();
    if (served.fanout.host.empty() || served.fanout.port == 0) std::abort();
    const std::string pipe = "pipe:" + std::to_string(served.fd);
    bool named = false;
    for (const std::string& argument : translation.arguments)
      named = named || argument == pipe;
    if (!named) std::abort();
  }
}

// The output part of a plan goes through the same translation as a whole plain line.
void check_plan(const std::vector<std::string>& arguments, bool with_encoders) {
  std::string error;
  const std::optional<vx::FailoverPlan> plan = vx::parse_failover_plan(arguments, error);
  if (!plan) {
    if (!error.starts_with(kRefusalStart)) std::abort();
    return;
  }
  const std::size_t primary = plan->primary_input.size();
  if (primary < 2 || plan->primary_input[primary - 2] != "-i") std::abort();
  if (plan->output.empty() || (!plan->video && !plan->audio)) std::abort();
  check_translation(plan->output, with_encoders);
}

// The thumbnail's option comes off the end of the line, or the line is refused; either way no
// thumbnail option is left for ffmpeg. False when the line is refused.
bool check_thumbnail(std::vector<std::string>& arguments) {
  const std::size_t count = arguments.size();
  std::string error;
  const std::optional<vx::Thumbnail> thumbnail = vx::take_thumbnail_option(arguments, error);
  if (!error.empty()) {
    if (thumbnail || !error.starts_with(kRefusalStart) || !error.ends_with(kNothingStarted)) {
      std::abort();
    }
    return false;
  }
  if (arguments.size() != (thumbnail ? count - 2 : count)) std::abort();
  if (thumbnail &&
      (!thumbnail->path.starts_with('/') || thumbnail->path.find('\0') != std::string::npos)) {
    std::abort();
  }
  for (const std::string& argument : arguments) {
    if (argument == vx::kThumbnailOption || argument == vx::kThumbnailKeyFramesOption) {
      std::abort();
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  line = line.substr(0, line.find('\n'));  // as std::getline hands it over

  std::string error;
  const std::optional<std::string> argument_line = vx::argument_line_from(line, error);
  check_token(line, argument_line, error);
  if (!argument_line) return 0;

  std::vector<std::string> arguments = vx::split_argument_line(*argument_line);
  check_round_trip(arguments);
  if (!check_thumbnail(arguments)) return 0;
  const bool with_encoders = (data[0] & 1) != 0;
  if (vx::is_failover_line(arguments)) {
    check_plan(arguments, with_encoders);
  } else {
    check_translation(arguments, with_encoders);
  }
  return 0;
}
