// Test-side handle on the fake libnvidia-ml: keeps it loaded (so its state lives across
// sessions) and reaches its controls.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace vx {

class FakeNvml {
 public:
  explicit FakeNvml(const std::string& library)
      : handle_(::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) throw std::runtime_error("cannot load " + library);
    reset();
  }
  FakeNvml(const FakeNvml&) = delete;
  FakeNvml& operator=(const FakeNvml&) = delete;
  ~FakeNvml() { ::dlclose(handle_); }

  void reset() { call<void (*)()>("fake_nvml_reset")(); }
  void set_init_result(int result) { call<void (*)(int)>("fake_nvml_set_init_result")(result); }
  void set_devices(unsigned count) { call<void (*)(unsigned)>("fake_nvml_set_devices")(count); }
  // result other than 0 makes the device fail to report.
  void set_gpu(unsigned index, unsigned gpu, int result = 0) {
    call<void (*)(unsigned, unsigned, int)>("fake_nvml_set_gpu")(index, gpu, result);
  }
  int live_sessions() { return call<int (*)()>("fake_nvml_live_sessions")(); }

 private:
  template <typename Function>
  Function call(const char* name) {
    auto function = reinterpret_cast<Function>(::dlsym(handle_, name));
    if (!function) throw std::runtime_error(std::string("fake NVML lacks ") + name);
    return function;
  }
  void* handle_;
};

}  // namespace vx
