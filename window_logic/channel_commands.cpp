#include "window_logic/channel_commands.h"

#include "config/core_lock.h"
#include "config/document.h"
#include "config/store.h"
#include "vocabulary/product.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

DialogMessage information(const char* title, const char* text) {
  return {title, text, MessageIcon::information};
}

bool carries_media(const cJSON* target) {
  return config_bool(config_object(target, "video"), "enable") ||
         config_bool(config_object(target, "audio"), "enable");
}

}  // namespace

CommandRow command_row(ChannelCommand command, CommandOrigin origin, std::optional<int> selected,
                       std::optional<int> hovered) {
  if (origin == CommandOrigin::hover) return {hovered, std::nullopt};
  if (selected) return {selected, std::nullopt};
  const char* title = command == ChannelCommand::stop ? "Stop Channel" : "Start Channel";
  return {std::nullopt, information(title, "Please select channel first.")};
}

std::optional<DialogMessage> start_refusal(const cJSON* channel) {
  const cJSON* targets = config_array(config_object(channel, "output"), "targets");
  const cJSON* target = nullptr;
  cJSON_ArrayForEach(target, targets) {
    if (!carries_media(target)) {
      return DialogMessage{"Settings Error", "No video/audio output enabled!", MessageIcon::error};
    }
  }
  return std::nullopt;
}

DialogMessage start_failure_message(int row, int code) {
  std::string text;
  append_format(text, "Start transcoding on channel #%d failed! (code=%d)", row + 1, code);
  return {"Error", std::move(text), MessageIcon::error};
}

std::optional<DialogMessage> start_from_window(Supervisor& supervisor, CommandOrigin origin,
                                               std::optional<int> selected,
                                               std::optional<int> hovered) {
  const CommandRow target = command_row(ChannelCommand::start, origin, selected, hovered);
  if (!target.row) return target.message;
  const int row = *target.row;
  if (supervisor.row_state(row) == ChannelState::idle) {
    std::optional<DialogMessage> refusal;
    {
      const CoreLock lock = core_lock();
      refusal = start_refusal(cJSON_GetArrayItem(config_array(config_document(), "channels"), row));
    }
    if (refusal) return refusal;
  }
  const int code = supervisor.start_channel(row);
  if (code != 0) return start_failure_message(row, code);
  return std::nullopt;
}

StopOutcome stop_from_window(Supervisor& supervisor, CommandOrigin origin,
                             std::optional<int> selected, std::optional<int> hovered) {
  const CommandRow target = command_row(ChannelCommand::stop, origin, selected, hovered);
  if (!target.row) return {target.message, std::nullopt, std::nullopt};
  const int row = *target.row;
  supervisor.stop_channel(row);
  StopOutcome outcome;
  outcome.carrier = supervisor.row_carrier(row);
  if (outcome.carrier) {
    std::string text;
    append_format(text,
                  "Channel #%d is bound to channel #%d and shows its transcoder, which keeps "
                  "running.\nStop channel #%d (and every channel bound to it)?",
                  row + 1, *outcome.carrier + 1, *outcome.carrier + 1);
    outcome.question = DialogMessage{"Stop Channel", std::move(text), MessageIcon::information};
  }
  return outcome;
}

void stop_carrier_from_window(Supervisor& supervisor, int carrier) {
  supervisor.stop_channel(carrier);
}

int channels_ending_with_program(const Supervisor& supervisor) {
  int count = 0;
  for (int row = 0; row < supervisor.row_count(); ++row) {
    if (supervisor.row_state(row) != ChannelState::idle || supervisor.restart_pending(row)) ++count;
  }
  return count;
}

std::optional<DialogMessage> exit_question(int running) {
  if (running <= 0) return std::nullopt;
  std::string text;
  append_format(text, "Exit %s? %d %s running and will stop.", kProductName, running,
                running == 1 ? "channel is" : "channels are");
  return DialogMessage{std::string("Exit ") + kProductName, text, MessageIcon::warning};
}

}  // namespace vx
