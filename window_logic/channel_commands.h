// Start and Stop as the desktop window asks for them: the Start and Stop buttons act on the
// selected row, the hover buttons on the row under the pointer, and a start is checked against
// the channel that is to start, never against whatever the editor panel happens to show. The
// supervisor carries the command out; these say which row and what box the window shows.
#pragma once

#include <cjson/cJSON.h>

#include <optional>

#include "app/supervisor.h"
#include "settings/advanced_format.h"

namespace vx {

// Where a command came from: a button below the list or a row's hover button.
enum class CommandOrigin { button, hover };

// The row the command is for, or the box to show when a button finds no selected row.
struct CommandRow {
  std::optional<int> row;
  std::optional<DialogMessage> message;
};
CommandRow command_row(ChannelCommand command, CommandOrigin origin, std::optional<int> selected,
                       std::optional<int> hovered);

// "No video/audio output enabled!" when a target of the channel carries neither video nor
// audio (the transcoder could not write it); nullopt when it may start.
std::optional<DialogMessage> start_refusal(const cJSON* channel);

// "Start transcoding on channel #N failed! (code=C)".
DialogMessage start_failure_message(int row, int code);

// The whole Start of the window: the row, the check (only for an idle channel: starting one that
// runs changes nothing), the supervisor's start, and the box to show; nullopt when there is none.
// Call without the core lock.
std::optional<DialogMessage> start_from_window(Supervisor& supervisor, CommandOrigin origin,
                                               std::optional<int> selected,
                                               std::optional<int> hovered);
// What Stop leaves for the window to show.
struct StopOutcome {
  std::optional<DialogMessage> message;  // a box to show
  // A bound channel shows the transcoder of the channel it is bound to, so stopping it alone
  // changes nothing the operator sees: the question (OK and Cancel) names that channel, and on
  // OK the window calls stop_carrier_from_window(carrier).
  std::optional<DialogMessage> question;
  std::optional<int> carrier;
};

// The whole Stop of the window: the channel is marked not to run and its own transcoder stopped;
// a box when a button finds no selected row, a question when another channel carries it.
StopOutcome stop_from_window(Supervisor& supervisor, CommandOrigin origin,
                             std::optional<int> selected, std::optional<int> hovered);
// The OK of that question: stops the carrying channel (nothing when it has stopped meanwhile).
void stop_carrier_from_window(Supervisor& supervisor, int carrier);

// The channels that end with the program: every row that is not idle, and every idle row waiting
// for its automatic restart.
int channels_ending_with_program(const Supervisor& supervisor);

// What Exit asks before it ends `running` channels ("Exit Vantorix? 2 channels are running and
// will stop."); nullopt when none runs, so the program ends without a question.
std::optional<DialogMessage> exit_question(int running);

}  // namespace vx
