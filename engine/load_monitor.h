// The machine's load shown beside the channels: the busy share of each logical processor and
// the GPU utilisation summed over all GPUs, and the program's resident memory for the metrics,
// sampled at most once a second by the engine's poll and published as plain integers that any
// thread may read.
#pragma once

#include <cstdint>
#include <string>

#include "platform/cpu_times.h"
#include "platform/nvml.h"

namespace vx {

// Processors numbered 64 and up are not watched.
inline constexpr int kMaxMonitoredCpus = 64;

// Where the counters come from; tests point these at files and libraries of their own.
struct LoadMonitorSources {
  std::string cpu_stat_path = kCpuStatPath;
  std::string gpu_library = kNvmlLibrary;
  std::string memory_statm_path = "/proc/self/statm";
};

// Sets the monitor up and takes the first reading that later samples are measured against.
// When the processor counters cannot be read the monitor watches no processor; when NVML
// cannot be used it watches no GPU. Opening again closes first.
void load_monitor_open();
void load_monitor_open(const LoadMonitorSources& sources);

// Called at the end of every engine poll with the engine's clock (seconds). Samples when the
// second differs from the previous call's and at least one second passed since the last
// sample (or the clock was set back). A reading that fails leaves the published values as they
// were. Only the engine's thread calls open, sample and close.
void load_monitor_sample(std::int64_t now_seconds);

// Publishes an empty monitor: no processors, no GPU.
void load_monitor_close();

// Number of watched processors, 0 when the counters could not be read at open.
int engine_cpu_count();
// Percent busy of processor index in the last sample; 0 before the first sample and for an
// index outside 0..engine_cpu_count()-1.
int engine_cpu_load(int index);
bool engine_gpu_available();
// Percent, summed over the GPUs (so it can exceed 100).
int engine_gpu_load();
// The program's resident memory in bytes at the last sample; 0 before the first.
std::uint64_t engine_resident_bytes();

}  // namespace vx
