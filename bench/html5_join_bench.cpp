// How soon a viewer of the HTML5 output gets its first bytes and its first picture when it joins a
// running stream whose key frames are 10 s apart: at 1 s (inside the first key-frame interval), at
// 5 s and at 12 s (2 s into the second). The line is the one the engine composes for an HTML5
// target (testsrc and a sine through libx264 and aac, in real time) and runs through
// morvi-transcoder, which serves it on 127.0.0.1. Times count from the moment the transcoder's
// port first accepts a connection. At each moment two viewers join: a plain HTTP reader, timed to
// the first byte of the body, and ffmpeg decoding one picture with its probing cut short as a
// player would, timed from its start to its end (ffmpeg's own start-up of some 50 ms included).
// Also the stream time of the first picture the plain reader got, which shows how far behind the
// live edge (its join time) a viewer starts.
//
//   vx_bench_html5_join [SIZE=640x360]
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/command_line.h"
#include "platform/host.h"
#include "platform/process.h"
#include "platform/unique_fd.h"
#include "vocabulary/codecs.h"
#include "vocabulary/records.h"
#include "vocabulary/transcoder_protocol.h"

namespace vx {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kJoins[] = {1.0, 5.0, 12.0};
constexpr double kCountSeconds =
    2.0;                             // the body bytes a plain reader counts are those of its first
constexpr double kWaitLimit = 12.0;  // seconds, unless its first byte takes longer, up to this

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

UniqueFd connect_local(std::uint16_t port) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!socket ||
      ::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return {};
  return socket;
}

// The line the engine composes for an HTML5 target fed by a real-time test picture and tone.
std::string html5_line(std::uint16_t port, const std::string& size) {
  StartRequest request;
  EngineSource source;
  source.kind = FormatId::file;  // not a live URL: the engine reads it with "-re"
  source.input_options = "-f lavfi";
  source.url = "testsrc=size=" + size + ":rate=25 [out0]; sine=frequency=440 [out1]";
  EngineTarget target;
  target.format = FormatId::html5;
  target.url = "http://127.0.0.1:" + std::to_string(port);
  target.video.enable = true;
  target.video.codec = kCodecH264;
  target.video.key_frame_interval = 10;
  target.video.options = "-preset:v veryfast";
  target.audio.enable = true;
  target.audio.codec = codec_id_from_name("aac");
  target.audio.channels = 2;
  request.sources = {source};
  request.groups = {{target}};
  std::string line;
  const CommandSettings settings{0, 0, "", "/tmp/", ""};
  if (build_command_line(request, settings, line) != 0) return "";
  return line;
}

// The seconds from its connection to the body's first byte (-1: none within kWaitLimit), the
// body bytes of its first kCountSeconds, and the body up to a second after its first byte.
struct Reading {
  double first_byte = -1;
  std::size_t counted = 0;
  std::string body;
};

Reading read_stream(std::uint16_t port) {
  Reading reading;
  const auto start = Clock::now();
  UniqueFd socket = connect_local(port);
  if (!socket) return reading;
  const std::string request = "GET /1.mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  if (::send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL) < 0) return reading;
  std::string head;
  bool in_body = false;
  char buffer[64 * 1024];
  auto reading_on = [&] {
    const double now = seconds_since(start);
    return reading.first_byte < 0 ? now < kWaitLimit
                                  : now < std::max(kCountSeconds, reading.first_byte + 1.0);
  };
  while (reading_on()) {
    pollfd ready{socket.get(), POLLIN, 0};
    if (::poll(&ready, 1, 20) <= 0) continue;
    const ssize_t count = ::recv(socket.get(), buffer, sizeof buffer, 0);
    if (count <= 0) break;
    std::string_view body(buffer, static_cast<std::size_t>(count));
    if (!in_body) {
      head.append(body);
      const std::size_t end = head.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      in_body = true;
      body = std::string_view(head).substr(end + 4);
    }
    const double now = seconds_since(start);
    if (!body.empty() && reading.first_byte < 0) reading.first_byte = now;
    if (now < kCountSeconds) reading.counted += body.size();
    reading.body.append(body);
  }
  return reading;
}

