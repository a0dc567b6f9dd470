// The HTTP fan-out under load: VIEWERS viewers on 127.0.0.1 of an MPEG-TS stream of MBIT Mbit/s
// fed in 10 ms steps for SECONDS seconds. Prints the processor time of this process (the fan-out's
// server thread and the feeding, no ffmpeg, no viewers) as a share of one core, and whether every
// viewer got every packet from the one it joined at to the last. The viewers read in a child
// process so that their own processor time is not counted.
//
//   vx_bench_http_fanout [VIEWERS=50] [SECONDS=20] [MBIT=4]
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

constexpr auto kStep = 10ms;

// Packet n carries n after its header, so a viewer can tell a gap from a packet.
std::string numbered_packets(std::uint32_t count) {
  std::string stream(std::size_t{count} * vx::kTsPacketSize, '\x11');
  for (std::uint32_t n = 0; n < count; ++n) {
    char* packet = stream.data() + std::size_t{n} * vx::kTsPacketSize;
    packet[0] = vx::kTsSyncByte;
    packet[1] = 0x01;
    packet[3] = static_cast<char>(0x10 | (n & 0x0f));
    std::memcpy(packet + 4, &n, sizeof n);
  }
  return stream;
}

// What one viewer saw.
struct Seen {
  std::string pending;  // the response head, then part of a packet
  bool in_body = false;
  bool any = false;
  bool gap = false;
  bool ended = false;
  std::uint32_t first = 0;
  std::uint32_t next = 0;
  std::uint64_t packets = 0;

  void take(const char* bytes, std::size_t count) {
    pending.append(bytes, count);
    std::size_t at = 0;
    if (!in_body) {
      const std::size_t end = pending.find("\r\n\r\n");
      if (end == std::string::npos) return;
      in_body = true;
      at = end + 4;
    }
    for (; at + vx::kTsPacketSize <= pending.size(); at += vx::kTsPacketSize) {
      std::uint32_t number = 0;
      std::memcpy(&number, pending.data() + at + 4, sizeof number);
      if (pending[at] != vx::kTsSyncByte || (any && number != next)) gap = true;
      if (!any) first = number;
      any = true;
      next = number + 1;
      ++packets;
    }
    pending.erase(0, at);
  }
};

using vx::testing_support::connect_local;

// The child: connects every viewer, reads until every response has ended (or a minute has
// passed), and writes one line per viewer: "first next packets gap ended".
int run_viewers(int port_input, int report_output, int viewers) {
  std::uint16_t port = 0;
  if (::read(port_input, &port, sizeof port) != sizeof port) return 1;
  std::vector<vx::UniqueFd> sockets;
  std::vector<Seen> seen(static_cast<std::size_t>(viewers));
  const std::string request = "GET /bench.ts HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  for (int i = 0; i < viewers; ++i) {
    sockets.push_back(connect_local(port));
    if (!sockets.back() || !vx::write_all(sockets.back().get(), request)) return 1;
  }
  std::vector<char> buffer(256 * 1024);
  const auto deadline = Clock::now() + 60s + std::chrono::seconds(viewers);
  int open = viewers;
  while (open > 0 && Clock::now() < deadline) {
    std::vector<pollfd> waiting;
    for (const vx::UniqueFd& fd : sockets)
      waiting.push_back({fd.get(), POLLIN, 0});
    if (::poll(waiting.data(), waiting.size(), 500) <= 0) continue;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      if (seen[i].ended || waiting[i].revents == 0) continue;
      const ssize_t count = ::recv(waiting[i].fd, buffer.data(), buffer.size(), 0);
      if (count > 0) {
        seen[i].take(buffer.data(), static_cast<std::size_t>(count));
      } else {
        seen[i].ended = true;
        sockets[i].reset(-1);
        --open;
      }
    }
  }
  std::string report;
  for (const Seen& viewer : seen) {
    report += std::to_string(viewer.first) + " " + std::to_string(viewer.next) + " " +
              std::to_string(viewer.packets) + " " + (viewer.gap ? "1" : "0") + " " +
              (viewer.ended ? "1" : "0") + "\n";
  }
  return vx::write_all(report_output, report) ? 0 : 1;
}

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t count = 0;
  while ((count = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(count));
  return text;
}

double cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int argument(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::atoi(argv[index]) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int viewers = argument(argc, argv, 1, 50);
  const int seconds = argument(argc, argv, 2, 20);
  const int mbit = argument(argc, argv, 3, 4);
  if (viewers <= 0 || seconds <= 0 || mbit <= 0) {
    std::fprintf(stderr, "usage: %s [VIEWERS=50] [SECONDS=20] [MBIT=4]\n", argv[0]);
    return 2;
  }

  const std::optional<vx::bench::ForkedPeer> peer =
      vx::bench::fork_peer([&](int port_input, int report_output) {
        return run_viewers(port_input, report_output, viewers);
      });
  if (!peer) return 1;

  const std::uint64_t bytes_per_second = std::uint64_t(mbit) * 1'000'000 / 8;
  const auto total_packets =
      static_cast<std::uint32_t>(bytes_per_second * std::uint64_t(seconds) / vx::kTsPacketSize);
  const std::string stream = numbered_packets(total_packets);

  std::string error;
  // Every viewer comes from 127.0.0.1 here.
  auto fanout = vx::HttpFanout::start(
      {.host = "127.0.0.1", .viewers_per_address = static_cast<std::size_t>(viewers)}, error);
  if (!fanout) {
    std::fprintf(stderr, "%s\n", error.c_str());
    peer->kill_and_wait();
    return 1;
  }
  if (!peer->tell_port(fanout->port())) return 1;
  const auto connect_deadline = Clock::now() + 30s;
  while (fanout->viewer_count() < static_cast<std::size_t>(viewers) &&
         Clock::now() < connect_deadline)
    std::this_thread::sleep_for(10ms);

  // Feeds the stream at its bit rate in 10 ms steps, as ffmpeg's pipe would deliver it.
  const double cpu_start = cpu_seconds();
  const auto start = Clock::now();
  const std::size_t steps = static_cast<std::size_t>(seconds) * 100;
  std::size_t fed = 0;
  for (std::size_t step = 1; step <= steps; ++step) {
    const std::size_t due = std::min(
        stream.size(), (stream.size() * step / steps) / vx::kTsPacketSize * vx::kTsPacketSize);
    fanout->feed(std::string_view(stream).substr(fed, due - fed));
    fed = due;
    std::this_thread::sleep_until(start + kStep * step);
  }
  fanout->feed(std::string_view(stream).substr(fed));
  fanout->finish();
  const std::string report = read_all(peer->report_input.get());  // once every viewer has its end
  const double cpu = cpu_seconds() - cpu_start;
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  peer->wait();

  int complete = 0;
  int with_gaps = 0;
  std::uint32_t latest_join = 0;
  std::size_t lines = 0;
  for (std::size_t at = 0; at < report.size(); ++lines) {
    const std::size_t end = report.find('\n', at);
    unsigned first = 0, next = 0, gap = 0, ended = 0;
    unsigned long long packets = 0;
    std::sscanf(report.c_str() + at, "%u %u %llu %u %u", &first, &next, &packets, &gap, &ended);
    if (gap != 0) ++with_gaps;
    if (gap == 0 && ended != 0 && next == total_packets && packets == next - first) ++complete;
    latest_join = std::max<std::uint32_t>(latest_join, first);
    at = end == std::string::npos ? report.size() : end + 1;
  }
  const vx::FanoutStatistics statistics = fanout->statistics();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);

  std::printf("viewers                  %d (reported %zu)\n", viewers, lines);
  std::printf("stream                   %d Mbit/s MPEG-TS, %d s, %zu bytes fed\n", mbit, seconds,
              stream.size());
  std::printf("fan-out processor time   %.3f s over %.2f s = %.2f %% of one core\n", cpu, wall,
              100.0 * cpu / wall);
  std::printf("viewers dropped          %llu\n",
              static_cast<unsigned long long>(statistics.viewers_dropped));
  std::printf(
      "every byte from its join %d of %d viewers (with gaps: %d; latest join at packet %u)\n",
      complete, viewers, with_gaps, latest_join);
  std::printf("peak resident memory     %ld KiB\n", usage.ru_maxrss);
  return complete == viewers && statistics.viewers_dropped == 0 ? 0 : 1;
}
