// One address crowding the HTTP fan-out: IDLE sockets from 127.0.0.2 that never send a request,
// then one viewer from 127.0.0.3. Prints how many of the idle sockets the fan-out holds, the
// descriptors this process has open, and how long the other viewer waits for its first stream
// bytes. The fan-out runs under a soft descriptor limit of DESCRIPTORS (1024 is the usual one a
// program starts with); the idle sockets and the viewer live in a child process with a limit of
// its own. Idle sockets the fan-out has not accepted yet (in the listen backlog) count as held.
//
//   vx_bench_http_fanout_one_address [IDLE=1100] [DESCRIPTORS=1024]
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/forked_peer.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"
#include "tests/support/http_client.h"
#include "transcoder/http_fanout.h"
#include "transcoder/stream_framing.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kCrowd = 0x7f000002;   // 127.0.0.2
constexpr std::uint32_t kViewer = 0x7f000003;  // 127.0.0.3

bool set_soft_descriptor_limit(rlim_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  limit.rlim_cur = std::min(wanted, limit.rlim_max);
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool connected(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

std::size_t open_descriptors(pid_t process);
double first_bytes_after(std::uint16_t port, Clock::duration limit);

// The child: opens `idle` connections from 127.0.0.2, waits until they are settled, then has a
// viewer from 127.0.0.3 ask for the stream, and reports "connected held descriptors seconds".
int run_crowd(int port_input, int report_output, int idle) {
  set_soft_descriptor_limit(RLIM_INFINITY);
  std::uint16_t port = 0;
  if (::read(port_input, &port, sizeof port) != sizeof port) return 1;
  std::vector<vx::UniqueFd> sockets;
  for (int i = 0; i < idle; ++i) {
    sockets.push_back(vx::testing_support::begin_connect_local(port, kCrowd));
    std::this_thread::sleep_for(100us);  // a steady crowd, not a burst the backlog drops
  }
  std::this_thread::sleep_for(3s);
  int made = 0;
  int kept = 0;
  for (const vx::UniqueFd& fd : sockets) {
    if (!fd || !connected(fd.get())) continue;
    ++made;
    if (!vx::testing_support::peer_closed(fd.get())) ++kept;
  }
  const std::size_t in_use = open_descriptors(::getppid());
  const double first = first_bytes_after(port, 40s);
  const std::string report = std::to_string(made) + " " + std::to_string(kept) + " " +
                             std::to_string(in_use) + " " + std::to_string(first) + "\n";
  return vx::write_all(report_output, report) ? 0 : 1;
}

std::size_t open_descriptors(pid_t process) {
  std::size_t count = 0;
  const std::string path = "/proc/" + std::to_string(process) + "/fd";
  if (DIR* folder = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(folder))
      count += entry->d_name[0] != '.' ? 1 : 0;
    ::closedir(folder);
  }
  return count;
}

// Seconds until the first body byte from 127.0.0.3, or a negative number when none came within
// `limit`.
double first_bytes_after(std::uint16_t port, Clock::duration limit) {
  const auto start = Clock::now();
  const auto deadline = start + limit;
  vx::UniqueFd fd = vx::testing_support::begin_connect_local(port, kViewer);
  if (!fd) return -1;
  pollfd writable{fd.get(), POLLOUT, 0};
  while (::poll(&writable, 1, 50) == 0 && Clock::now() < deadline) {
  }
  if (!connected(fd.get())) return -1;
  const std::string request = "GET /live.ts HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (!vx::write_all(fd.get(), request)) return -1;
  std::string received;
  char buffer[65536];
  while (Clock::now() < deadline) {
    pollfd readable{fd.get(), POLLIN, 0};
    if (::poll(&readable, 1, 50) <= 0) continue;
    const ssize_t count = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (count <= 0) return -1;
    received.append(buffer, static_cast<std::size_t>(count));
    const std::size_t head_end = received.find("\r\n\r\n");
    if (head_end != std::string::npos && received.size() > head_end + 4)
      return std::chrono::duration<double>(Clock::now() - start).count();
  }
  return -1;
}

int argument(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::atoi(argv[index]) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int idle = argument(argc, argv, 1, 1100);
  const int descriptors = argument(argc, argv, 2, 1024);
  if (idle <= 0 || descriptors <= 16) {
    std::fprintf(stderr, "usage: %s [IDLE=1100] [DESCRIPTORS=1024]\n", argv[0]);
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);

  const std::optional<vx::bench::ForkedPeer> peer =
      vx::bench::fork_peer([&](int port_input, int report_output) {
        return run_crowd(port_input, report_output, idle);
      });
  if (!peer) return 1;
  if (!set_soft_descriptor_limit(static_cast<rlim_t>(descriptors))) return 1;

  std::string error;
  auto fanout = vx::HttpFanout::start({.host = "127.0.0.1"}, error);
  if (!fanout) {
    std::fprintf(stderr, "%s\n", error.c_str());
    peer->kill_and_wait();
    return 1;
  }
  // A packet every 10 ms, so a viewer that is served gets bytes at once.
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    std::string packet(vx::kTsPacketSize, '\x11');
    packet[0] = vx::kTsSyncByte;
    packet[1] = 0x01;
    while (feeding) {
      fanout->feed(packet);
      std::this_thread::sleep_for(10ms);
    }
  });
  peer->tell_port(fanout->port());
  char report[128] = {};
  const ssize_t got = ::read(peer->report_input.get(), report, sizeof report - 1);
  int made = 0;
  int kept = 0;
  std::size_t in_use = 0;
  double first = -1;
  if (got > 0) std::sscanf(report, "%d %d %zu %lf", &made, &kept, &in_use, &first);
  feeding = false;
  feeder.join();
  peer->wait();
  fanout.reset();

  std::printf("descriptor limit         %d\n", descriptors);
  std::printf("idle from 127.0.0.2       %d tried, %d connected, %d held\n", idle, made, kept);
  std::printf("fan-out's descriptors    %zu open\n", in_use);
  if (first < 0) {
    std::printf("viewer from 127.0.0.3    no stream bytes within 40 s\n");
  } else {
    std::printf("viewer from 127.0.0.3    first stream bytes after %.3f s\n", first);
  }
  return first >= 0 && first < 1.0 ? 0 : 1;
}
