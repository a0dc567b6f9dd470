// Whether a TCP peer is there: one connection attempt that gives up after a time limit, for the
// probes that must not hang on a peer that never answers.
#pragma once

#include <netdb.h>

#include <chrono>

namespace vx {

// True when a TCP connection to `address` is accepted within `limit`; the connection is closed
// at once.
bool tcp_connects(const addrinfo& address, std::chrono::milliseconds limit);

}  // namespace vx
