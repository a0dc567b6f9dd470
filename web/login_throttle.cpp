#include "web/login_throttle.h"

#include <algorithm>

namespace vx {
namespace {

std::int64_t lockout_seconds(int failures) {
  const int beyond = failures - kFreeLoginFailures;  // 0 for the first lock-out
  if (beyond >= 6) return kLongestLockoutSeconds;
  return std::min<std::int64_t>(kLongestLockoutSeconds, std::int64_t{1} << beyond);
}

}  // namespace

LoginThrottle::Admission LoginThrottle::admit(std::uint32_t address, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find(address);
  if (found != entries_.end() && found->second.pending == 0 && found->second.locked_until <= now &&
      now - found->second.last_seen > kFailureMemorySeconds) {
    entries_.erase(found);
    found = entries_.end();
  }
  if (found == entries_.end()) {
    make_room(now);
    found = entries_.emplace(address, Entry{}).first;
  }
  Entry& entry = found->second;
  entry.last_seen = now;
  if (entry.locked_until > now) return {false, entry.locked_until - now};
  // Past the free failures one attempt at a time; before them, no more at once than are left.
  const bool room = entry.failures >= kFreeLoginFailures
                        ? entry.pending == 0
                        : entry.failures + entry.pending < kFreeLoginFailures;
  if (!room) return {false, 1};
  ++entry.pending;
  return {true, 0};
}

void LoginThrottle::succeeded(std::uint32_t address) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = entries_.find(address);
  if (found == entries_.end()) return;
  if (found->second.pending > 1) {
    // Others from the same address are still being decided; they keep their place.
    --found->second.pending;
    found->second.failures = 0;
    found->second.locked_until = 0;
    return;
  }
  entries_.erase(found);
}

std::int64_t LoginThrottle::failed(std::uint32_t address, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Entry& entry = entries_[address];
  entry.pending = std::max(0, entry.pending - 1);
  entry.last_seen = now;
  ++entry.failures;
  if (entry.failures < kFreeLoginFailures) return 0;
  const std::int64_t seconds = lockout_seconds(entry.failures);
  entry.locked_until = now + seconds;
  return seconds;
}

std::size_t LoginThrottle::size() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

// A full table first lets go of addresses that are neither locked out nor being decided, the
// quietest first; an attacker with many addresses can only push out his own entries that way.
void LoginThrottle::make_room(std::int64_t now) {
  if (entries_.size() < kMaxThrottledAddresses) return;
  std::erase_if(entries_, [now](const auto& item) {
    return item.second.pending == 0 && item.second.locked_until <= now &&
           now - item.second.last_seen > kFailureMemorySeconds;
  });
  if (entries_.size() < kMaxThrottledAddresses) return;
  // Still full: the lock-out nearest its end goes (only a burst of addresses gets here).
  auto chosen = entries_.end();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->second.pending > 0) continue;
    if (chosen == entries_.end() ||
        std::pair(it->second.locked_until, it->second.last_seen) <
            std::pair(chosen->second.locked_until, chosen->second.last_seen)) {
      chosen = it;
    }
  }
  if (chosen != entries_.end()) entries_.erase(chosen);
}

}  // namespace vx
