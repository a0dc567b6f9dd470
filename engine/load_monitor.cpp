#include "engine/load_monitor.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace vx {
namespace {

// Written by the engine's thread, read from any thread. A reader may see a value from the
// previous sample, which is fine for a load display.
struct PublishedLoad {
  std::atomic<int> cpu_count{0};
  std::array<std::atomic<int>, kMaxMonitoredCpus> cpu_loads{};
  std::atomic<bool> gpu_available{false};
  std::atomic<int> gpu_load{0};
  std::atomic<std::uint64_t> resident_bytes{0};
};

PublishedLoad& published() {
  static PublishedLoad value;
  return value;
}

// Touched only by the engine's thread.
struct Sampler {
  std::string cpu_stat_path;
  std::string memory_statm_path;
  std::vector<CpuTimes> reference;  // the previous processor reading
  std::unique_ptr<NvmlSession> gpu;
  std::optional<std::int64_t> last_poll;
  std::optional<std::int64_t> last_sample;
};

Sampler& sampler() {
  static Sampler value;
  return value;
}

bool sample_due(Sampler& state, std::int64_t now) {
  const bool second_changed = state.last_poll != now;
  state.last_poll = now;
  if (!second_changed) return false;
  if (!state.last_sample) return true;
  // A clock set back must not stop sampling until it has caught up again.
  return now >= *state.last_sample + 1 || now < *state.last_sample;
}

CpuTimes reading_at(const std::vector<CpuTimes>& table, int index) {
  const auto at = static_cast<std::size_t>(index);
  return at < table.size() ? table[at] : CpuTimes{};
}

void sample_cpus(Sampler& state) {
  const int count = published().cpu_count.load();
  if (count == 0) return;
  std::optional<std::vector<CpuTimes>> reading =
      read_cpu_times(state.cpu_stat_path, kMaxMonitoredCpus);
  if (!reading) return;
  for (int index = 0; index < count; ++index) {
    const std::optional<int> load =
        cpu_load_percent(reading_at(state.reference, index), reading_at(*reading, index));
    if (load) published().cpu_loads[static_cast<std::size_t>(index)].store(*load);
  }
  state.reference = std::move(*reading);
}

void sample_gpu(const Sampler& state) {
  if (!state.gpu) return;
  if (const std::optional<int> sum = state.gpu->utilization_sum()) {
    published().gpu_load.store(*sum);
  }
}

// statm gives sizes in pages: the total, then the resident part.
void sample_memory(const Sampler& state) {
  std::ifstream statm(state.memory_statm_path);
  std::uint64_t total_pages = 0;
  std::uint64_t resident_pages = 0;
  if (!(statm >> total_pages >> resident_pages)) return;
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (page_size > 0) {
    published().resident_bytes.store(resident_pages * static_cast<std::uint64_t>(page_size));
  }
}

}  // namespace

void load_monitor_open() {
  load_monitor_open(LoadMonitorSources{});
}

void load_monitor_open(const LoadMonitorSources& sources) {
  load_monitor_close();
  Sampler& state = sampler();
  state.cpu_stat_path = sources.cpu_stat_path;
  state.memory_statm_path = sources.memory_statm_path;
  if (std::optional<std::vector<CpuTimes>> reading =
          read_cpu_times(state.cpu_stat_path, kMaxMonitoredCpus)) {
    state.reference = std::move(*reading);
    published().cpu_count.store(static_cast<int>(state.reference.size()));
  }
  state.gpu = NvmlSession::open(sources.gpu_library);
  published().gpu_available.store(state.gpu != nullptr);
}

void load_monitor_sample(std::int64_t now_seconds) {
  Sampler& state = sampler();
  if (!sample_due(state, now_seconds)) return;
  state.last_sample = now_seconds;
  sample_cpus(state);
  sample_gpu(state);
  sample_memory(state);
}

void load_monitor_close() {
  PublishedLoad& load = published();
  load.cpu_count.store(0);
  load.gpu_available.store(false);
  for (std::atomic<int>& cpu : load.cpu_loads) {
    cpu.store(0);
  }
  load.gpu_load.store(0);
  load.resident_bytes.store(0);
  sampler() = Sampler{};
}

int engine_cpu_count() {
  return published().cpu_count.load();
}

int engine_cpu_load(int index) {
  if (index < 0 || index >= engine_cpu_count()) return 0;
  return published().cpu_loads[static_cast<std::size_t>(index)].load();
}

bool engine_gpu_available() {
  return published().gpu_available.load();
}

int engine_gpu_load() {
  return published().gpu_load.load();
}

std::uint64_t engine_resident_bytes() {
  return published().resident_bytes.load();
}

}  // namespace vx
