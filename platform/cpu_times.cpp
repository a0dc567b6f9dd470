#include "platform/cpu_times.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <limits>

#include "platform/unique_fd.h"

namespace vx {
namespace {

// /proc/stat of a machine with thousands of processors stays far below this; a larger file is
// not the kernel's.
constexpr std::size_t kMaxStatSize = std::size_t{4} << 20;

// guest and guest_nice follow these but are already counted in user and nice.
constexpr std::size_t kSummedFields = 8;
constexpr std::size_t kRequiredFields = 4;  // user nice system idle
constexpr std::size_t kIdleField = 3;
constexpr std::size_t kIowaitField = 4;

constexpr std::string_view kSeparators = " \t\r";

std::string_view take_token(std::string_view& rest) {
  const std::size_t start = rest.find_first_not_of(kSeparators);
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(start);
  const std::size_t end = std::min(rest.find_first_of(kSeparators), rest.size());
  const std::string_view token = rest.substr(0, end);
  rest.remove_prefix(end);
  return token;
}

template <typename Number>
bool parse_whole(std::string_view token, Number& value) {
  const char* end = token.data() + token.size();
  const auto [stop, error] = std::from_chars(token.data(), end, value);
  return !token.empty() && error == std::errc{} && stop == end;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The counters after the name of one "cpuN" line; none when one is not a number, fewer than
// four are given, or their sum overflows.
std::optional<CpuTimes> parse_counters(std::string_view rest) {
  CpuTimes times;
  times.present = true;
  std::size_t field = 0;
  for (std::string_view token = take_token(rest); !token.empty(); token = take_token(rest)) {
    std::uint64_t value = 0;
    if (!parse_whole(token, value)) return std::nullopt;
    if (field < kSummedFields) {
      if (value > std::numeric_limits<std::uint64_t>::max() - times.total) return std::nullopt;
      times.total += value;
    }
    if (field == kIdleField || field == kIowaitField) times.idle += value;
    ++field;
  }
  if (field < kRequiredFields) return std::nullopt;
  return times;
}

enum class LineResult { ignored, taken, malformed };

LineResult parse_line(std::string_view line, int max_cpus, std::vector<CpuTimes>& table) {
  std::string_view rest = line;
  const std::string_view name = take_token(rest);
  // "cpu" alone is the sum of all processors; other names are other counters.
  if (!name.starts_with("cpu") || name.size() == 3 || !is_digit(name[3])) {
    return LineResult::ignored;
  }
  int number = 0;
  if (!parse_whole(name.substr(3), number)) return LineResult::malformed;
  const std::optional<CpuTimes> times = parse_counters(rest);
  if (!times) return LineResult::malformed;
  if (number >= max_cpus) return LineResult::ignored;
  const auto index = static_cast<std::size_t>(number);
  if (index >= table.size()) table.resize(index + 1);
  if (table[index].present) return LineResult::malformed;
  table[index] = *times;
  return LineResult::taken;
}

std::optional<std::string> read_small_file(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxStatSize) return std::nullopt;
  }
}

}  // namespace

std::optional<std::vector<CpuTimes>> parse_cpu_times(std::string_view text, int max_cpus) {
  std::vector<CpuTimes> table;
  bool any = false;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    switch (parse_line(text.substr(0, end), max_cpus, table)) {
      case LineResult::malformed:
        return std::nullopt;
      case LineResult::taken:
        any = true;
        break;
      case LineResult::ignored:
        break;
    }
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  if (!any) return std::nullopt;
  return table;
}

std::optional<std::vector<CpuTimes>> read_cpu_times(const std::string& path, int max_cpus) {
  const std::optional<std::string> text = read_small_file(path);
  if (!text) return std::nullopt;
  return parse_cpu_times(*text, max_cpus);
}

std::optional<int> cpu_load_percent(const CpuTimes& before, const CpuTimes& after) {
  if (!before.present || !after.present) return std::nullopt;
  if (after.total <= before.total || after.idle < before.idle) return std::nullopt;
  const std::uint64_t ticks = after.total - before.total;
  const std::uint64_t idle = after.idle - before.idle;
  if (idle > ticks) return std::nullopt;
  const std::uint64_t busy = ticks - idle;
  // Counters this large only come from a corrupt file, but must not overflow either.
  if (busy > std::numeric_limits<std::uint64_t>::max() / 100) {
    return static_cast<int>(std::min<std::uint64_t>(busy / (ticks / 100), 100));
  }
  return static_cast<int>(busy * 100 / ticks);
}

}  // namespace vx
