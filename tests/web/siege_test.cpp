// The server under connections that hold it without asking anything: idle sockets, request heads
// trickled a byte at a time, slow uploads, and searches that take an hour.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/web/server_fixture.h"
#include "web/request_log.h"

namespace vx {
namespace {

using namespace testing_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kAttacker = 0x7f000002;  // 127.0.0.2

// One address opens far more idle and trickling connections than its share. The operator's
// /status from another address is answered every time meanwhile; the attacker holds no more than
// its share at any time, and none once the head deadline has passed; afterwards the address is
// served again like any other.
TEST_F(WebServer, OneAddressCannotCrowdTheOperatorOut) {
  install(document_text(port_, 3, "secret"));
  const std::string session = session_of(http_post(port_, "/login", "auth=secret", kForm));
  ASSERT_FALSE(session.empty());

  std::vector<UniqueFd> idle;
  std::vector<UniqueFd> trickling;
  std::uint16_t source_port = kCrowdPorts;
  for (int i = 0; i < 300; ++i)
    idle.push_back(connect_local(port_, 0, kAttacker, source_port++));
  for (int i = 0; i < 200; ++i) {
    trickling.push_back(connect_local(port_, 0, kAttacker, source_port++));
    send_text(trickling.back().get(), "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ");
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_LE(count_not_closed(idle) + count_not_closed(trickling), kConnectionsPerAddress);

  const std::string status_request =
      "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Connection: close\r\n" +
      cookie(session) + "\r\n";
  int probes = 0;
  int answered = 0;
  const auto until = Clock::now() + std::chrono::seconds(kRequestHeadSeconds + 2);
  while (Clock::now() < until) {
    for (const UniqueFd& fd : trickling) {
      if (fd) send_text(fd.get(), "x");
    }
    ++probes;
    answered += http_exchange(port_, status_request).status() == 200 ? 1 : 0;
    std::this_thread::sleep_for(250ms);
  }
  EXPECT_EQ(answered, probes);
  EXPECT_EQ(count_not_closed(idle), 0U) << "idle past the head deadline";
  EXPECT_EQ(count_not_closed(trickling), 0U) << "trickling past the head deadline";
  EXPECT_EQ(http_exchange(port_, status_request, kAttacker).status(), 200);
}

// A body trickled in small chunks under a 16 kB URL writes one line, with the URL cut; a log past
// its size limit is archived first, and the new one is private to the user.
TEST_F(WebServer, ATrickledUploadWritesOneShortLogLine) {
  const fs::path log = folder_ / "morvi_cgi.log";
  std::ofstream(log) << std::string(kRequestLogSizeLimit + 1, '.');
  fs::permissions(log, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::others_read);
  const std::string url = "/config/" + std::string(16384, 'a');
  const std::string chunk(100, 'b');
  const int chunks = 40;
  const UniqueFd fd = connect_local(port_);
  ASSERT_TRUE(send_text(fd.get(), "POST " + url +
                                      " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                      "Connection: close\r\nContent-Length: " +
                                      std::to_string(chunk.size() * chunks) + "\r\n\r\n"));
  for (int i = 0; i < chunks; ++i) {
    ASSERT_TRUE(send_text(fd.get(), chunk));
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_FALSE(read_to_end(fd.get(), 10s).empty());

  EXPECT_EQ(read_text(folder_ / "morvi_cgi-1.log").size(), kRequestLogSizeLimit + 1);
  const std::string text = log_text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text.substr(0, 2000);
  EXPECT_LT(text.size(), kLoggedUrlLimit + 120);
  EXPECT_NE(text.find("POST /config/aaaa"), std::string::npos) << text;
  EXPECT_NE(text.find(" [URL cut, " + std::to_string(url.size()) + " bytes] from 127.0.0.1:"),
            std::string::npos)
      << text;
  EXPECT_EQ(fs::status(log).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace vx
