#include "tests/support/media_tools.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/unique_fd.h"

namespace vx::testing_support {

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool process_exists(pid_t pid) {
  if (pid <= 0) return false;
  const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

std::vector<std::string> ffmpeg_argv(std::vector<std::string> arguments) {
  std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

std::vector<Stream> probe(const fs::path& media) {
  const fs::path out = media.string() + ".probe";
  const fs::path err = media.string() + ".probe-err";
  Process ffprobe({"ffprobe", "-v", "error", "-show_entries",
                   "stream=codec_type,codec_name,field_order", "-of", "flat", media.string()},
                  media.parent_path(), out, err);
  const std::optional<int> status = ffprobe.wait(kProcessLimit);
  if (status != 0) {
    ADD_FAILURE() << "ffprobe " << media << " failed: " << read_text(err);
    return {};
  }
  std::vector<Stream> streams;
  std::istringstream lines(read_text(out));
  const std::string prefix = "streams.stream.";
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(prefix)) continue;
    std::size_t end = 0;
    const std::size_t index = std::stoul(line.substr(prefix.size()), &end);
    const std::string entry = line.substr(prefix.size() + end + 1);
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    std::string value = entry.substr(equals + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    if (streams.size() <= index) streams.resize(index + 1);
    const std::string key = entry.substr(0, equals);
    if (key == "codec_type") streams[index].codec_type = value;
    if (key == "codec_name") streams[index].codec_name = value;
    if (key == "field_order") streams[index].field_order = value;
  }
  return streams;
}

std::vector<std::string> kinds(const std::vector<Stream>& streams) {
  std::vector<std::string> names;
  for (const Stream& stream : streams)
    names.push_back(stream.codec_type + " " + stream.codec_name);
  std::sort(names.begin(), names.end());
  return names;
}

std::uint16_t free_udp_ports(int count) {
  const auto bind_port = [](std::uint16_t port) {
    UniqueFd fd(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (!fd || bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      return UniqueFd();
    }
    return fd;
  };
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueFd any = bind_port(0);
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (!any || getsockname(any.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) break;
    const int base = (ntohs(address.sin_port) + 1) & ~1;
    any.reset();
    if (base + count > 65536) continue;
    std::vector<UniqueFd> held;
    for (int i = 0; i < count; ++i) {
      UniqueFd fd = bind_port(static_cast<std::uint16_t>(base + i));
      if (!fd) break;
      held.push_back(std::move(fd));
    }
    if (static_cast<int>(held.size()) == count) return static_cast<std::uint16_t>(base);
  }
  return 0;
}

bool udp_port_bound(std::uint16_t port) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ":%04X", port);
  std::istringstream table(read_text("/proc/net/udp"));
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, local;
    fields >> slot >> local;
    if (local.ends_with(suffix)) return true;
  }
  return false;
}

}  // namespace vx::testing_support
