#include "platform/capture_devices.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace vx {
namespace {

namespace fs = std::filesystem;

std::string first_line_of(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// "video12" -> 12; -1 for anything else.
int node_number(std::string_view name, std::string_view prefix) {
  if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size()) return -1;
  int number = 0;
  for (char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9' || number > 100000) return -1;
    number = number * 10 + (c - '0');
  }
  return number;
}

}  // namespace

std::vector<CaptureDevice> list_video_capture_devices(const CaptureDeviceRoots& roots) {
  std::vector<std::pair<int, CaptureDevice>> found;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(fs::path(roots.sysfs) / "class/video4linux", error)) {
    const std::string node = entry.path().filename().string();
    const int number = node_number(node, "video");
    if (number < 0) continue;
    const std::string index = first_line_of(entry.path() / "index");
    if (!index.empty() && index != "0") continue;
    std::string name = first_line_of(entry.path() / "name");
    if (name.empty()) continue;
    found.push_back({number, {std::move(name), roots.dev + "/" + node}});
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<CaptureDevice> devices;
  for (auto& [number, device] : found) devices.push_back(std::move(device));
  return devices;
}

// Lines of /proc/asound/pcm: "01-00: USB Audio : USB Audio : capture 1".
std::vector<CaptureDevice> list_audio_capture_devices(const CaptureDeviceRoots& roots) {
  std::vector<CaptureDevice> devices;
  std::ifstream in(fs::path(roots.procfs) / "asound/pcm");
  std::string line;
  while (std::getline(in, line)) {
    const std::string_view text = line;
    if (text.find("capture") == std::string_view::npos) continue;
    const std::size_t dash = text.find('-');
    const std::size_t colon = text.find(':');
    if (dash == std::string_view::npos || colon == std::string_view::npos || dash > colon) continue;
    const int card = std::atoi(line.substr(0, dash).c_str());
    const int device = std::atoi(line.substr(dash + 1, colon - dash - 1).c_str());
    const std::size_t name_start = text.find(':', colon + 1);
    const std::size_t name_end =
        name_start == std::string_view::npos ? name_start : text.find(':', name_start + 1);
    if (name_start == std::string_view::npos) continue;
    const std::string_view name = trimmed(text.substr(name_start + 1, name_end - name_start - 1));
    if (name.empty()) continue;
    devices.push_back(
        {std::string(name), "plughw:" + std::to_string(card) + "," + std::to_string(device)});
  }
  return devices;
}

}  // namespace vx
