// The one lock around the configuration document and the channel slots. The web server's
// thread and the window (or headless) thread both take it for every request, command and
// supervision tick; it is recursive so that a command may call helpers that take it again.
// Long waits (an NDI search) are made without it. The channel logs keep their own lock.
#pragma once

#include <mutex>

namespace vx {

std::recursive_mutex& core_mutex();

using CoreLock = std::unique_lock<std::recursive_mutex>;

[[nodiscard]] inline CoreLock core_lock() {
  return CoreLock(core_mutex());
}

}  // namespace vx
