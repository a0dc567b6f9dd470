#include "window_logic/global_settings_access.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/core_lock.h"
#include "config/login_password.h"
#include "config/store.h"
#include "tests/support/peers.h"

namespace vx {
namespace {

using namespace testing_support;

TEST(GlobalSettingsAccess, ThePromptSeesThePasswordAndARefusedOkStoresAndSavesNothing) {
  const fs::path folder = fresh_test_folder("vx-global-access");
  const fs::path file = folder / "morvi.json";
  {
    const CoreLock lock = core_lock();
    config_set_path(file.string());
    ASSERT_NE(config_normalise(R"({"global": {"httpPort": 8090, "loginPass": "pw"}})"), nullptr);
  }
  const LoginPasswordState password = login_password_state();
  EXPECT_TRUE(password.set);
  EXPECT_TRUE(login_password_matches(password.hash, "pw"));

  struct Refusal {
    std::int64_t port;
    const char* rules;
    const char* text;
  };
  const Refusal refusals[] = {
      {70000, "allow all", kPortErrorText},
      {8091, "deny all\nallow",
       "the address rules cannot be read: address rule 2 (\"allow\") has no address"},
  };
  for (const Refusal& r : refusals) {
    GlobalSettings settings = stored_global_settings();
    EXPECT_EQ(settings.http_port, 8090);
    settings.http_port = r.port;
    settings.ip_acl = r.rules;
    settings.login_password.clear();
    const GlobalSettingsOutcome outcome = apply_global_settings(settings);
    EXPECT_FALSE(outcome.result.accepted) << r.port;
    ASSERT_TRUE(outcome.refusal) << r.port;
    EXPECT_EQ(outcome.refusal->text, r.text);
    EXPECT_EQ(stored_global_settings().http_port, 8090) << r.port;
    EXPECT_TRUE(login_password_state().set) << r.port;
    EXPECT_FALSE(fs::exists(file)) << "nothing is saved after a refusal";
  }
  const CoreLock lock = core_lock();
  config_free();
  config_set_path("");
  fs::remove_all(folder);
}

}  // namespace
}  // namespace vx
