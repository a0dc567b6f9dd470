// StreamRing: the most recent bytes of one live stream, held once for all of its viewers and
// addressed by absolute stream offsets, in a buffer whose size never changes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vx {

class StreamRing {
 public:
  explicit StreamRing(std::size_t capacity);

  std::size_t capacity() const { return capacity_; }
  // The offset just after the newest byte: every byte ever appended counts.
  std::uint64_t end() const { return end_; }
  // The oldest offset still held.
  std::uint64_t begin() const { return end_ - std::min<std::uint64_t>(end_, capacity_); }

  // Whether every byte from `from` to the end is still held, and no more than `most` of them.
  bool holds_recent(std::uint64_t from, std::uint64_t most) const {
    return from >= begin() && from <= end_ && end_ - from <= most;
  }

  // Appends, overwriting the oldest bytes once full.
  void append(std::string_view bytes);
  // Copies up to `max` bytes from offset `from` on; none when `from` is outside [begin, end).
  std::size_t copy(std::uint64_t from, char* out, std::size_t max) const;

 private:
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;  // left untouched until written, so unused room costs nothing
  std::uint64_t end_ = 0;
};

}  // namespace vx
