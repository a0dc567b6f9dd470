#include "platform/nvml.h"

#include <dlfcn.h>

#include <algorithm>

namespace vx {
namespace {

// The few NVML declarations used here, as in NVIDIA's nvml.h.
using nvmlReturn_t = int;
using nvmlDevice_t = void*;
struct nvmlUtilization_t {
  unsigned int gpu;
  unsigned int memory;
};
constexpr nvmlReturn_t kNvmlSuccess = 0;
constexpr unsigned int kFullUtilization = 100;
// More than any machine holds; bounds the work when a broken library reports nonsense.
constexpr unsigned int kMaxDevices = 64;

using InitFunction = nvmlReturn_t (*)();
using ShutdownFunction = nvmlReturn_t (*)();
using DeviceCountFunction = nvmlReturn_t (*)(unsigned int*);
using DeviceHandleFunction = nvmlReturn_t (*)(unsigned int, nvmlDevice_t*);
using UtilizationFunction = nvmlReturn_t (*)(nvmlDevice_t, nvmlUtilization_t*);

struct LibraryCloser {
  void operator()(void* handle) const { ::dlclose(handle); }
};

template <typename Function>
bool find_function(void* handle, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(handle, name));
  return function != nullptr;
}

}  // namespace

struct NvmlSession::Library {
  std::unique_ptr<void, LibraryCloser> handle;
  InitFunction init = nullptr;
  ShutdownFunction shutdown = nullptr;
  DeviceCountFunction device_count = nullptr;
  DeviceHandleFunction device_handle = nullptr;
  UtilizationFunction utilization = nullptr;

  bool find_functions() {
    void* h = handle.get();
    return find_function(h, "nvmlInit_v2", init) && find_function(h, "nvmlShutdown", shutdown) &&
           find_function(h, "nvmlDeviceGetCount_v2", device_count) &&
           find_function(h, "nvmlDeviceGetHandleByIndex_v2", device_handle) &&
           find_function(h, "nvmlDeviceGetUtilizationRates", utilization);
  }
};

std::unique_ptr<NvmlSession> NvmlSession::open(const std::string& library) {
  auto loaded = std::make_unique<Library>();
  loaded->handle.reset(::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!loaded->handle || !loaded->find_functions()) return nullptr;
  if (loaded->init() != kNvmlSuccess) return nullptr;
  // From here the session owns the initialisation: its destructor shuts NVML down.
  std::unique_ptr<NvmlSession> session(new NvmlSession(std::move(loaded)));
  unsigned int count = 0;
  if (session->library_->device_count(&count) != kNvmlSuccess) return nullptr;
  for (unsigned int index = 0; index < std::min(count, kMaxDevices); ++index) {
    nvmlDevice_t device = nullptr;
    if (session->library_->device_handle(index, &device) == kNvmlSuccess) {
      session->devices_.push_back(device);
    }
  }
  if (session->devices_.empty()) return nullptr;
  return session;
}

NvmlSession::NvmlSession(std::unique_ptr<Library> library) : library_(std::move(library)) {}

NvmlSession::~NvmlSession() {
  library_->shutdown();
}

std::optional<int> NvmlSession::utilization_sum() const {
  int sum = 0;
  bool answered = false;
  for (nvmlDevice_t device : devices_) {
    nvmlUtilization_t rates{};
    if (library_->utilization(device, &rates) != kNvmlSuccess) continue;
    sum += static_cast<int>(std::min(rates.gpu, kFullUtilization));
    answered = true;
  }
  if (!answered) return std::nullopt;
  return sum;
}

}  // namespace vx
