// NDI sources visible on the network within a chosen time, found through the NDI runtime
// library loaded at each search, and the "/ndi_config" document made from them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vx {

inline constexpr std::size_t kNdiMaxSources = 20;
inline constexpr std::size_t kNdiMaxNameCharacters = 999;
inline constexpr int kNdiDefaultTimeoutSeconds = 5;
// Bounds a timeout taken from a web query so that seconds x 1000 fits the library's 32 bits
// and one request cannot hold the server thread for days.
inline constexpr int kNdiMaxTimeoutSeconds = 3600;
// A network whose sources never stop changing would otherwise keep the search going forever.
inline constexpr int kNdiMaxWaitRounds = 10;

// "libndi.so.5" first, then "libndi.so".
inline constexpr const char* kNdiLibraries[] = {"libndi.so.5", "libndi.so"};

struct NdiSource {
  std::string name;     // valid UTF-8, at most kNdiMaxNameCharacters characters
  std::string address;  // the source's URL address, same limits
};

using NdiSourceList = std::vector<NdiSource>;

// Replaces list with the sources found: waits timeout_seconds (clamped to 0 ...
// kNdiMaxTimeoutSeconds) again for as long as the library reports a change, at most
// kNdiMaxWaitRounds times, then lists at most kNdiMaxSources sources in library order.
// Returns 0 when the search ran, -1 (empty list) when the library or one of its functions is
// missing, it fails to initialise or no finder can be created. library names the file to load
// instead of kNdiLibraries.
//
// Blocks for the whole search. Callers need no lock: the function shares no state with the
// rest of the program, and searches from several threads run one after another because the
// library's initialise/destroy pair is process-wide.
//
// With `cancelled`, the waits are cut into slices of at most kNdiWaitSliceMs and the search
// (or the wait for another one to end) stops within one slice of *cancelled turning true, with
// the sources seen so far: a server that is stopping never waits for a long search.
inline constexpr std::uint32_t kNdiWaitSliceMs = 250;
int discover_ndi(NdiSourceList& list, int timeout_seconds, const std::string& library = {},
                 const std::atomic<bool>* cancelled = nullptr);

// The query's "timeout=" value in seconds (null when absent): kNdiDefaultTimeoutSeconds when
// absent or not a number, otherwise clamped to 0 ... kNdiMaxTimeoutSeconds.
int ndi_timeout_from_query(const char* timeout_arg);

// The "/ndi_config" document for list.
std::string ndi_config_json(const NdiSourceList& list);

// The whole "/ndi_config" answer for the query's "timeout=" value (null when absent).
std::string ndi_config_answer(const char* timeout_arg, const std::string& library = {},
                              const std::atomic<bool>* cancelled = nullptr);

}  // namespace vx
