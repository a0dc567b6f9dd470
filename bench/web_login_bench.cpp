// What a password guesser gets from the administration server, and what a login costs: one
// address (127.0.0.2) sends wrong passwords through the login form as fast as the server answers
// for SECONDS seconds, counting the guesses the server checked and those it refused unchecked
// (429); meanwhile the operator logs in from 127.0.0.1 every few seconds, and the time each of
// those logins takes is printed, as is the median cost of a right login with nobody guessing.
//
//   vx_bench_web_login [SECONDS=60] [THREADS=4]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/store.h"
#include "tests/support/http_client.h"
#include "web/server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using vx::testing_support::http_exchange;

constexpr std::uint32_t kGuesser = 0x7F000002;
constexpr std::uint32_t kOperator = 0x7F000001;

int login_status(int port, const std::string& password, std::uint32_t source) {
  const std::string body = "auth=" + password;
  const std::string request =
      "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: "
      "application/x-www-form-urlencoded\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;
  return http_exchange(static_cast<std::uint16_t>(port), request, source).status();
}

double milliseconds_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median_login_ms(int port, int count) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    if (login_status(port, "right", kOperator) != 301) return -1;
    times.push_back(milliseconds_since(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int threads = argc > 2 ? std::atoi(argv[2]) : 4;
  const fs::path folder =
      fs::temp_directory_path() / ("vx-bench-login-" + std::to_string(getpid()));
  fs::create_directories(folder);
  vx::config_set_path((folder / "morvi.json").string());
  const int port = 20000 + getpid() % 20000;
  {
    const vx::CoreLock lock = vx::core_lock();
    vx::config_normalise(R"({"global": {"httpPort": )" + std::to_string(port) +
                         R"(, "loginPass": "right"}, "channels": []})");
  }
  if (!vx::web_server_start()) {
    std::fprintf(stderr, "the server cannot listen on port %d\n", port);
    return 1;
  }
  std::printf("one right login, median of 20, nobody guessing: %.1f ms\n",
              median_login_ms(port, 20));

  std::atomic<bool> stop{false};
  std::atomic<long> checked{0}, refused{0};
  std::vector<std::thread> guessers;
  for (int t = 0; t < threads; ++t) {
    guessers.emplace_back([&] {
      while (!stop) {
        const int status = login_status(port, "wrong", kGuesser);
        if (status == 403) ++checked;
        if (status == 429) ++refused;
      }
    });
  }
  const auto start = Clock::now();
  while (Clock::now() - start < std::chrono::seconds(seconds)) {
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const auto login_start = Clock::now();
    const int status = login_status(port, "right", kOperator);
    std::printf("  t=%3.0f s: the operator's login from another address: %d in %.1f ms\n",
                milliseconds_since(start) / 1000, status, milliseconds_since(login_start));
  }
  stop = true;
  for (std::thread& guesser : guessers)
    guesser.join();
  const double minutes = milliseconds_since(start) / 60000;
  std::printf(
      "%d threads guessing from one address for %d s: %ld guesses checked (%.1f a minute), "
      "%ld refused unchecked (429)\n",
      threads, seconds, checked.load(), checked / minutes, refused.load());
  vx::web_server_stop();
  vx::config_free();
  fs::remove_all(folder);
  return 0;
}
