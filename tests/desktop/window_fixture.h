// The main window on Qt's offscreen platform, run by the desktop shell as the program runs it:
// configuration and data folders of its own, the real engine, transcoder and web server on a
// free port of 127.0.0.1. Tests drive the window's widgets as an operator would.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTest>

#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/store.h"
#include "desktop/channel_list_view.h"
#include "desktop/desktop_shell.h"
#include "desktop/main_window.h"
#include "tests/desktop/qt_application.h"
#include "tests/support/peers.h"

namespace vx::testing_support {

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    ensure_qt_application();
    folder_ = fresh_test_folder("vx-window");
    fs::create_directories(config_folder());
    fs::create_directories(folder_ / "run");
    fs::permissions(folder_ / "run", fs::perms::owner_all);
    ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (folder_ / "run").c_str(), 1);
    port_ = free_tcp_port();
  }
  void TearDown() override {
    if (shell_) shell_->exit_sequence();
    shell_.reset();
    fs::remove_all(folder_);
  }

  fs::path config_folder() const { return folder_ / "config" / "Zentravia" / "morvi"; }

  // Channels reading these sources into UDP targets on 127.0.0.1; `targets` extra HLS targets
  // on the last channel when above 1.
  JsonPtr document(const std::vector<std::string>& sources, int hls_targets = 0) {
    JsonPtr root(cJSON_CreateObject());
    cJSON* global = cJSON_AddObjectToObject(root.get(), "global");
    config_set_int(global, "httpPort", port_);
    config_set_int(global, "autoRestart", 0);
    config_set_string(global, "loginPass", "pw");
    cJSON* channels = cJSON_AddArrayToObject(root.get(), "channels");
    for (const std::string& source : sources) {
      JsonPtr channel = channel_template();
      cJSON* input = config_object(channel.get(), "input");
      config_set_string(cJSON_GetArrayItem(config_array(input, "sources"), 0), "url", source);
      cJSON* targets = config_array(config_object(channel.get(), "output"), "targets");
      config_set_string(cJSON_GetArrayItem(targets, 0), "url",
                        "udp://127.0.0.1:" + std::to_string(free_udp_ports(1)));
      cJSON_AddItemToArray(channels, channel.release());
    }
    if (hls_targets > 0) {
      cJSON* targets = config_array(
          config_object(cJSON_GetArrayItem(channels, cJSON_GetArraySize(channels) - 1), "output"),
          "targets");
      for (int target = 0; target < hls_targets; ++target) {
        cJSON* copy = target == 0 ? cJSON_GetArrayItem(targets, 0)
                                  : cJSON_Duplicate(cJSON_GetArrayItem(targets, 0), true);
        config_set_string(copy, "format", "hls");
        config_set_string(copy, "url", "/media/hls/stream_" + std::to_string(target) + ".m3u8");
        if (target > 0) cJSON_AddItemToArray(targets, copy);
      }
    }
    return root;
  }

  void start(const std::vector<std::string>& sources, int hls_targets = 0) {
    start_with(document(sources, hls_targets).get());
  }

  // The program with this configuration, once the window shows every channel's row.
  void start_with(const cJSON* configuration) {
    std::ofstream(config_folder() / "morvi.json") << *json_print(configuration);
    shell_ = std::make_unique<DesktopShell>(UniqueFd());
    ASSERT_FALSE(shell_->start(false).has_value());
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    const int rows = cJSON_GetArraySize(config_array(configuration, "channels"));
    ASSERT_TRUE(spin_until([&] { return list().row_count() == rows; }));
  }

  MainWindow& window() { return *shell_->window(); }
  ChannelListView& list() { return window().channel_list(); }

  bool spin_until(const std::function<bool()>& done, Clock::duration limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > deadline) return false;
      QTest::qWait(20);
    }
    return true;
  }

  template <typename Widget = QAbstractButton>
  Widget& find(const char* name) {
    Widget* widget = window().findChild<Widget*>(name);
    if (widget == nullptr) throw std::runtime_error(std::string("no widget ") + name);
    return *widget;
  }

  JsonPtr stored() {
    const CoreLock lock = core_lock();
    return JsonPtr(cJSON_Duplicate(config_document(), true));
  }

  // A short clip made on the spot, so a channel runs and reports figures.
  std::string clip(int seconds) {
    const fs::path path = folder_ / "clip.mp4";
    EXPECT_TRUE(make_test_clip(path, seconds, folder_ / "clip")) << read_text(folder_ / "clip.err");
    return path.string();
  }

  void screenshot(const std::string& name) { save_screenshot(window(), name); }

  fs::path folder_;
  std::uint16_t port_ = 0;
  std::unique_ptr<DesktopShell> shell_;
};

}  // namespace vx::testing_support
