// Reading what a transcoder prints: progress figures, the states of its relayed targets and the
// viewers of its served outputs into its slot, every chunk into the channel log (without the
// viewer reports) and to the output callback, an orderly stop on the failure texts, and the
// failover's switches between its inputs (which one is on air, and how many for each reason).
#pragma once

#include <string_view>

namespace vx {

using EngineOutputCallback = void (*)(int slot, std::string_view chunk);

// One callback for every chunk of every slot; nullptr removes it.
void engine_set_output_callback(EngineOutputCallback callback);

// Handles one chunk as read from the slot's output (a chunk is not a line).
void engine_parse_output(int slot, std::string_view chunk);

// The slot's process has ended: the unfinished last line, when it was held back as a possible
// viewer report, goes to the log after all.
void engine_end_output(int slot);

}  // namespace vx
