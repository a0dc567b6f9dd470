// A stand-in for the NDI runtime whose sources a test scripts round by round: after the n-th
// wait the finder sees the n-th scripted number of sources (the last one stays). A wait takes
// no time whatever its timeout, unless a test asks for a real pause. Built once complete and
// once without NDIlib_find_destroy.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "devices/ndi_abi.h"
#include "tests/devices/fake_ndi_control.h"

namespace {

struct FakeState {
  bool fail_initialize = false;
  bool fail_find_create = false;
  unsigned rounds[kFakeNdiMaxRounds] = {};
  unsigned round_count = 0;
  unsigned visible = 0;
  const char* names[kFakeNdiMaxSources] = {};
  const char* addresses[kFakeNdiMaxSources] = {};
  bool overridden[kFakeNdiMaxSources] = {};
  std::string default_names[kFakeNdiMaxSources];
  std::string default_addresses[kFakeNdiMaxSources];
  NDIlib_source_t sources[kFakeNdiMaxSources] = {};
  FakeNdiStats stats;
  int finder = 0;
  unsigned pause_ms = 0;
};

FakeState state;
// Read by a test thread while a search runs on another.
std::atomic<bool> waiting{false};

}  // namespace

extern "C" {

void fake_ndi_reset() {
  state = FakeState{};
  for (unsigned i = 0; i < kFakeNdiMaxSources; ++i) {
    state.default_names[i] = "Fake Source " + std::to_string(i + 1);
    state.default_addresses[i] = "192.0.2." + std::to_string(i + 1) + ":5961";
  }
}

void fake_ndi_set_pause(unsigned milliseconds) {
  state.pause_ms = milliseconds;
}

bool fake_ndi_waiting() {
  return waiting;
}

void fake_ndi_set_failures(bool initialize, bool find_create) {
  state.fail_initialize = initialize;
  state.fail_find_create = find_create;
}

void fake_ndi_set_rounds(const unsigned* counts, unsigned count) {
  state.round_count = count < kFakeNdiMaxRounds ? count : kFakeNdiMaxRounds;
  for (unsigned i = 0; i < state.round_count; ++i) {
    state.rounds[i] = counts[i] < kFakeNdiMaxSources ? counts[i] : kFakeNdiMaxSources;
  }
}

void fake_ndi_set_source(unsigned index, const char* name, const char* address) {
  if (index >= kFakeNdiMaxSources) return;
  state.overridden[index] = true;
  state.names[index] = name;
  state.addresses[index] = address;
}

FakeNdiStats fake_ndi_stats() {
  return state.stats;
}

bool NDIlib_initialize() {
  if (state.fail_initialize) return false;
  ++state.stats.live_runtimes;
  return true;
}

void NDIlib_destroy() {
  --state.stats.live_runtimes;
}

NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t* settings) {
  if (state.fail_find_create) return nullptr;
  state.stats.show_local_sources = settings->show_local_sources;
  state.stats.no_groups = settings->p_groups == nullptr;
  state.stats.no_extra_ips = settings->p_extra_ips == nullptr;
  ++state.stats.live_finders;
  return &state.finder;
}

bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t, std::uint32_t timeout_ms) {
  state.stats.last_timeout_ms = timeout_ms;
  if (state.pause_ms > 0) {
    waiting = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(state.pause_ms));
    waiting = false;
  }
  const unsigned round = state.stats.waits++;
  if (state.round_count == 0) return false;
  const unsigned now = state.rounds[round < state.round_count ? round : state.round_count - 1];
  const bool changed = now != state.visible;
  state.visible = now;
  return changed;
}

const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t,
                                                       std::uint32_t* count) {
  for (unsigned i = 0; i < state.visible; ++i) {
    state.sources[i].p_ndi_name =
        state.overridden[i] ? state.names[i] : state.default_names[i].c_str();
    state.sources[i].p_url_address =
        state.overridden[i] ? state.addresses[i] : state.default_addresses[i].c_str();
  }
  *count = state.visible;
  return state.sources;
}

#ifndef FAKE_NDI_WITHOUT_FIND_DESTROY
void NDIlib_find_destroy(NDIlib_find_instance_t) {
  --state.stats.live_finders;
}
#endif

}  // extern "C"
