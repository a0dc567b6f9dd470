// Test-side handle on the fake NDI runtime: keeps it loaded (so its script lives across
// searches) and reaches its controls.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

inline constexpr unsigned kFakeNdiMaxSources = 64;
inline constexpr unsigned kFakeNdiMaxRounds = 32;

struct FakeNdiStats {
  int live_runtimes = 0;  // NDIlib_initialize successes not yet destroyed
  int live_finders = 0;
  unsigned waits = 0;
  std::uint32_t last_timeout_ms = 0;
  bool show_local_sources = false;
  bool no_groups = false;
  bool no_extra_ips = false;
};

namespace vx {

class FakeNdi {
 public:
  explicit FakeNdi(const std::string& library)
      : handle_(::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) throw std::runtime_error("cannot load " + library);
    reset();
  }
  FakeNdi(const FakeNdi&) = delete;
  FakeNdi& operator=(const FakeNdi&) = delete;
  ~FakeNdi() { ::dlclose(handle_); }

  void reset() { call<void (*)()>("fake_ndi_reset")(); }
  void set_failures(bool initialize, bool find_create) {
    call<void (*)(bool, bool)>("fake_ndi_set_failures")(initialize, find_create);
  }
  // Source count seen after each wait; the last one stays.
  void set_rounds(const std::vector<unsigned>& counts) {
    call<void (*)(const unsigned*, unsigned)>("fake_ndi_set_rounds")(
        counts.data(), static_cast<unsigned>(counts.size()));
  }
  // The texts are not copied: they must outlive the searches.
  void set_source(unsigned index, const char* name, const char* address) {
    call<void (*)(unsigned, const char*, const char*)>("fake_ndi_set_source")(index, name, address);
  }
  // Each wait then really sleeps this long; waiting() tells whether one is under way.
  void set_pause(unsigned milliseconds) {
    call<void (*)(unsigned)>("fake_ndi_set_pause")(milliseconds);
  }
  bool waiting() { return call<bool (*)()>("fake_ndi_waiting")(); }
  FakeNdiStats stats() { return call<FakeNdiStats (*)()>("fake_ndi_stats")(); }

 private:
  template <typename Function>
  Function call(const char* name) {
    auto function = reinterpret_cast<Function>(::dlsym(handle_, name));
    if (!function) throw std::runtime_error(std::string("fake NDI lacks ") + name);
    return function;
  }
  void* handle_;
};

}  // namespace vx
