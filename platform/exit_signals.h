// The signals that end the program (SIGTERM, SIGINT, SIGHUP), read from a descriptor that the
// program's loop watches instead of through a handler, so the exit sequence runs on the loop's
// own thread with nothing half done.
#pragma once

#include "platform/unique_fd.h"

namespace vx {

// Blocks the three signals in the calling thread, and so in every thread started after it: call
// it before anything starts a thread (Qt's application object does). Also ignores SIGPIPE, so a
// viewer that hangs up cannot end the program. Returns the descriptor that becomes readable when
// one of them arrives (invalid when none could be made).
UniqueFd block_exit_signals();

// The signal waiting on the descriptor, or 0 when none is.
int read_exit_signal(int descriptor);

}  // namespace vx
