#include "web/metrics.h"

#include <array>
#include <cmath>
#include <optional>
#include <string_view>
#include <vector>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/store.h"
#include "engine/channel_compiler.h"
#include "engine/channel_figures.h"
#include "engine/channel_status.h"
#include "engine/load_monitor.h"
#include "vocabulary/input_switch_report.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

// The label word of each state, in the engine's own terms (the status page folds some of them
// together for the browser).
struct StateLabel {
  ChannelState state;
  const char* label;
};
constexpr std::array<StateLabel, 6> kStateLabels = {{
    {ChannelState::idle, R"(state="idle")"},
    {ChannelState::extract, R"(state="extract")"},
    {ChannelState::running, R"(state="running")"},
    {ChannelState::preview, R"(state="preview")"},
    {ChannelState::no_signal, R"(state="no_signal")"},
    {ChannelState::stopping, R"(state="stopping")"},
}};

constexpr std::array<TargetState, 2> kTargetStates = {TargetState::on_air, TargetState::lost};

// One metric family: its HELP and TYPE lines, then its samples.
class Family {
 public:
  Family(std::string& text, const char* name, const char* type, const char* help)
      : text_(text), name_(name) {
    append_format(text_, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
  }
  // `labels` is the inside of the braces ("channel=\"1\""), or "" for none; `more` follows it
  // after a comma when given ("state=\"idle\"").
  void sample(std::string_view labels, double value, std::string_view more = {}) {
    text_ += name_;
    if (!labels.empty()) {
      text_ += '{';
      text_ += labels;
      if (!more.empty()) {
        text_ += ',';
        text_ += more;
      }
      text_ += '}';
    }
    text_ += ' ';
    // Whole numbers in full: memory in bytes has more digits than the shortest form keeps.
    if (value == std::floor(value) && std::fabs(value) < 9.0e15) {
      append_format(text_, "%lld\n", static_cast<long long>(value));
    } else {
      text_ += general_number_text(value);
      text_ += '\n';
    }
  }

 private:
  std::string& text_;
  const char* name_;
};

std::string channel_label(int index) {
  return "channel=\"" + std::to_string(index + 1) + "\"";
}

std::string target_label(int target) {
  return "target=\"" + std::to_string(target) + "\"";
}

struct ChannelView {
  std::string label;   // channel="N"
  ChannelState state;  // as the status page shows it (a bound channel shows its master's)
  bool enabled;
  ChannelFigures figures;
  std::vector<RelayedTarget> targets;
};

std::vector<ChannelView> channel_views(const cJSON* document) {
  std::vector<ChannelView> views;
  const cJSON* channels = config_array(document, "channels");
  int index = 0;
  for (const cJSON* channel = channels != nullptr ? channels->child : nullptr;
       channel != nullptr && channel_is_valid(channel); channel = channel->next, ++index) {
    views.push_back({channel_label(index), channel_state(channel_status_settings(channel), index),
                     config_bool(channel, "enable"), engine_channel_figures(index),
                     channel_target_states(index)});
  }
  return views;
}

using Figure = std::optional<double>;

// The families with one sample per channel; a figure the channel does not have yet is left out
// rather than shown as 0.
struct ChannelFamily {
  const char* name;
  const char* type;
  const char* help;
  Figure (*value)(const ChannelView& view);
};
constexpr std::array<ChannelFamily, 9> kChannelFamilies = {{
    {"vantorix_channel_enabled", "gauge", "1 while the channel is meant to run (its \"enable\").",
     [](const ChannelView& view) -> Figure { return view.enabled ? 1 : 0; }},
    {"vantorix_channel_frames_per_second", "gauge",
     "Frames per second the transcoder last reported.",
     [](const ChannelView& view) -> Figure {
       return view.figures.fps >= 0 ? Figure(view.figures.fps) : std::nullopt;
     }},
    // In bytes, Prometheus's base unit (its checker refuses bits); times 8 gives the bit rate.
    {"vantorix_channel_bitrate_bytes_per_second", "gauge",
     "Output bit rate the transcoder last reported, in bytes per second.",
     [](const ChannelView& view) -> Figure {
       return view.figures.bitrate_kbps >= 0 ? Figure(view.figures.bitrate_kbps * 1000.0 / 8)
                                             : std::nullopt;
     }},
    {"vantorix_channel_position_seconds", "gauge", "Stream position the transcoder last reported.",
     [](const ChannelView& view) -> Figure {
       return view.figures.position_seconds >= 0 ? Figure(view.figures.position_seconds)
                                                 : std::nullopt;
     }},
    {"vantorix_channel_starts_total", "counter",
     "Transcoders launched for the channel since the program started.",
     [](const ChannelView& view) -> Figure { return static_cast<double>(view.figures.starts); }},
    {"vantorix_channel_ends_total", "counter",
     "Transcoders of the channel that ended since the program started.",
     [](const ChannelView& view) -> Figure { return static_cast<double>(view.figures.ends); }},
    {"vantorix_channel_last_exit_code", "gauge",
     "Exit status of the channel's last transcoder that ended (128 + N for signal N).",
     [](const ChannelView& view) -> Figure {
       return view.figures.last_exit_code ? Figure(*view.figures.last_exit_code) : std::nullopt;
     }},
    {"vantorix_channel_seconds_since_start", "gauge",
     "Seconds since the channel's latest transcoder was launched.",
     [](const ChannelView& view) -> Figure {
       return view.figures.seconds_since_start
                  ? Figure(static_cast<double>(*view.figures.seconds_since_start))
                  : std::nullopt;
     }},
    {"vantorix_channel_alternate_input", "gauge",
     "1 while the channel streams its alternate input (the slate) because its live inputs "
     "failed.",
     [](const ChannelView& view) -> Figure { return view.figures.on_alternate_input ? 1 : 0; }},
}};

// The inputs a failover line names, in the switch's order: the primary, its standby sources,
// the slate when it has one.
std::vector<int> failover_inputs_of(const ChannelFigures::Failover& failover) {
  std::vector<int> inputs = {kPrimaryInput};
  for (int standby = 1; standby <= failover.standby_inputs; ++standby)
    inputs.push_back(standby);
  if (failover.slate) inputs.push_back(kSlateInput);
  return inputs;
}

bool runs_a_transcoder(ChannelState state) {
  return state == ChannelState::running || state == ChannelState::no_signal;
}

void append_failover_metrics(std::string& text, const std::vector<ChannelView>& views) {
  Family input(text, "vantorix_channel_input", "gauge",
               "1 for the input a running failover channel has on air (primary, standby K, "
               "slate), 0 for its other inputs.");
  for (const ChannelView& view : views) {
    const std::optional<ChannelFigures::Failover>& failover = view.figures.failover;
    if (!failover || !runs_a_transcoder(view.figures.state)) continue;
    for (const int each : failover_inputs_of(*failover)) {
      input.sample(view.label, each == failover->input_on_air ? 1 : 0,
                   "input=\"" + input_label(each) + "\"");
    }
  }
  Family switches(text, "vantorix_channel_input_switches_total", "counter",
                  "Switches of the channel's failover between its inputs since the program "
                  "started, by reason (timeout, black, silence, frozen, recovered).");
  for (const ChannelView& view : views) {
    for (std::size_t reason = 0; reason < kSwitchReasonCount; ++reason) {
      switches.sample(
          view.label, static_cast<double>(view.figures.input_switches[reason]),
          "reason=\"" + std::string(switch_reason_label(static_cast<SwitchReason>(reason))) + "\"");
    }
  }
}

void append_channel_metrics(std::string& text, const std::vector<ChannelView>& views) {
  Family state(text, "vantorix_channel_state", "gauge",
               "1 for the state the channel is in, 0 for the others.");
  for (std::size_t i = 0; i < views.size(); ++i) {
    for (const StateLabel& label : kStateLabels) {
      state.sample(views[i].label, views[i].state == label.state ? 1 : 0, label.label);
    }
  }
  for (const ChannelFamily& family : kChannelFamilies) {
    Family samples(text, family.name, family.type, family.help);
    for (std::size_t i = 0; i < views.size(); ++i) {
      if (const Figure value = family.value(views[i])) {
        samples.sample(views[i].label, *value);
      }
    }
  }
  append_failover_metrics(text, views);
  Family target_state(text, "vantorix_target_state", "gauge",
                      "1 for the state a relayed target is in (on air, lost).");
  for (std::size_t i = 0; i < views.size(); ++i) {
    for (const RelayedTarget& target : views[i].targets) {
      for (const TargetState word : kTargetStates) {
        target_state.sample(views[i].label + "," + target_label(target.number),
                            target.state == word ? 1 : 0,
                            std::string("state=\"") + target_state_word(word) + "\"");
      }
    }
  }
  Family viewers(text, "vantorix_output_viewers", "gauge",
                 "Viewers connected to an output the transcoder serves over HTTP.");
  for (std::size_t i = 0; i < views.size(); ++i) {
    const auto& served = views[i].figures.served_viewers;
    for (std::size_t target = 0; target < served.size(); ++target) {
      if (served[target]) {
        viewers.sample(views[i].label, *served[target], target_label(static_cast<int>(target) + 1));
      }
    }
  }
}

// The host's figures as the engine holds them.
struct HostView {
  std::vector<int> cpu;
  std::optional<int> gpu;
  ProgramFigures program;
};

HostView host_view() {
  HostView view;
  for (int index = 0; index < engine_cpu_count(); ++index)
    view.cpu.push_back(engine_cpu_load(index));
  if (engine_gpu_available()) view.gpu = engine_gpu_load();
  view.program = engine_program_figures();
  return view;
}

void append_host_metrics(std::string& text, const HostView& host) {
  Family cpu(text, "vantorix_cpu_load_percent", "gauge", "Load of each logical processor.");
  for (std::size_t index = 0; index < host.cpu.size(); ++index)
    cpu.sample("cpu=\"" + std::to_string(index) + "\"", host.cpu[index]);
  if (host.gpu) {
    Family gpu(text, "vantorix_gpu_load_percent", "gauge", "Load of the GPUs together.");
    gpu.sample("", *host.gpu);
  }
  Family memory(text, "vantorix_resident_memory_bytes", "gauge",
                "Resident memory of the program (its transcoders not included).");
  memory.sample("", static_cast<double>(host.program.resident_bytes));
  Family uptime(text, "vantorix_uptime_seconds", "gauge", "Seconds since the program started.");
  uptime.sample("", static_cast<double>(host.program.uptime_seconds));
  Family build(text, "vantorix_build_info", "gauge", "The program's version, as a label.");
  build.sample(std::string("version=\"") + version_text() + "\"", 1);
}

std::string text_of(const std::vector<ChannelView>& channels, const HostView& host) {
  std::string text;
  text.reserve(32768);  // sixteen channels with their figures fit
  append_channel_metrics(text, channels);
  append_host_metrics(text, host);
  return text;
}

}  // namespace

// The figures are copied under the core lock and written out after it, so concurrent scrapes and
// the status page wait on each other only as long as the copy takes.
WebAnswer answer_metrics() {
  std::vector<ChannelView> channels;
  HostView host;
  {
    const CoreLock lock = core_lock();
    channels = channel_views(config_document());
    host = host_view();
  }
  return WebAnswer{
      200,
      {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}, {"Cache-Control", "no-cache"}},
      text_of(channels, host)};
}

}  // namespace vx
