#include "platform/descriptor_limit.h"

#include <sys/resource.h>

#include <limits>

namespace vx {
namespace {

std::size_t as_count(rlim_t limit) {
  if (limit == RLIM_INFINITY || limit > std::numeric_limits<std::size_t>::max())
    return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(limit);
}

}  // namespace

std::size_t descriptor_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  return as_count(limit.rlim_cur);
}

std::size_t raise_descriptor_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return as_count(limit.rlim_cur);
}

}  // namespace vx
