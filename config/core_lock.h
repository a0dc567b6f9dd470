// The one lock around the configuration document and the engine's channel slots. The web
// server's thread and the program's own thread (window or headless loop) take it for every
// request, command and supervision tick; it is recursive so that a command may call helpers
// that take it again. It lives beside the document because every part that shares the document
// or the slots builds on this layer, while the engine itself never takes it (its callers hold
// it). Long waits (an NDI search) and disk writes (saves write a copy taken under it) are made
// without it. The channel logs keep their own lock.
#pragma once

#include <mutex>

namespace vx {

std::recursive_mutex& core_mutex();

using CoreLock = std::unique_lock<std::recursive_mutex>;

[[nodiscard]] inline CoreLock core_lock() {
  return CoreLock(core_mutex());
}

}  // namespace vx
