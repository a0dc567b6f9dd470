// NVIDIA's management library (NVML), loaded at run time so the program needs no NVIDIA
// driver: whether GPUs can be watched, and their utilisation summed over all devices.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vx {

inline constexpr const char* kNvmlLibrary = "libnvidia-ml.so.1";

// One initialised NVML session; closing it shuts NVML down and unloads the library.
class NvmlSession {
 public:
  // None when the library or one of its functions is missing, it fails to initialise or to
  // count devices, or it reports no device. Nothing is printed: no GPU is an ordinary machine.
  static std::unique_ptr<NvmlSession> open(const std::string& library = kNvmlLibrary);

  NvmlSession(const NvmlSession&) = delete;
  NvmlSession& operator=(const NvmlSession&) = delete;
  ~NvmlSession();

  int device_count() const { return static_cast<int>(devices_.size()); }

  // The "gpu" utilisation (percent, each device capped at 100) summed over the devices that
  // answer, so it can exceed 100; none when no device answers.
  std::optional<int> utilization_sum() const;

 private:
  struct Library;
  explicit NvmlSession(std::unique_ptr<Library> library);

  std::unique_ptr<Library> library_;
  std::vector<void*> devices_;  // nvmlDevice_t handles, owned by NVML
};

}  // namespace vx
