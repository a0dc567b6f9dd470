#include "platform/cpu_times.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vx {
namespace {

TEST(CpuTimes, ReadsProcessorLinesByNumberCountingGuestTimeOnce) {
  const auto table = parse_cpu_times(
      "cpu  90 0 9 900 9 0 0 0 0 0\n"
      "cpu0 10 1 2 100 5 3 4 6 50 60\n"  // guest 50 and guest_nice 60 are inside user/nice
      "cpu1\t20 0 0 80\r\n"              // an old kernel's four counters
      "cpu3 1 1 1 1 1 1 1 1 1 1\n"       // cpu2 offline
      "cpufreq 7 7 7 7\n"
      "intr 335194 0 0\n"
      "cpu70 1 2 3 4",  // beyond the watched processors, no final line end
      64);
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), 4u);
  EXPECT_TRUE((*table)[0].present);
  EXPECT_EQ((*table)[0].total, 131u);
  EXPECT_EQ((*table)[0].idle, 105u);
  EXPECT_EQ((*table)[1].total, 100u);
  EXPECT_EQ((*table)[1].idle, 80u);
  EXPECT_FALSE((*table)[2].present);
  EXPECT_EQ((*table)[3].total, 8u);
  EXPECT_EQ(parse_cpu_times("cpu0 1 1 1 1\ncpu1 1 1 1 1\ncpu2 1 1 1 1\n", 2)->size(), 2u);
}

TEST(CpuTimes, RejectsMalformedText) {
  const char* const cases[] = {
      "",
      "intr 1 2 3\nctxt 4\n",
      "cpu 1 2 3 4\n",  // only the sum of all processors
      "cpu0 1 2 3\n",
      "cpu0 1 2 x 4\n",
      "cpu0 1 2 -3 4\n",
      "cpu0 1 2 3 4\ncpu0 1 2 3 4\n",
      "cpu1a 1 2 3 4\n",
      "cpu99999999999 1 2 3 4\n",
      "cpu0 18446744073709551615 1 1 1\n",
      "cpu0 1 2 3 4\ncpu1 \x01\xff\n",
  };
  for (const char* text : cases) {
    EXPECT_FALSE(parse_cpu_times(text, 64)) << text;
  }
}

TEST(CpuTimes, LoadIsTheBusyShareOfTheTicksBetweenReadings) {
  const CpuTimes start{true, 1000, 400};
  struct Case {
    CpuTimes after;
    std::optional<int> load;
  };
  const Case cases[] = {
      {{true, 1100, 475}, 25}, {{true, 1100, 500}, 0},  {{true, 1100, 400}, 100},
      {{true, 1003, 401}, 66}, {{true, 1000, 400}, {}}, {{true, 900, 300}, {}},
      {{true, 1100, 399}, {}}, {{true, 1010, 500}, {}}, {{false, 1100, 450}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cpu_load_percent(start, c.after), c.load) << c.after.total << " " << c.after.idle;
  }
  EXPECT_EQ(cpu_load_percent(CpuTimes{}, {true, 1100, 450}), std::nullopt);
}

TEST(CpuTimes, ReadsFilesAndThisMachinesCounters) {
  const std::string path = testing::TempDir() + "vx-stat-" + std::to_string(getpid());
  std::ofstream(path) << "cpu0 3 0 1 6\n";
  EXPECT_EQ(read_cpu_times(path, 64)->at(0).total, 10u);
  std::filesystem::remove(path);
  EXPECT_FALSE(read_cpu_times(path, 64));

  const auto real = read_cpu_times(kCpuStatPath, 64);
  ASSERT_TRUE(real);
  EXPECT_TRUE(real->at(0).present);
  EXPECT_GT(real->at(0).total, real->at(0).idle);
}

}  // namespace
}  // namespace vx
