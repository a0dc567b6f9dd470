// Slowing password guesses per client address, never for everyone: a few wrong passwords from an
// address are free, then each further one locks that address out for a time that doubles up to
// a minute. Attempts under way count before they are decided, so parallel guesses from one
// address get no more tries than one after another. Another address is never held up. Time comes
// from the caller, in seconds of a steady clock; the table is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace vx {

inline constexpr int kFreeLoginFailures = 5;
inline constexpr std::int64_t kLongestLockoutSeconds = 60;
// An address that has been quiet this long starts afresh.
inline constexpr std::int64_t kFailureMemorySeconds = 60 * 60;
inline constexpr std::size_t kMaxThrottledAddresses = 4096;

class LoginThrottle {
 public:
  struct Admission {
    bool allowed = false;
    std::int64_t retry_after = 0;  // seconds, when not allowed (at least 1)
  };

  // Before a password is checked: whether the address may try now. An allowed attempt must be
  // ended with succeeded() or failed().
  Admission admit(std::uint32_t address, std::int64_t now);
  void succeeded(std::uint32_t address);
  // Returns the seconds of the lock-out this failure starts, 0 when it starts none: the caller
  // logs each lock-out once.
  std::int64_t failed(std::uint32_t address, std::int64_t now);

  std::size_t size() const;

 private:
  struct Entry {
    int failures = 0;
    int pending = 0;
    std::int64_t locked_until = 0;
    std::int64_t last_seen = 0;
  };
  void make_room(std::int64_t now);
  mutable std::mutex mutex_;
  std::unordered_map<std::uint32_t, Entry> entries_;
};

}  // namespace vx
