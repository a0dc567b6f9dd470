#include "devices/ndi.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "devices/device_text.h"
#include "devices/ndi_abi.h"

namespace vx {
namespace {

struct LibraryCloser {
  void operator()(void* handle) const { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

template <typename Function>
bool find_function(void* handle, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(handle, name));
  return function != nullptr;
}

struct NdiLibrary {
  LibraryHandle handle;
  NDIlib_initialize_f initialize = nullptr;
  NDIlib_destroy_f destroy = nullptr;
  NDIlib_find_create_v2_f find_create = nullptr;
  NDIlib_find_wait_for_sources_f find_wait = nullptr;
  NDIlib_find_get_current_sources_f find_sources = nullptr;
  NDIlib_find_destroy_f find_destroy = nullptr;

  bool load(const std::string& library) {
    // The runtime starts threads of its own; unloading its code under them is not safe, so
    // closing the handle only drops our reference.
    constexpr int kFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
    if (!library.empty()) {
      handle.reset(::dlopen(library.c_str(), kFlags));
    } else {
      for (const char* name : kNdiLibraries) {
        handle.reset(::dlopen(name, kFlags));
        if (handle) break;
      }
    }
    if (!handle) return false;
    void* h = handle.get();
    return find_function(h, "NDIlib_initialize", initialize) &&
           find_function(h, "NDIlib_destroy", destroy) &&
           find_function(h, "NDIlib_find_create_v2", find_create) &&
           find_function(h, "NDIlib_find_wait_for_sources", find_wait) &&
           find_function(h, "NDIlib_find_get_current_sources", find_sources) &&
           find_function(h, "NDIlib_find_destroy", find_destroy);
  }
};

// Pairs a successful NDIlib_initialize with NDIlib_destroy.
class NdiRuntime {
 public:
  explicit NdiRuntime(const NdiLibrary& library) : library_(library) {}
  NdiRuntime(const NdiRuntime&) = delete;
  NdiRuntime& operator=(const NdiRuntime&) = delete;
  ~NdiRuntime() { library_.destroy(); }

 private:
  const NdiLibrary& library_;
};

class NdiFinder {
 public:
  NdiFinder(const NdiLibrary& library, NDIlib_find_instance_t finder)
      : library_(library), finder_(finder) {}
  NdiFinder(const NdiFinder&) = delete;
  NdiFinder& operator=(const NdiFinder&) = delete;
  ~NdiFinder() { library_.find_destroy(finder_); }
  NDIlib_find_instance_t get() const { return finder_; }

 private:
  const NdiLibrary& library_;
  NDIlib_find_instance_t finder_;
};

std::timed_mutex& search_mutex() {
  static std::timed_mutex mutex;
  return mutex;
}

bool is_cancelled(const std::atomic<bool>* cancelled) {
  return cancelled != nullptr && cancelled->load();
}

// Takes the one search's turn; false when cancelled while another search runs.
bool wait_for_turn(std::unique_lock<std::timed_mutex>& turn, const std::atomic<bool>* cancelled) {
  if (cancelled == nullptr) {
    turn.lock();
    return true;
  }
  while (!turn.try_lock_for(std::chrono::milliseconds(kNdiWaitSliceMs))) {
    if (is_cancelled(cancelled)) return false;
  }
  return true;
}

// One period of the search: true as soon as the library reports a change, false when the whole
// timeout passed without one (or the search was cancelled).
bool wait_for_change(const NdiLibrary& ndi, NDIlib_find_instance_t finder, std::uint32_t timeout_ms,
                     const std::atomic<bool>* cancelled) {
  if (cancelled == nullptr) return ndi.find_wait(finder, timeout_ms);
  std::uint32_t left = timeout_ms;
  do {
    const std::uint32_t slice = std::min(left, kNdiWaitSliceMs);
    if (ndi.find_wait(finder, slice)) return true;
    left -= slice;
  } while (left > 0 && !is_cancelled(cancelled));
  return false;
}

std::string source_text(const char* raw) {
  return raw ? device_text(raw, kNdiMaxNameCharacters) : std::string();
}

}  // namespace

int discover_ndi(NdiSourceList& list, int timeout_seconds, const std::string& library,
                 const std::atomic<bool>* cancelled) {
  list.clear();
  std::unique_lock<std::timed_mutex> one_search_at_a_time(search_mutex(), std::defer_lock);
  if (!wait_for_turn(one_search_at_a_time, cancelled)) return 0;
  NdiLibrary ndi;
  if (!ndi.load(library) || !ndi.initialize()) return -1;
  const NdiRuntime runtime(ndi);
  const NDIlib_find_create_t settings{true, nullptr, nullptr};
  NDIlib_find_instance_t instance = ndi.find_create(&settings);
  if (!instance) return -1;
  const NdiFinder finder(ndi, instance);

  const auto timeout_ms =
      static_cast<std::uint32_t>(std::clamp(timeout_seconds, 0, kNdiMaxTimeoutSeconds) * 1000);
  for (int round = 0; round < kNdiMaxWaitRounds && !is_cancelled(cancelled); ++round) {
    if (!wait_for_change(ndi, finder.get(), timeout_ms, cancelled)) break;
  }

  std::uint32_t count = 0;
  const NDIlib_source_t* sources = ndi.find_sources(finder.get(), &count);
  if (!sources) count = 0;
  const std::size_t listed = std::min<std::size_t>(count, kNdiMaxSources);
  // The finder owns the array: copy the texts before it is destroyed.
  for (std::size_t i = 0; i < listed; ++i) {
    list.push_back({source_text(sources[i].p_ndi_name), source_text(sources[i].p_url_address)});
  }
  return 0;
}

int ndi_timeout_from_query(const char* timeout_arg) {
  if (!timeout_arg) return kNdiDefaultTimeoutSeconds;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(timeout_arg, &end, 0);
  if (end == timeout_arg) return kNdiDefaultTimeoutSeconds;
  if (errno == ERANGE) return value < 0 ? 0 : kNdiMaxTimeoutSeconds;
  return static_cast<int>(std::clamp<long>(value, 0, kNdiMaxTimeoutSeconds));
}

std::string ndi_config_json(const NdiSourceList& list) {
  std::string text = "{ \"sources\": [\n";
  for (std::size_t i = 0; i < list.size(); ++i) {
    text += "  { \"name\": " + device_text_json(list[i].name, kNdiMaxNameCharacters) +
            ", \"addr\": " + device_text_json(list[i].address, kNdiMaxNameCharacters) + " }\n";
    if (i + 1 < list.size()) text += ",";
    text += "\n";
  }
  text += " ]\n}\n";
  return text;
}

std::string ndi_config_answer(const char* timeout_arg, const std::string& library,
                              const std::atomic<bool>* cancelled) {
  NdiSourceList list;
  discover_ndi(list, ndi_timeout_from_query(timeout_arg), library, cancelled);
  return ndi_config_json(list);
}

}  // namespace vx
