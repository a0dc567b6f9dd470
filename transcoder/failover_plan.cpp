#include "transcoder/failover_plan.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace vx {
namespace {

constexpr std::string_view kPrimaryFiltersEnd = "[fv0]; ";
constexpr std::string_view kBars = "pal100bars";
constexpr std::string_view kSilence = "aevalsrc=0";

bool is_graph_option(std::string_view argument) {
  return argument == "-lavfi:v" || argument == "-lavfi:a";
}

// Where the alternate inputs begin: right after the primary's "-i URL", which must come before
// the first graph. 0 when there is no such input.
std::size_t after_first_input(const std::vector<std::string>& arguments) {
  for (std::size_t i = 0; i + 1 < arguments.size() && !is_graph_option(arguments[i]); ++i) {
    if (arguments[i] == "-i") return is_graph_option(arguments[i + 1]) ? 0 : i + 2;
  }
  return 0;
}

// "-re -f lavfi -i pal100bars", "-re -f lavfi -i aevalsrc=0" or "-re -stream_loop -1 -i FILE":
// the input options up to and including the next "-i VALUE". Returns the value and moves `i`.
std::optional<std::string> next_input(const std::vector<std::string>& arguments, std::size_t& i) {
  while (i < arguments.size() && !is_graph_option(arguments[i])) {
    if (arguments[i] == "-i" && i + 1 < arguments.size()) {
      i += 2;
      return arguments[i - 1];
    }
    ++i;
  }
  return std::nullopt;
}

}  // namespace

bool is_failover_line(const std::vector<std::string>& arguments) {
  return std::any_of(arguments.begin(), arguments.end(),
                     [](const std::string& argument) { return is_graph_option(argument); });
}

std::optional<FailoverPlan> parse_failover_plan(const std::vector<std::string>& arguments,
                                                std::string& error) {
  FailoverPlan plan;
  const std::size_t primary_end = after_first_input(arguments);
  if (primary_end == 0) {
    error = "morvi-transcoder: continuous streaming needs a primary input before its graphs";
    return std::nullopt;
  }
  plan.primary_input.assign(arguments.begin(), arguments.begin() + primary_end);

  std::size_t i = primary_end;
  while (i < arguments.size() && !is_graph_option(arguments[i])) {
    const std::optional<std::string> input = next_input(arguments, i);
    if (!input) break;
    if (*input == kBars || *input == kSilence) continue;
    if (!plan.alternate_file.empty()) {
      error =
          "morvi-transcoder: continuous streaming takes one alternate file, not \"" + *input + "\"";
      return std::nullopt;
    }
    plan.alternate_file = *input;
  }

  while (i + 1 < arguments.size() && is_graph_option(arguments[i])) {
    const std::string& graph = arguments[i + 1];
    if (arguments[i] == "-lavfi:v") {
      if (graph.find("streamselect") == std::string::npos) {
        error = "morvi-transcoder: the picture graph does not switch inputs (" + graph + ")";
        return std::nullopt;
      }
      plan.video = true;
      const std::size_t end = graph.find(kPrimaryFiltersEnd);
      if (end != std::string::npos) plan.primary_filters = graph.substr(0, end);
    } else {
      if (graph != "astreamselect") {
        error = "morvi-transcoder: the sound graph does not switch inputs (" + graph + ")";
        return std::nullopt;
      }
      plan.audio = true;
    }
    i += 2;
  }
  if (!plan.video && !plan.audio) {
    error = "morvi-transcoder: continuous streaming without a picture or sound graph";
    return std::nullopt;
  }
  if (i < arguments.size() && is_graph_option(arguments[i])) {
    error = "morvi-transcoder: " + arguments[i] + " without its graph";
    return std::nullopt;
  }
  plan.output.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
  if (plan.output.empty()) {
    error = "morvi-transcoder: continuous streaming without an output";
    return std::nullopt;
  }
  return plan;
}

}  // namespace vx
