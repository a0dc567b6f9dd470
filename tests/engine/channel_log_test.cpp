#include "engine/channel_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/peers.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

const std::string kBom = "\xEF\xBB\xBF";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A file of the given size whose first bytes are the marker (the rest is a hole).
void write_sized_file(const fs::path& path, const std::string& marker, std::uintmax_t size) {
  write_file(path, marker);
  fs::resize_file(path, size);
}

class ChannelLog : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing_support::fresh_test_folder("vx-log");
    channel_log_open(folder_.string(), 32);
  }
  void TearDown() override {
    channel_log_close();
    fs::remove_all(folder_);
  }
  fs::path log(int slot) const { return channel_log_path(slot); }
  fs::path archive(int slot, int number) const { return channel_log_archive_path(slot, number); }

  fs::path folder_;
};

TEST_F(ChannelLog, NamesFollowTheSlotNumberFromOne) {
  EXPECT_EQ(log(0), folder_ / "morv_001.log");
  EXPECT_EQ(log(31), folder_ / "morv_032.log");
  EXPECT_EQ(archive(4, 9), folder_ / "morv_005-9.log");
  channel_log_open(folder_.string() + "/", 32);  // a trailing '/' is not doubled
  EXPECT_EQ(log(0).string(), folder_.string() + "/morv_001.log");
}

TEST_F(ChannelLog, LevelZeroWritesNothingAndPrintfNeedsAnOpenLog) {
  channel_log_set_level(0);
  EXPECT_EQ(engine_log(0, true, "start"), 0);
  EXPECT_EQ(engine_log_printf(0, true, "error %d", -3), 0);
  EXPECT_FALSE(fs::exists(log(0)));

  channel_log_close();
  EXPECT_EQ(engine_log_printf(0, true, "error %d", -3), -1);
  EXPECT_EQ(engine_log(0, true, "x"), 0);  // logging is off, not failed
  EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(ChannelLog, ByteOrderMarkOnlyOnNewOrEmptyFiles) {
  ASSERT_EQ(engine_log(2, true, "stop transcoding"), 0);
  ASSERT_EQ(engine_log(2, false, "frame=1 fps=25\r\n"), 0);
  ASSERT_EQ(engine_log(2, true, "two\nlines"), 0);
  const std::string text = read_file(log(2));
  const std::regex expected(kBom + R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\] stop transcoding\n)"
                                   R"(frame=1 fps=25\r\n)"
                                   R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\] two\nlines)");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;

  write_file(log(3), "");
  ASSERT_EQ(engine_log(3, false, "raw"), 0);
  EXPECT_EQ(read_file(log(3)), kBom + "raw");

  write_file(log(4), "kept");
  fs::permissions(log(4), fs::perms::others_read, fs::perm_options::add);
  ASSERT_EQ(engine_log(4, false, "+more"), 0);
  EXPECT_EQ(read_file(log(4)), "kept+more");

  // New logs and older readable ones alike are the user's alone: they hold the sources' URLs.
  for (const int slot : {2, 3, 4}) {
    EXPECT_EQ(fs::status(log(slot)).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << slot;
  }
}

TEST_F(ChannelLog, PrintfCutsAt999Characters) {
  const std::string long_text(1500, 'x');
  ASSERT_EQ(engine_log_printf(5, false, "%s", long_text.c_str()), 0);
  EXPECT_EQ(read_file(log(5)), kBom + std::string(999, 'x'));

  ASSERT_EQ(engine_log_printf(6, true, "transcoding stopped (0x%08x)", 0x89u), 0);
  EXPECT_NE(read_file(log(6)).find("] transcoding stopped (0x00000089)\n"), std::string::npos);
}

TEST_F(ChannelLog, RotatesOnlyPastTheLimit) {
  write_sized_file(log(0), "full", kChannelLogSizeLimit);
  ASSERT_EQ(engine_log(0, false, "a"), 0);
  EXPECT_FALSE(fs::exists(archive(0, 1)));
  EXPECT_EQ(fs::file_size(log(0)), kChannelLogSizeLimit + 1);

  ASSERT_EQ(engine_log(0, false, "b"), 0);  // one byte over: rotated before this write
  EXPECT_EQ(fs::file_size(archive(0, 1)), kChannelLogSizeLimit + 1);
  EXPECT_EQ(read_file(log(0)), kBom + "b");
}

