#include "transcoder/failover_plan.h"

#include <algorithm>
#include <cstddef>
#include <charconv>
#include <string_view>

#include "vocabulary/input_switch_report.h"
#include "vocabulary/transcoder_protocol.h"

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

bool ends_input_search(std::string_view argument) {
  return is_graph_option(argument) || argument == kStandbyInputOption ||
         argument == kSwitchOnOption;
}

// "-re -f lavfi -i pal100bars", "-re -stream_loop -1 -i FILE" or a standby's own options: the
// input options from `i` up to and including the next "-i VALUE". Moves `i` past them; nullopt
// when a graph, a standby or the content limits come first.
std::optional<std::vector<std::string>> next_input(const std::vector<std::string>& arguments,
                                                   std::size_t& i) {
  std::vector<std::string> input;
  while (i < arguments.size() && !ends_input_search(arguments[i])) {
    input.push_back(arguments[i]);
    if (arguments[i] == "-i" && i + 1 < arguments.size()) {
      input.push_back(arguments[i + 1]);
      i += 2;
      return input;
    }
    ++i;
  }
  return std::nullopt;
}

// "black=S:silence=S:frozen=S", any of them, each once.
bool read_switch_on(std::string_view text, FailoverPlan& plan, std::string& error) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(':'), text.size());
    const std::string_view item = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const std::size_t equals = item.find('=');
    const std::string_view key = item.substr(0, equals);
    std::int32_t* seconds = nullptr;
    for (std::size_t k = 0; k < kSwitchOnKeys.size(); ++k) {
      if (key == kSwitchOnKeys[k]) seconds = &plan.switch_on.at(k);
    }
    int value = -1;
    const std::string_view number =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    const auto [at, problem] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (seconds == nullptr || problem != std::errc() || at != number.data() + number.size() ||
        number.empty() || value < 0 || value > kMaxSwitchOnSeconds) {
      error = "morvi-transcoder: cannot switch on \"" + std::string(item) +
              "\": black, silence or frozen, each 0 to " + std::to_string(kMaxSwitchOnSeconds) +
              " seconds";
      return false;
    }
    *seconds = value;
  }
  return true;
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
    if (arguments[i] == kSwitchOnOption) {
      if (i + 1 >= arguments.size() || !read_switch_on(arguments[i + 1], plan, error)) {
        if (error.empty()) error = "morvi-transcoder: -switch_on without its limits";
        return std::nullopt;
      }
      i += 2;
      continue;
    }
    const bool standby = arguments[i] == kStandbyInputOption;
    if (standby) ++i;
    std::optional<std::vector<std::string>> input = next_input(arguments, i);
    if (!input) {
      if (!standby) break;
      error = "morvi-transcoder: a standby source without its \"-i\" input";
      return std::nullopt;
    }
    if (standby) {
      if (plan.standby_inputs.size() == static_cast<std::size_t>(kMaxStandbySources)) {
        error = "morvi-transcoder: at most " + std::to_string(kMaxStandbySources) +
                " standby sources";
        return std::nullopt;
      }
      plan.standby_inputs.push_back(std::move(*input));
      continue;
    }
    plan.slate = true;
    const std::string& url = input->back();
    if (url == kBars || url == kSilence) continue;
    if (!plan.alternate_file.empty()) {
      error = "morvi-transcoder: continuous streaming takes one alternate file, not \"" + url +
              "\"";
      return std::nullopt;
    }
    plan.alternate_file = url;
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
