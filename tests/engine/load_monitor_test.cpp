#include "engine/load_monitor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/platform/fake_nvml_control.h"

namespace vx {
namespace {

// One processor's counters as user and idle ticks.
struct Ticks {
  int user;
  int idle;
};

class LoadMonitor : public ::testing::Test {
 protected:
  void SetUp() override { write_stat(std::vector<Ticks>(8, {0, 0})); }
  void TearDown() override {
    load_monitor_close();
    std::filesystem::remove(stat_path_);
  }

  void write_stat(const std::vector<Ticks>& cpus) {
    std::ofstream out(stat_path_);
    out << "cpu  0 0 0 0 0 0 0 0 0 0\n";
    for (std::size_t i = 0; i < cpus.size(); ++i) {
      out << "cpu" << i << ' ' << cpus[i].user << " 0 0 " << cpus[i].idle << " 0 0 0 0 0 0\n";
    }
    out << "intr 1 2 3\n";
  }
  void open(const std::string& gpu_library = "/nonexistent/libnvidia-ml.so.1") {
    load_monitor_open({stat_path_, gpu_library});
  }
  std::vector<int> loads() const {
    std::vector<int> values;
    for (int i = 0; i < engine_cpu_count(); ++i)
      values.push_back(engine_cpu_load(i));
    return values;
  }

  std::string stat_path_ = testing::TempDir() + "vx-load-stat-" + std::to_string(getpid());
  FakeNvml fake_{VX_FAKE_NVML};
};

TEST_F(LoadMonitor, PublishesOneLoadPerProcessorFromZero) {
  open();
  ASSERT_EQ(engine_cpu_count(), 8);
  EXPECT_EQ(loads(), std::vector<int>(8, 0));  // nothing sampled yet
  write_stat({{0, 100}, {10, 90}, {20, 80}, {30, 70}, {40, 60}, {50, 50}, {99, 1}, {100, 0}});
  load_monitor_sample(1000);
  EXPECT_EQ(loads(), (std::vector<int>{0, 10, 20, 30, 40, 50, 99, 100}));
  for (int index : {-1, 8, 63, 64, 1000}) {
    EXPECT_EQ(engine_cpu_load(index), 0) << index;
  }
}

TEST_F(LoadMonitor, SamplesAtMostOnceASecondAgainstThePreviousSample) {
  open();
  write_stat(std::vector<Ticks>(8, {50, 50}));
  load_monitor_sample(1000);
  EXPECT_EQ(engine_cpu_load(3), 50);
  write_stat(std::vector<Ticks>(8, {60, 140}));  // since the sample: 10 busy of 100
  load_monitor_sample(1000);
  EXPECT_EQ(engine_cpu_load(3), 50);
  load_monitor_sample(1001);
  EXPECT_EQ(engine_cpu_load(3), 10);
  // A clock set back does not stall sampling until it catches up.
  write_stat(std::vector<Ticks>(8, {160, 140}));
  load_monitor_sample(500);
  EXPECT_EQ(engine_cpu_load(3), 100);
}

TEST_F(LoadMonitor, UnreadableCountersKeepThePreviousValues) {
  open();
  write_stat(std::vector<Ticks>(8, {25, 75}));
  load_monitor_sample(1000);
  for (const char* garbage : {"cpu0 1 2\n",
                              "\x7f"
                              "ELF\x02\x01",
                              ""}) {
    std::ofstream(stat_path_) << garbage;
    load_monitor_sample(1001);
    EXPECT_EQ(engine_cpu_load(0), 25) << garbage;
  }
  std::filesystem::remove(stat_path_);
  load_monitor_sample(1002);
  EXPECT_EQ(engine_cpu_load(0), 25);
  // The next good reading is measured against the last good one.
  write_stat(std::vector<Ticks>(8, {125, 75}));
  load_monitor_sample(1003);
  EXPECT_EQ(engine_cpu_load(0), 100);
}

TEST_F(LoadMonitor, WithoutCountersAtOpenNoProcessorIsWatched) {
  std::filesystem::remove(stat_path_);
  open();
  EXPECT_EQ(engine_cpu_count(), 0);
  write_stat(std::vector<Ticks>(8, {25, 75}));
  load_monitor_sample(1000);
  EXPECT_EQ(engine_cpu_count(), 0);
  EXPECT_EQ(engine_cpu_load(0), 0);
}

TEST_F(LoadMonitor, PublishesTheGpuSumOnlyWhenNvmlWorks) {
  open();
  load_monitor_sample(1000);
  EXPECT_FALSE(engine_gpu_available());
  EXPECT_EQ(engine_gpu_load(), 0);

  open(VX_FAKE_NVML);
  EXPECT_TRUE(engine_gpu_available());
  EXPECT_EQ(engine_gpu_load(), 0);
  load_monitor_sample(1000);
  EXPECT_EQ(engine_gpu_load(), 75);
  fake_.set_gpu(0, 100);
  fake_.set_gpu(1, 20);
  load_monitor_sample(1001);
  EXPECT_EQ(engine_gpu_load(), 120);
  fake_.set_gpu(0, 0, 3);
  fake_.set_gpu(1, 0, 3);
  load_monitor_sample(1002);
  EXPECT_EQ(engine_gpu_load(), 120);  // no device answered
}

TEST_F(LoadMonitor, ClosingPublishesAnEmptyMonitorAndShutsNvmlDown) {
  open(VX_FAKE_NVML);
  write_stat(std::vector<Ticks>(8, {25, 75}));
  load_monitor_sample(1000);
  ASSERT_EQ(fake_.live_sessions(), 1);
  load_monitor_close();
  EXPECT_EQ(fake_.live_sessions(), 0);
  EXPECT_EQ(engine_cpu_count(), 0);
  EXPECT_EQ(engine_cpu_load(0), 0);
  EXPECT_FALSE(engine_gpu_available());
  EXPECT_EQ(engine_gpu_load(), 0);
  // Opening again starts a fresh monitor: its first sample is not held back by the old one.
  open(VX_FAKE_NVML);
  load_monitor_sample(1000);
  EXPECT_EQ(engine_gpu_load(), 75);
}

}  // namespace
}  // namespace vx