TEST_F(ChannelLog, RotationAppendsTheNextArchiveNumber) {
  write_file(archive(1, 1), "old1");
  write_sized_file(log(1), "current", kChannelLogSizeLimit + 10);
  ASSERT_EQ(engine_log(1, false, "new"), 0);
  EXPECT_EQ(read_file(archive(1, 1)), "old1");
  EXPECT_EQ(read_file(archive(1, 2)).substr(0, 7), "current");
  EXPECT_FALSE(fs::exists(archive(1, 3)));
}

TEST_F(ChannelLog, RotationKeepsNineArchivesDroppingTheOldest) {
  for (int number = 1; number <= 9; ++number) {
    write_file(archive(7, number), "archive" + std::to_string(number));
  }
  write_sized_file(log(7), "current", kChannelLogSizeLimit + 1);
  ASSERT_EQ(engine_log(7, false, "next"), 0);
  for (int number = 1; number <= 8; ++number) {
    EXPECT_EQ(read_file(archive(7, number)), "archive" + std::to_string(number + 1));
  }
  EXPECT_EQ(read_file(archive(7, 9)).substr(0, 7), "current");
  EXPECT_FALSE(fs::exists(archive(7, 10)));
  EXPECT_EQ(read_file(log(7)), kBom + "next");
}

TEST_F(ChannelLog, RotationTrimsSurplusArchivesLeftByOthers) {
  for (int number = 1; number <= 11; ++number) {
    write_file(archive(8, number), "archive" + std::to_string(number));
  }
  write_sized_file(log(8), "current", kChannelLogSizeLimit + 1);
  ASSERT_EQ(engine_log(8, false, "next"), 0);
  for (int number = 1; number <= 8; ++number) {
    EXPECT_EQ(read_file(archive(8, number)), "archive" + std::to_string(number + 3));
  }
  EXPECT_EQ(read_file(archive(8, 9)).substr(0, 7), "current");
  EXPECT_FALSE(fs::exists(archive(8, 10)));
  EXPECT_FALSE(fs::exists(archive(8, 11)));
}

TEST_F(ChannelLog, UnwritableFolderOrSlotReportsFailure) {
  write_file(folder_ / "plain-file", "x");
  channel_log_open((folder_ / "plain-file" / "logs").string(), 32);
  EXPECT_EQ(engine_log(0, true, "start"), -1);
  EXPECT_EQ(engine_log_printf(0, true, "error %d", -12), -1);

  channel_log_open(folder_.string(), 32);
  EXPECT_EQ(engine_log(-1, true, "x"), -1);
  EXPECT_EQ(engine_log(999, true, "x"), -1);
  EXPECT_EQ(engine_log(39, true, "error -2"), 0);  // a bad engine slot still names a file
  EXPECT_TRUE(fs::exists(folder_ / "morv_040.log"));
}

// Several threads write to one slot while its log crosses the size limit: every line arrives
// exactly once, whole, in the current log or the archive.
TEST_F(ChannelLog, ConcurrentWritersLoseAndInterleaveNothing) {
  constexpr int kThreads = 6;
  constexpr int kLines = 400;
  write_sized_file(log(9), "prefill", kChannelLogSizeLimit - 2000);

  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int line = 0; line < kLines; ++line) {
        engine_log_printf(9, true, "writer %d line %d %s", t, line, std::string(40, 'z').c_str());
        engine_log(10 + t % 2, false, "other slot\n");
      }
    });
  }
  for (std::thread& writer : writers)
    writer.join();

  ASSERT_TRUE(fs::exists(archive(9, 1)));
  EXPECT_FALSE(fs::exists(archive(9, 2)));
  const std::string archived = read_file(archive(9, 1));
  const std::string current = read_file(log(9));
  ASSERT_EQ(current.compare(0, kBom.size(), kBom), 0);
  const std::string text =
      archived.substr(archived.find_first_not_of('\0', 7)) + current.substr(kBom.size());

  const std::regex line_form(
      R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\] writer (\d+) line (\d+) z{40})");
  std::map<std::pair<int, int>, int> seen;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, line_form)) << line;
    ++seen[{std::stoi(match[1]), std::stoi(match[2])}];
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const auto& [key, count] : seen)
    EXPECT_EQ(count, 1) << key.first << "/" << key.second;

  const std::string others = read_file(log(10)) + read_file(log(11));
  EXPECT_EQ(others.size(),
            2 * kBom.size() + kThreads * kLines * std::string("other slot\n").size());
}

}  // namespace
}  // namespace vx
