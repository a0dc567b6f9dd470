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
#include "desktop/channel_list_view.h"
#include "desktop/desktop_shell.h"
#include "desktop/device_picker_dialogs.h"
#include "desktop/editor_panel_view.h"
#include "desktop/main_window.h"
#include "tests/desktop/window_fixture.h"
#include "tests/devices/fake_ndi_control.h"
#include "tests/support/http_client.h"
#include "tests/support/peers.h"

namespace vx {
namespace {

using namespace testing_support;

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

// The standby list under the channel list: rows added and typed while the channel is edited,
// the switch-on boxes, a refusal that sends the operator to its row, and Apply storing them.
TEST_F(Window, StandbySourcesTypedUnderTheListAreStoredOnApply) {
  start({"udp://127.0.0.1:1", "udp://127.0.0.1:2"});
  auto& add = find("standby_add");
  EXPECT_FALSE(add.isEnabled()) << "not editing";
  list().select_row(0);
  find("edit").click();
  ASSERT_TRUE(add.isEnabled());

  add.click();
  auto& first = find<QLineEdit>("standby_address_1");
  EXPECT_EQ(window().focusWidget(), &first);
  emit find<QComboBox>("standby_type_1").activated(static_cast<int>(SourceType::udp));
  EXPECT_EQ(first.text(), "0.0.0.0:1234");
  first.setText("239.1.1.2:5000");
  add.click();
  const std::vector<std::string> refused = answering_boxes([&] { find("apply").click(); });
  ASSERT_EQ(refused, std::vector<std::string>{"Error: Standby source 2 address invalid!"});
  EXPECT_EQ(window().focusWidget(), &find<QLineEdit>("standby_address_2"));
  find<QLineEdit>("standby_address_2").setText("/media/standby.mp4");
  find<QLineEdit>("switch_on_black").setText("2");
  EXPECT_FALSE(find("standby_up_1").isEnabled());
  EXPECT_TRUE(find("standby_down_1").isEnabled());
  screenshot("window-standby.png");

  find("apply").click();
  ASSERT_FALSE(window().editor().editing());
  JsonPtr document = stored();
  const cJSON* input =
      config_object(cJSON_GetArrayItem(config_array(document.get(), "channels"), 0), "input");
  EXPECT_EQ(json_print_unformatted(config_array(input, "standby")),
            R"([{"format":"file","url":"udp://239.1.1.2:5000","video":{"options":[]}},)"
            R"({"format":"file","url":"/media/standby.mp4","video":{"options":[]}}])");
  EXPECT_EQ(json_print_unformatted(config_object(input, "switchOn")),
            R"({"black":2,"silence":0,"frozen":0})");
  // Not edited, the list shows the selected channel and offers nothing to change.
  EXPECT_EQ(find<QLineEdit>("standby_address_2").text(), "/media/standby.mp4");
  EXPECT_FALSE(find<QLineEdit>("standby_address_2").isEnabled());
  list().select_row(1);
  EXPECT_TRUE(spin_until([&] { return !find<QLineEdit>("standby_address_1").isVisible(); }));
}

TEST_F(Window, AConfigurationPostedOnTheWebRebuildsTheList) {
  start({"udp://127.0.0.1:1"});
  screenshot("window-idle.png");
  const Reply answer = http_post(
      port_, "/config",
      *json_print(document({"udp://127.0.0.1:2", "udp://127.0.0.1:3", "udp://127.0.0.1:4"}).get()),
      "Authorization: Bearer pw\r\n");
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
  const bool picked = inside_modal<NdiSourcePicker>(
      [&] { find("source_browse").click(); },
      [&](NdiSourcePicker& dialog) {
        EXPECT_TRUE(spin_until([&] { return dialog.findChild<QListWidget*>()->count() == 2; }));
        dialog.findChild<QAbstractButton*>("select")->click();
      });
  ASSERT_TRUE(picked);
  EXPECT_EQ(find<QLineEdit>("source_address").text(), "Fake Source 1");
}

}  // namespace
}  // namespace vx
