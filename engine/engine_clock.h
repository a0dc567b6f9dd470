// The engine's clock: whole seconds since the epoch, read through one function so that tests can
// move time (the output watchdog, the once-a-second load sampling).
#pragma once

#include <cstdint>

namespace vx {

using EngineClock = std::int64_t (*)();

std::int64_t engine_now();

// Replaces the clock; nullptr restores the system clock.
void engine_set_clock(EngineClock clock);

}  // namespace vx
