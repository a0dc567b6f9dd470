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
#include <QSignalSpy>
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

// Channels playing clips of their own pictures: each running row shows its live thumbnail, renewed
// as the clip moves, and the start of its sparklines; the idle row shows neither. Nothing is read
// while the window is minimised, and it catches up once it is back.
TEST_F(Window, RunningRowsShowTheirLivePictureAndLastMinutesWhileOnTheScreen) {
  // Four clips of different pictures, and a fifth channel left idle.
  std::vector<std::string> sources;
  for (const char* picture :
       {"testsrc2=size=320x180:rate=25", "smptehdbars=size=320x180:rate=25",
        "mandelbrot=size=320x180:rate=25",
        "life=size=320x180:rate=25:mold=10:ratio=0.1:life_color=#00ff00:death_color=#c83232"}) {
    const fs::path clip = folder_ / "clips" / (std::to_string(sources.size() + 1) + ".mp4");
    fs::create_directories(clip.parent_path());
    Peer ffmpeg(ffmpeg_argv({"-f",      "lavfi",     "-t",   "45",  "-i",   picture,      "-f",
                             "lavfi",   "-t",        "45",   "-i",  "sine", "-c:v",       "libx264",
                             "-preset", "ultrafast", "-c:a", "aac", "-y",   clip.string()}),
                folder_ / "clip.out", folder_ / "clip.err");
    ASSERT_EQ(ffmpeg.wait(60s), 0) << ffmpeg.err();
    sources.push_back(clip.string());
  }
  sources.push_back("udp://127.0.0.1:1");
  JsonPtr configuration = document(sources);
  const char* const memos[] = {"Studio A", "Bars", "Fractal", "Life", "Standby"};
  for (int row = 0; row < 5; ++row) {
    config_set_string(cJSON_GetArrayItem(config_array(configuration.get(), "channels"), row),
                      "memo", memos[row]);
  }
  start_with(configuration.get());
  Supervisor& supervisor = shell_->application().supervisor();
  for (int row = 0; row < 4; ++row)
    ASSERT_EQ(supervisor.start_channel(row), 0) << row;

  const auto cell = [&](int row, ChannelColumn column) {
    const QRect place = list().visualRect(list().model()->index(row, static_cast<int>(column)));
    return list().viewport()->grab().toImage().copy(place);
  };
  // Pixels that are not the row's own grey.
  const auto drawn = [&](int row, ChannelColumn column) {
    const QImage image = cell(row, column);
    const QColor grey = cell(row, ChannelColumn::number).pixelColor(0, 0);
    int found = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        found += image.pixelColor(x, y) != grey;
    return found;
  };
  const auto every_running_row = [&](ChannelColumn column, int pixels) {
    for (int row = 0; row < 4; ++row)
      if (drawn(row, column) < pixels) return false;
    return true;
  };
  ASSERT_TRUE(spin_until([&] { return every_running_row(ChannelColumn::picture, 55 * 30); }, 20s))
      << drawn(0, ChannelColumn::picture);
  const QImage first = cell(0, ChannelColumn::picture);
  EXPECT_TRUE(spin_until([&] { return cell(0, ChannelColumn::picture) != first; }, 8s))
      << "the moving picture is renewed";
  // The history box is drawn for every row; the running rows' lines add to it.
  const int empty_box = drawn(4, ChannelColumn::history);
  EXPECT_GT(empty_box, 0);
  EXPECT_TRUE(spin_until([&] { return every_running_row(ChannelColumn::history, empty_box + 4); }));
  EXPECT_EQ(drawn(4, ChannelColumn::picture), 0);
  screenshot("window-glance.png");

  window().showMinimized();
  ASSERT_TRUE(spin_until([&] { return window().isMinimized(); }));
  QSignalSpy changes(list().model(), &QAbstractItemModel::dataChanged);
  const auto glance_changes = [&] {
    int found = 0;
    for (const QList<QVariant>& change : changes)
      found += change[0].value<QModelIndex>().column() >= static_cast<int>(ChannelColumn::picture);
    return found;
  };
  QTest::qWait(2500);
  EXPECT_EQ(glance_changes(), 0) << "nothing is read while the window is away";
  // Back without the password prompt, which is another test's.
  window().set_locked(false);
  window().showNormal();
  EXPECT_TRUE(spin_until([&] { return glance_changes() > 0; }, 3s));
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
