// The few C declarations of the NDI runtime library that source discovery calls, shared by the
// loader and by the stand-in library the tests build.
#pragma once

#include <cstdint>

extern "C" {

struct NDIlib_source_t {
  const char* p_ndi_name;
  const char* p_url_address;
};

struct NDIlib_find_create_t {
  bool show_local_sources;
  const char* p_groups;
  const char* p_extra_ips;
};

using NDIlib_find_instance_t = void*;

using NDIlib_initialize_f = bool (*)();
using NDIlib_destroy_f = void (*)();
using NDIlib_find_create_v2_f = NDIlib_find_instance_t (*)(const NDIlib_find_create_t*);
using NDIlib_find_wait_for_sources_f = bool (*)(NDIlib_find_instance_t, std::uint32_t timeout_ms);
// The array belongs to the finder and stays valid until the next call on it or its destruction.
using NDIlib_find_get_current_sources_f = const NDIlib_source_t* (*)(NDIlib_find_instance_t,
                                                                     std::uint32_t* count);
using NDIlib_find_destroy_f = void (*)(NDIlib_find_instance_t);

}  // extern "C"
