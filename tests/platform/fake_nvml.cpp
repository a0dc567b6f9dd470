// A stand-in for NVIDIA's libnvidia-ml: two GPUs at 30% and 45% until a test says otherwise.
// Built once complete and once without nvmlDeviceGetUtilizationRates.
#include <cstdint>

namespace {

constexpr unsigned int kMaxFakeDevices = 4;

struct FakeState {
  int init_result = 0;
  unsigned int device_count = 2;
  unsigned int gpu[kMaxFakeDevices] = {30, 45, 0, 0};
  int utilization_result[kMaxFakeDevices] = {};
  int live_sessions = 0;
};

FakeState state;

}  // namespace

extern "C" {

struct FakeUtilization {
  unsigned int gpu;
  unsigned int memory;
};

int nvmlInit_v2() {
  if (state.init_result == 0) ++state.live_sessions;
  return state.init_result;
}

int nvmlShutdown() {
  --state.live_sessions;
  return 0;
}

int nvmlDeviceGetCount_v2(unsigned int* count) {
  *count = state.device_count;
  return 0;
}

int nvmlDeviceGetHandleByIndex_v2(unsigned int index, void** device) {
  if (index >= state.device_count || index >= kMaxFakeDevices) return 2;
  *device = &state.gpu[index];
  return 0;
}

#ifndef FAKE_NVML_WITHOUT_UTILIZATION
int nvmlDeviceGetUtilizationRates(void* device, FakeUtilization* rates) {
  const auto index = static_cast<unsigned int*>(device) - state.gpu;
  if (state.utilization_result[index] != 0) return state.utilization_result[index];
  rates->gpu = state.gpu[index];
  rates->memory = 0;
  return 0;
}
#endif

// Controls for the tests, which reach them through dlsym.
void fake_nvml_reset() {
  state = FakeState{};
}
void fake_nvml_set_init_result(int result) {
  state.init_result = result;
}
void fake_nvml_set_devices(unsigned int count) {
  state.device_count = count;
}
void fake_nvml_set_gpu(unsigned int index, unsigned int gpu, int result) {
  state.gpu[index] = gpu;
  state.utilization_result[index] = result;
}
int fake_nvml_live_sessions() {
  return state.live_sessions;
}
}
