// The number of file descriptors this process may hold open (the soft RLIMIT_NOFILE), and
// raising it to what the system allows the process (the hard limit), as servers do at start.
#pragma once

#include <cstddef>

namespace vx {

// The soft limit now in force.
std::size_t descriptor_limit();

// Raises the soft limit to the hard one; returns the limit in force afterwards (unchanged when
// the system refuses).
std::size_t raise_descriptor_limit();

}  // namespace vx
