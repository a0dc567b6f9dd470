// Per-processor time counters of the kernel ("cpuN" lines of /proc/stat) and the load between
// two readings of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

inline constexpr const char* kCpuStatPath = "/proc/stat";

// One logical processor's counters, in clock ticks since boot. present is false for a number
// the kernel did not list (an offline processor).
struct CpuTimes {
  bool present = false;
  std::uint64_t total = 0;  // user, nice, system, idle, iowait, irq, softirq, steal
  std::uint64_t idle = 0;   // idle + iowait: time the processor had nothing to run
};

// The "cpuN" lines of the text, indexed by N; processors numbered max_cpus and up are left
// out. None when the text lists no processor or a "cpuN" line is malformed or repeated.
std::optional<std::vector<CpuTimes>> parse_cpu_times(std::string_view text, int max_cpus);

// Reads the file (normally /proc/stat) and parses it like parse_cpu_times(); none when it
// cannot be read.
std::optional<std::vector<CpuTimes>> read_cpu_times(const std::string& path, int max_cpus);

// Percent busy between two readings of one processor: 100 * busy ticks / all ticks. None when
// either reading is missing, no tick passed, or a counter went backwards.
std::optional<int> cpu_load_percent(const CpuTimes& before, const CpuTimes& after);

}  // namespace vx
