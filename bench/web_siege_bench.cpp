// The administration server besieged from ADDRESSES addresses (127.0.0.2 onward, the
// connections dealt out in turn), as someone without a login could: IDLE connections that send
// nothing and TRICKLE connections that send a request head one byte every five seconds, opened
// in that order. Meanwhile the logged-in operator (127.0.0.1)
// asks for "/status" on a new connection every 200 ms for SECONDS seconds. Prints how many of
// the attacker's connections the server took and still holds at the end, and how many of the
// operator's requests were answered and how fast (a request unanswered after 5 s counts as lost).
//
//   vx_bench_web_siege [IDLE=600] [TRICKLE=300] [SECONDS=30] [ADDRESSES=1]
#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/web_bench_server.h"
#include "platform/descriptor_limit.h"
#include "platform/unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;
using vx::UniqueFd;

constexpr std::uint32_t kFirstAttacker = 0x7f000002;  // 127.0.0.2
constexpr auto kProbeLimit = std::chrono::seconds(5);

// Milliseconds until the whole answer came, or -1 when it did not come within the limit.
double probe(int port, const std::string& request) {
  const Clock::time_point start = Clock::now();
  const UniqueFd fd = vx::testing_support::begin_connect_local(port, INADDR_LOOPBACK);
  if (!fd) return -1;
  pollfd writable{fd.get(), POLLOUT, 0};
  if (::poll(&writable, 1, 5000) <= 0 || !vx::testing_support::send_text(fd.get(), request)) {
    return -1;
  }
  std::string received;
  char buffer[65536];
  while (Clock::now() - start < kProbeLimit) {
    pollfd readable{fd.get(), POLLIN, 0};
    if (::poll(&readable, 1, 50) <= 0) continue;
    const ssize_t count = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (count <= 0) break;
    received.append(buffer, static_cast<std::size_t>(count));
  }
  if (received.rfind("HTTP/1.1 200", 0) != 0) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int idle = argc > 1 ? std::atoi(argv[1]) : 600;
  const int trickle = argc > 2 ? std::atoi(argv[2]) : 300;
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 30;
  const int addresses = std::max(argc > 4 ? std::atoi(argv[4]) : 1, 1);
  int dealt = 0;
  const auto next_attacker = [&] {
    return kFirstAttacker + static_cast<std::uint32_t>(dealt++ % addresses);
  };
  // Server and attacker share this process: both ends of every connection count.
  const std::uint64_t descriptors = vx::raise_descriptor_limit();
  const vx::bench::BenchServer server("vx-bench-siege");
  if (!server.started()) return 1;
  const std::string session = server.log_in();
  if (session.empty()) {
    std::fprintf(stderr, "the login form gave no session\n");
    return 1;
  }
  const int port = server.port();

  std::vector<UniqueFd> idlers;
  for (int i = 0; i < idle; ++i) {
    if (UniqueFd fd = vx::testing_support::begin_connect_local(port, next_attacker()))
      idlers.push_back(std::move(fd));
  }
  std::vector<UniqueFd> tricklers;
  for (int i = 0; i < trickle; ++i) {
    if (UniqueFd fd = vx::testing_support::begin_connect_local(port, next_attacker()))
      tricklers.push_back(std::move(fd));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::size_t idle_taken = vx::testing_support::count_not_closed(idlers);
  const std::size_t trickle_taken = vx::testing_support::count_not_closed(tricklers);
  for (const UniqueFd& fd : tricklers)
    vx::testing_support::send_text(fd.get(), "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ");
  std::atomic<bool> done{false};
  std::thread trickling([&] {
    while (!done) {
      for (int tenth = 0; tenth < 50 && !done; ++tenth)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      for (const UniqueFd& fd : tricklers)
        vx::testing_support::send_text(fd.get(), "x");
    }
  });

  const std::string request =
      "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
      "Cookie: " +
      session + "\r\n\r\n";
  std::vector<double> times;
  int lost = 0;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < end) {
    const double ms = probe(port, request);
    if (ms < 0) {
      ++lost;
    } else {
      times.push_back(ms);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const std::size_t idle_held = vx::testing_support::count_not_closed(idlers);
  const std::size_t trickle_held = vx::testing_support::count_not_closed(tricklers);
  done = true;
  trickling.join();

  std::sort(times.begin(), times.end());
  std::printf(
      "descriptor limit %llu; %d attacking address(es) from 127.0.0.2: %d idle, %d "
      "trickling connections\n",
      static_cast<unsigned long long>(descriptors), addresses, idle, trickle);
  std::printf("held by the server after 0.5 s: %zu idle, %zu trickling\n", idle_taken,
              trickle_taken);
  std::printf("held by the server after %d s: %zu idle, %zu trickling\n", seconds, idle_held,
              trickle_held);
  std::printf("operator /status from 127.0.0.1: %zu answered, %d lost (no answer in 5 s)\n",
              times.size(), lost);
  if (!times.empty()) {
    std::printf("answer time: median %.1f ms, worst %.1f ms\n", times[times.size() / 2],
                times.back());
  }
  return 0;
}
