// The capture device, DeckLink and NDI pickers over fake devices and the stand-in NDI runtime:
// the records drawn and read back, OK and Select, refusals, and the NDI search off the thread.
#include "desktop/device_picker_dialogs.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <string>
#include <vector>

#include "tests/desktop/qt_application.h"
#include "tests/devices/fake_ndi_control.h"

namespace vx {
namespace {

using namespace testing_support;

std::vector<std::string> lines(const QListWidget& list) {
  std::vector<std::string> texts;
  for (int row = 0; row < list.count(); ++row)
    texts.push_back(list.item(row)->text().toStdString());
  return texts;
}

template <typename Widget = QPushButton>
Widget& child(QDialog& dialog, const char* name) {
  auto* widget = dialog.findChild<Widget*>(name);
  if (widget == nullptr) throw std::runtime_error(std::string("no widget ") + name);
  return *widget;
}

TEST(PickerDialogs, CaptureDeviceChoicesBecomeTheDeviceTextOrAreRefused) {
  ensure_qt_application();
  const std::vector<CaptureDevice> cameras = {{"USB Camera", "/dev/video0"},
                                              {"USB Camera", "/dev/video2"}};
  struct Case {
    const char* url;
    int video;                 // -1: as drawn from the url, and OK by Enter in a size box
    const char *width, *text;  // text nullptr: refused
  };
  const Case cases[] = {
      {"", 2, "", R"(video="USB Camera":audio="Mic"?video_device_number=1)"},
      {R"(video="USB Camera"?s=640x480)", -1, nullptr, R"(video="USB Camera"?s=640x480)"},
      {"", 1, "1280", nullptr},
  };
  for (const Case& c : cases) {
    CaptureDevicePicker picker(cameras, {{"Mic", "plughw:1,0"}}, c.url);
    CaptureDeviceDialog dialog(picker);
    dialog.show();
    auto& video = child<QComboBox>(dialog, kCaptureVideoControl);
    auto& width = child<QComboBox>(dialog, kCaptureWidthControl);
    EXPECT_EQ(video.itemText(2), "USB Camera #1");
    if (c.video >= 0) video.setCurrentIndex(c.video);
    if (c.width != nullptr) width.setEditText(c.width);
    if (c.video == 2) save_screenshot(dialog, "picker-capture.png");
    const std::vector<std::string> boxes = answering_boxes([&] {
      if (c.width == nullptr) {
        QTest::keyClick(child<QComboBox>(dialog, "height").lineEdit(), Qt::Key_Return);
      } else {
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
      }
    });
    EXPECT_EQ(dialog.device_text().value_or("(none)"), c.text != nullptr ? c.text : "(none)");
    EXPECT_EQ(boxes.size(), c.text != nullptr ? 0u : 1u);
    EXPECT_EQ(dialog.isVisible(), c.text == nullptr) << "a refusal keeps the dialog open";
    if (c.text == nullptr) {
      EXPECT_EQ(dialog.focusWidget(), &width);
    }
  }
}

TEST(PickerDialogs, DeckLinkFormatsFollowTheCardAndSelectGivesTheChosenOne) {
  ensure_qt_application();
  const DeckLinkDisplayMode hp50{0x48703530, 1920, 1080, 50, 1, 0};
  const DeckLinkDisplayMode ntsc{0x6e747363, 720, 486, 30000, 1001, 1};
  const DeckLinkDeviceList cards = {{"DeckLink Duo (1)", {hp50, ntsc}}, {"DeckLink Mini", {hp50}}};
  struct Case {
    DeckLinkDirection direction;
    int card, format;     // format -1: none chosen
    const char* refusal;  // nullptr: chosen
  };
  const Case cases[] = {
      {DeckLinkDirection::capture, 0, 1, nullptr},
      {DeckLinkDirection::capture, 1, -1, nullptr},
      {DeckLinkDirection::playback, 1, -1, "No device format selected!"},
  };
  for (const Case& c : cases) {
    DeckLinkPicker picker(cards, c.direction);
    DeckLinkDialog dialog(picker);
    dialog.show();
    auto& formats = child<QListWidget>(dialog, kDeckLinkFormatsControl);
    child<QListWidget>(dialog, "devices").setCurrentRow(c.card);
    std::vector<std::string> expected;
    for (const DeckLinkDisplayMode& mode : cards[c.card].modes)
      expected.push_back(decklink_mode_line(mode));
    EXPECT_EQ(lines(formats), expected);
    if (c.format >= 0) formats.setCurrentRow(c.format);
    if (c.format == 1) save_screenshot(dialog, "picker-decklink.png");
    const std::vector<std::string> boxes =
        answering_boxes([&] { child(dialog, "select").click(); });
    if (c.refusal != nullptr) {
      EXPECT_EQ(boxes, std::vector<std::string>{c.refusal});
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_EQ(dialog.focusWidget(), &formats);
      continue;
    }
    ASSERT_TRUE(dialog.choice());
    EXPECT_EQ(dialog.choice()->name, cards[c.card].name);
    EXPECT_EQ(dialog.choice()->mode.has_value() ? dialog.choice()->mode->width : 0,
              c.format >= 0 ? cards[c.card].modes[c.format].width : 0);
  }
}

TEST(PickerDialogs, NdiSearchesOffTheWindowThreadAndSelectGivesTheSourceAndTimeout) {
  ensure_qt_application();
  FakeNdi fake(VX_FAKE_NDI);
  fake.set_rounds({1, 2});
  fake.set_pause(150);  // three waits: the search lasts about 450 ms
  NdiPicker picker(VX_FAKE_NDI);
  NdiSourcePicker dialog(picker);
  dialog.show();
  auto& sources = child<QListWidget>(dialog, kNdiSourcesControl);
  const std::vector<std::string> searching = {kNdiSearching};
  const std::vector<std::string> found = {"Fake Source 1 (192.0.2.1:5961)",
                                          "Fake Source 2 (192.0.2.2:5961)"};
  int ticks = 0;  // the window's supervision tick, standing in
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
  tick.start(20);

  ASSERT_TRUE(QTest::qWaitFor([&] { return lines(sources) == searching; }));
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
  save_screenshot(dialog, "picker-ndi-searching.png");
  const int ticks_before = ticks;
  ASSERT_TRUE(QTest::qWaitFor([&] { return lines(sources) != searching; }));
  EXPECT_GE(ticks - ticks_before, 8) << "the tick stalled while the search ran";
  EXPECT_EQ(lines(sources), found);
  EXPECT_EQ(sources.currentRow(), 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  save_screenshot(dialog, "picker-ndi.png");

  // "Search Again" with the timeout now typed; Select gives it with the chosen source.
  fake.reset();
  fake.set_rounds({2});
  child<QLineEdit>(dialog, "timeout").setText("4");
  child(dialog, "search_again").click();
  EXPECT_EQ(lines(sources), searching);
  ASSERT_TRUE(QTest::qWaitFor([&] { return lines(sources) == found; }));
  sources.setCurrentRow(1);
  child(dialog, "select").click();
  ASSERT_TRUE(dialog.choice());
  EXPECT_EQ(dialog.choice()->name, "Fake Source 2");
  EXPECT_EQ(dialog.choice()->timeout_seconds, 4);

  // Escape during a search closes the picker and gives the cursor back.
  fake.set_pause(200);
  NdiSourcePicker again(picker);
  again.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return picker.searching(); }));
  QTest::keyClick(&again, Qt::Key_Escape);
  EXPECT_FALSE(again.isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace vx
