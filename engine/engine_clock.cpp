#include "engine/engine_clock.h"

#include <atomic>
#include <ctime>

namespace vx {
namespace {

std::int64_t system_now() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::atomic<EngineClock> current_clock{&system_now};

}  // namespace

std::int64_t engine_now() {
  return current_clock.load()();
}

void engine_set_clock(EngineClock clock) {
  current_clock.store(clock != nullptr ? clock : &system_now);
}

}  // namespace vx