// ffmpeg decoding one picture: seconds from its start to its end, -1 when it failed or timed out.
double first_picture(std::uint16_t port) {
  const auto start = Clock::now();
  ChildProcess child;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/1.mp4";
  if (spawn_child({"ffmpeg", "-nostdin", "-v", "error", "-probesize", "32", "-analyzeduration", "0",
                   "-i", url, "-an", "-frames:v", "1", "-f", "null", "-"},
                  child) != SpawnResult::started)
    return -1;
  child.input.reset();
  std::uint32_t code = 0;
  char sink[4096];
  while (!child_has_ended(child.pid, code)) {
    read_available(child.output.get(), sink, sizeof sink);
    if (seconds_since(start) > kWaitLimit) {
      signal_child_group(child.pid, SIGKILL);
      while (!child_has_ended(child.pid, code))
        std::this_thread::sleep_for(5ms);
      return -1;
    }
    std::this_thread::sleep_for(2ms);
  }
  return code == 0 ? seconds_since(start) : -1;
}

// The stream time of the first video packet of what a reader got, from ffprobe; -1 without one.
double first_video_time(const std::string& body) {
  char path[] = "/tmp/vx_html5_join_XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return -1;
  const bool written = ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
  ::close(fd);
  std::string out;
  ChildProcess probe;
  if (written && spawn_child({"ffprobe", "-v", "quiet", "-select_streams", "v:0", "-read_intervals",
                              "%+#1", "-show_entries", "packet=pts_time", "-of", "csv=p=0", path},
                             probe) == SpawnResult::started) {
    probe.input.reset();
    std::uint32_t code = 0;
    char text[4096];
    while (!child_has_ended(probe.pid, code)) {
      const long count = read_available(probe.output.get(), text, sizeof text);
      if (count > 0) out.append(text, static_cast<std::size_t>(count));
      std::this_thread::sleep_for(2ms);
    }
    for (long count; (count = read_available(probe.output.get(), text, sizeof text)) > 0;)
      out.append(text, static_cast<std::size_t>(count));
  }
  ::unlink(path);
  return out.empty() ? -1 : std::atof(out.c_str());
}

std::uint16_t free_port() {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return ntohs(address.sin_port);
}

int run(const std::string& size) {
  const std::uint16_t port = free_port();
  const std::string line = html5_line(port, size);
  if (port == 0 || line.empty()) {
    std::fprintf(stderr, "no port or no line\n");
    return 1;
  }
  std::printf("%s, a key frame every 10 s\nline: %s\n", size.c_str(), line.c_str());
  ChildProcess transcoder;
  const std::string program = module_folder() + "/" + std::string(kTranscoderFileName);
  if (spawn_child({program}, transcoder) != SpawnResult::started) return 1;
  const std::string text = std::string(kTranscoderToken) + " " + line + "\n";
  if (::write(transcoder.input.get(), text.data(), text.size()) !=
      static_cast<ssize_t>(text.size()))
    return 1;
  transcoder.input.reset();
  std::atomic<bool> done{false};
  std::thread drain([&] {
    char sink[16 * 1024];
    while (!done) {
      pollfd ready{transcoder.output.get(), POLLIN, 0};
      if (::poll(&ready, 1, 50) > 0 &&
          read_available(transcoder.output.get(), sink, sizeof sink) == 0)
        break;
    }
  });
  const auto deadline = Clock::now() + 10s;
  while (!connect_local(port) && Clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  const auto start = Clock::now();

  struct Join {
    Reading reading;
    double picture = -1;
  };
  std::vector<Join> joins(std::size(kJoins));
  std::vector<std::thread> viewers;
  for (std::size_t k = 0; k < joins.size(); ++k) {
    std::this_thread::sleep_until(start + std::chrono::duration<double>(kJoins[k]));
    viewers.emplace_back([&, k] { joins[k].reading = read_stream(port); });
    viewers.emplace_back([&, k] { joins[k].picture = first_picture(port); });
  }
  for (std::thread& viewer : viewers)
    viewer.join();
  signal_child_group(transcoder.pid, SIGINT);
  std::uint32_t code = 0;
  while (!child_has_ended(transcoder.pid, code))
    std::this_thread::sleep_for(10ms);
  done = true;
  drain.join();

  std::printf("%-8s %16s %18s %14s %22s\n", "joins at", "first bytes (s)", "first picture (s)",
              "bytes in 2 s", "first picture's time");
  for (std::size_t k = 0; k < joins.size(); ++k) {
    std::printf("%6.1f s %16.3f %18.3f %14zu %20.2f s\n", kJoins[k], joins[k].reading.first_byte,
                joins[k].picture, joins[k].reading.counted,
                first_video_time(joins[k].reading.body));
  }
  std::printf("(-1: none within %.0f s)\n", kWaitLimit);
  return 0;
}

}  // namespace
}  // namespace vx

int main(int argc, char** argv) {
  const std::string size = argc > 1 ? argv[1] : "640x360";
  return vx::run(size);
}
