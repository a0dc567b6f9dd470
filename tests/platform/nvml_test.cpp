#include "platform/nvml.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "tests/platform/fake_nvml_control.h"

namespace vx {
namespace {

class Nvml : public ::testing::Test {
 protected:
  FakeNvml fake_{VX_FAKE_NVML};
};

TEST_F(Nvml, SumsTheUtilisationOfEveryDeviceThatAnswers) {
  struct Device {
    unsigned gpu;
    int result;
  };
  struct Case {
    std::vector<Device> devices;
    std::optional<int> sum;
  };
  const Case cases[] = {
      {{{30, 0}, {45, 0}}, 75},  {{{100, 0}, {100, 0}, {100, 0}}, 300},
      {{{4000000000u, 0}}, 100},  // nonsense from the driver counts as a full device
      {{{30, 0}, {45, 3}}, 30},  {{{30, 3}, {45, 3}}, std::nullopt},
  };
  for (const Case& c : cases) {
    fake_.reset();
    fake_.set_devices(static_cast<unsigned>(c.devices.size()));
    for (unsigned i = 0; i < c.devices.size(); ++i) {
      fake_.set_gpu(i, c.devices[i].gpu, c.devices[i].result);
    }
    const auto session = NvmlSession::open(VX_FAKE_NVML);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->device_count(), static_cast<int>(c.devices.size()));
    EXPECT_EQ(session->utilization_sum(), c.sum) << c.devices.size() << " devices";
  }
}

TEST_F(Nvml, ClosingTheSessionShutsNvmlDown) {
  auto session = NvmlSession::open(VX_FAKE_NVML);
  ASSERT_TRUE(session);
  EXPECT_EQ(fake_.live_sessions(), 1);
  session.reset();
  EXPECT_EQ(fake_.live_sessions(), 0);
}

TEST_F(Nvml, UnusableLibrariesGiveNoSession) {
  EXPECT_FALSE(NvmlSession::open("/nonexistent/libnvidia-ml.so.1"));
  EXPECT_FALSE(NvmlSession::open(VX_FAKE_NVML_INCOMPLETE));

  fake_.set_init_result(999);
  EXPECT_FALSE(NvmlSession::open(VX_FAKE_NVML));

  // Initialised but without a device: NVML must still be shut down again.
  fake_.reset();
  fake_.set_devices(0);
  EXPECT_FALSE(NvmlSession::open(VX_FAKE_NVML));
  EXPECT_EQ(fake_.live_sessions(), 0);
}

TEST(NvmlSystem, WithoutTheDriverLibraryThereIsNoSession) {
  if (void* driver = ::dlopen(kNvmlLibrary, RTLD_NOW | RTLD_LOCAL)) {
    ::dlclose(driver);
    GTEST_SKIP() << "this machine has NVIDIA's library";
  }
  EXPECT_FALSE(NvmlSession::open());
}

}  // namespace
}  // namespace vx
