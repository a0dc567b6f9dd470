#include "config/core_lock.h"

namespace vx {

std::recursive_mutex& core_mutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

}  // namespace vx
