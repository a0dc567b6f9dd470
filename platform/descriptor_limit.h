// How many files and sockets the program may hold open at once: servers serving thousands of
// connections need more than the usual soft limit of 1,024.
#pragma once

#include <cstdint>

namespace vx {

// Raises the soft RLIMIT_NOFILE to the hard limit, as servers do at start, and returns the soft
// limit in force afterwards (unchanged when the system refuses).
std::uint64_t raise_descriptor_limit();

}  // namespace vx
