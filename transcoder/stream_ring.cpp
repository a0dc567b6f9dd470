#include "transcoder/stream_ring.h"

#include <algorithm>
#include <cstring>

namespace vx {

StreamRing::StreamRing(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)),
      buffer_(std::make_unique_for_overwrite<char[]>(capacity_)) {}

void StreamRing::append(std::string_view bytes) {
  end_ += bytes.size();
  if (bytes.size() > capacity_) bytes.remove_prefix(bytes.size() - capacity_);
  std::size_t at = static_cast<std::size_t>((end_ - bytes.size()) % capacity_);
  while (!bytes.empty()) {
    const std::size_t run = std::min(bytes.size(), capacity_ - at);
    std::memcpy(buffer_.get() + at, bytes.data(), run);
    bytes.remove_prefix(run);
    at = 0;
  }
}

std::size_t StreamRing::copy(std::uint64_t from, char* out, std::size_t max) const {
  if (from < begin() || from >= end_) return 0;
  std::size_t left = static_cast<std::size_t>(std::min<std::uint64_t>(end_ - from, max));
  const std::size_t total = left;
  std::size_t at = static_cast<std::size_t>(from % capacity_);
  while (left > 0) {
    const std::size_t run = std::min(left, capacity_ - at);
    std::memcpy(out, buffer_.get() + at, run);
    out += run;
    left -= run;
    at = 0;
  }
  return total;
}

}  // namespace vx
