#include "platform/encoder_list.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/host.h"
#include "platform/process.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kEnd = "end\n";
constexpr std::size_t kCacheSizeLimit = 1u << 20;

// The binary as it is now: a rebuilt or upgraded ffmpeg has another size or time.
std::optional<std::string> cache_key(const std::string& binary) {
  struct stat status {};
  if (::stat(binary.c_str(), &status) != 0) return std::nullopt;
  return binary + "\n" + std::to_string(status.st_size) + "\n" +
         std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec) +
         "\n";
}

// One file per binary, named after its path (FNV-1a: stable across builds, unlike std::hash).
std::string cache_file(const std::string& folder, const std::string& binary) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (const unsigned char c : binary) {
    hash = (hash ^ c) * 1099511628211ULL;
  }
  char name[48];
  std::snprintf(name, sizeof name, "ffmpeg-encoders-%016llx",
                static_cast<unsigned long long>(hash));
  return folder + "/" + name;
}

// The key, the names one per line, then the end mark: a file cut short or for another binary
// is not an answer.
std::optional<std::set<std::string>> read_cache(const std::string& file, const std::string& key) {
  const std::optional<std::string> text = file_read_whole(file, kCacheSizeLimit);
  if (!text || text->size() < key.size() + kEnd.size() || text->compare(0, key.size(), key) != 0 ||
      text->compare(text->size() - kEnd.size(), kEnd.size(), kEnd) != 0) {
    return std::nullopt;
  }
  std::set<std::string> encoders;
  std::istringstream names(text->substr(key.size(), text->size() - key.size() - kEnd.size()));
  for (std::string name; std::getline(names, name);) {
    if (!name.empty()) encoders.insert(name);
  }
  if (encoders.empty()) return std::nullopt;
  return encoders;
}

void write_cache(const std::string& file, const std::string& key,
                 const std::set<std::string>& encoders) {
  std::error_code error;
  fs::create_directories(fs::path(file).parent_path(), error);
  std::string text = key;
  for (const std::string& name : encoders) {
    text += name + "\n";
  }
  text += kEnd;
  file_replace(file, text);  // a cache that cannot be written only costs the next start a run
}

std::set<std::string> ask_ffmpeg(const std::string& ffmpeg, const EncoderListing& listing) {
  const std::optional<std::string> output = listing({ffmpeg, "-hide_banner", "-encoders"});
  return output ? parse_encoder_list(*output) : std::set<std::string>{};
}

}  // namespace

std::string ffmpeg_program() {
  const char* configured = std::getenv("MORVI_FFMPEG");
  return configured != nullptr && *configured != '\0' ? configured : "ffmpeg";
}

std::string encoder_cache_folder() {
  const std::string cache = xdg_base_folder("XDG_CACHE_HOME", "/.cache");
  return cache.empty() ? "" : cache + "/vantorix";
}

std::optional<std::string> resolved_program(const std::string& program) {
  std::vector<std::string> candidates;
  if (program.find('/') != std::string::npos) {
    candidates.push_back(program);
  } else if (const char* path = std::getenv("PATH"); path != nullptr) {
    std::istringstream folders(path);
    for (std::string folder; std::getline(folders, folder, ':');) {
      candidates.push_back((folder.empty() ? std::string(".") : folder) + "/" + program);
    }
  }
  for (const std::string& candidate : candidates) {
    if (::access(candidate.c_str(), X_OK) != 0) continue;
    std::error_code error;
    const fs::path binary = fs::canonical(candidate, error);
    if (!error && fs::is_regular_file(binary, error)) return binary.string();
  }
  return std::nullopt;
}

std::optional<std::string> run_encoder_listing(std::vector<std::string> argv) {
  using Clock = std::chrono::steady_clock;
  ChildProcess child;
  if (spawn_child(argv, child) != SpawnResult::started) return std::nullopt;
  child.input.reset();
  std::string bytes;
  const auto deadline = Clock::now() + kEncoderListLimit;
  bool timed_out = false;
  char buffer[64 * 1024];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      signal_child_group(child.pid, SIGKILL);
      break;
    }
    pollfd ready{child.output.get(), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    const long count = read_available(child.output.get(), buffer, sizeof buffer);
    if (count == 0) break;
    if (count > 0) bytes.append(buffer, static_cast<std::size_t>(count));
  }
  int status = 0;
  while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return bytes;
}

std::set<std::string> parse_encoder_list(const std::string& listing) {
  std::set<std::string> encoders;
  std::istringstream lines(listing);
  std::string line;
  bool in_table = false;
  while (std::getline(lines, line)) {
    if (!in_table) {
      in_table = line.find("------") != std::string::npos;
      continue;
    }
    std::istringstream fields(line);
    std::string flags, name;
    if (fields >> flags >> name) encoders.insert(name);
  }
  return encoders;
}

std::set<std::string> ffmpeg_encoders(const std::string& ffmpeg, const EncoderListing& listing) {
  const std::string folder = encoder_cache_folder();
  const std::optional<std::string> binary = resolved_program(ffmpeg);
  const std::optional<std::string> key = binary ? cache_key(*binary) : std::nullopt;
  if (folder.empty() || !key) return ask_ffmpeg(ffmpeg, listing);
  const std::string file = cache_file(folder, *binary);
  if (std::optional<std::set<std::string>> cached = read_cache(file, *key)) return *cached;
  std::set<std::string> encoders = ask_ffmpeg(ffmpeg, listing);
  if (!encoders.empty()) write_cache(file, *key, encoders);
  return encoders;
}

}  // namespace vx
