// The main window on Qt's offscreen platform, run by the desktop shell as the program runs it:
// configuration and data folders of its own, the real engine, transcoder and web server on a
// free port of 127.0.0.1. The tests drive the window's widgets as an operator would and write
// screenshots into desktop-shots/ of the build folder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <fstream>
#include <regex>

#include "config/core_lock.h"
#include "config/document.h"
#include "config/json.h"
#include "config/store.h"
#include "desktop/channel_list.h"
#include "desktop/desktop_shell.h"
#include "desktop/device_picker_dlgs.h"
#include "desktop/editor_panel_view.h"
#include "desktop/morvi_dlg.h"
#include "tests/desktop/qt_application.h"
#include "tests/devices/fake_ndi_control.h"
#include "tests/support/http_client.h"
#include "tests/support/peers.h"

namespace vx {
namespace {

using namespace testing_support;

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
    std::ofstream(config_folder() / "morvi.json")
        << *json_print(document(sources, hls_targets).get());
    shell_ = std::make_unique<DesktopShell>(UniqueFd());
    ASSERT_FALSE(shell_->start(false).has_value());
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    ASSERT_TRUE(spin_until([&] { return list().row_count() == static_cast<int>(sources.size()); }));
  }

  MorviDlg& window() { return *shell_->window(); }
  MorviListCtrl& list() { return window().channel_list(); }

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

TEST_F(Window, ANewChannelIsTypedIntoItsRowAndStoredOnEnter) {
  start({});
  screenshot("window-empty.png");

  // Escape never hides the window, and with nothing to cancel it changes nothing.
  QTest::keyClick(&window(), Qt::Key_Escape);
  EXPECT_TRUE(window().isVisible());
  EXPECT_EQ(list().row_count(), 0);

  find("new_channel").click();
  ASSERT_EQ(list().row_count(), 1);
  auto& address = find<QLineEdit>("source_address");
  EXPECT_TRUE(address.isVisible());

  // An empty address is refused and the operator is sent back to it.
  address.setFocus();
  const std::vector<std::string> refused =
      answering_boxes([&] { QTest::keyClick(&address, Qt::Key_Return); });
  ASSERT_EQ(refused, std::vector<std::string>{"Error: Channel source address invalid!"});
  EXPECT_EQ(window().focusWidget(), &address);
  EXPECT_EQ(cJSON_GetArraySize(config_array(stored().get(), "channels")), 0);

  QTest::keyClicks(&address, "udp://@:5004");
  QTest::keyClick(&address, Qt::Key_Return);
  ASSERT_FALSE(address.isVisible());
  JsonPtr document = stored();
  const cJSON* channel = cJSON_GetArrayItem(config_array(document.get(), "channels"), 0);
  EXPECT_STREQ(config_string(channel_first_source(channel), "url"), "udp://0.0.0.0:5004");
  // The file holds it too.
  JsonPtr saved = json_parse(read_text(config_folder() / "morvi.json"));
  EXPECT_EQ(cJSON_GetArraySize(config_array(saved.get(), "channels")), 1);
  EXPECT_FALSE(find("cancel").isEnabled());
}

TEST_F(Window, HoverButtonsFollowTheRunningRowAndNeverTheEditedOne) {
  start({clip(30), "udp://127.0.0.1:1"}, 3);
  ASSERT_EQ(shell_->application().supervisor().start_channel(0), 0);
  const std::regex figures(R"(\d\d:\d\d:0[2-9]   \d+fps@[1-9]\d*Kbps)");
  ASSERT_TRUE(spin_until(
      [&] { return std::regex_match(shell_->application().supervisor().row_text(0), figures); },
      20s))
      << shell_->application().supervisor().row_text(0);
  screenshot("window-running.png");

  // Row 1 is edited; its format carries three targets, so the tabs show.
  list().select_row(1);
  find("edit").click();
  ASSERT_TRUE(window().editor().editing());
  screenshot("window-editing.png");

  auto status_point = [&](int row) {
    const QRect cell = list().visualRect(list().model()->index(row, 4));
    return cell.center();
  };
  QTest::mouseMove(list().viewport(), status_point(0));
  ASSERT_TRUE(spin_until([&] { return find<QToolButton>("hover_stop").isVisible(); }));
  EXPECT_FALSE(find<QToolButton>("hover_start").isVisible());
  EXPECT_TRUE(find<QToolButton>("hover_stop").geometry().contains(status_point(0)));

  QTest::mouseMove(list().viewport(), status_point(1));
  ASSERT_TRUE(spin_until([&] { return !find<QToolButton>("hover_stop").isVisible(); }));
  EXPECT_FALSE(find<QToolButton>("hover_start").isVisible());

  window().resize(window().minimumSize());
  screenshot("window-narrow.png");
  window().resize(1600, 900);
  screenshot("window-wide.png");
}

TEST_F(Window, AConfigurationPostedOnTheWebRebuildsTheList) {
  start({"udp://127.0.0.1:1"});
  screenshot("window-idle.png");
  const Reply answer = http_post(
      port_, "/config",
      *json_print(document({"udp://127.0.0.1:2", "udp://127.0.0.1:3", "udp://127.0.0.1:4"}).get()),
      "Cookie: auth=pw\r\n");
  ASSERT_EQ(answer.status(), 200) << answer.body;
  ASSERT_TRUE(spin_until([&] { return list().row_count() == 3; }));
  EXPECT_TRUE(spin_until([&] { return list().selected_row() == 0; }));
  // Nothing was started by the rebuild.
  EXPECT_EQ(shell_->application().supervisor().row_state(2), ChannelState::idle);
}

TEST_F(Window, AnNdiSourcePickedBehindTheCellsBrowseButtonFillsTheAddress) {
  FakeNdi fake(VX_FAKE_NDI);
  fake.set_rounds({2});
  start({"udp://127.0.0.1:1"});
  window().use_ndi_library(VX_FAKE_NDI);
  list().select_row(0);
  find("edit").click();
  emit find<QComboBox>("source_type").activated(static_cast<int>(SourceType::ndi));
  const bool picked = inside_modal<NdiConfigDlg>(
      [&] { find("source_browse").click(); },
      [&](NdiConfigDlg& dialog) {
        EXPECT_TRUE(spin_until([&] { return dialog.findChild<QListWidget*>()->count() == 2; }));
        dialog.findChild<QAbstractButton*>("select")->click();
      });
  ASSERT_TRUE(picked);
  EXPECT_EQ(find<QLineEdit>("source_address").text(), "Fake Source 1");
}

}  // namespace
}  // namespace vx
