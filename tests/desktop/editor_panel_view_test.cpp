#include "desktop/editor_panel_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "window_logic/editor_controls.h"
#include "window_logic/editor_panel.h"
#include "tests/desktop/qt_application.h"

namespace vx {
namespace {

using F = TargetFormatEntry;

constexpr int kFormat(F format) {
  return static_cast<int>(format);
}

// An HLS target with no value left at its default; the bit rates are typed, not listed. Video
// entry 1 is the NVENC one, whose text ends with a blank.
EditorValues hls_values() {
  return EditorValues{.target_format = kFormat(F::hls),
                      .target_url = "/media/morv_ch1_720p.m3u8",
                      .video_encoding = 1,
                      .frame_size = 5,
                      .width = "1280",
                      .height = "720",
                      .frame_rate = "29.97",
                      .quality = "60",
                      .video_bitrate = "2500",
                      .key_frame_interval = "2",
                      .mux_bitrate = "4000",
                      .cbr = true,
                      .audio_encoding = 4,
                      .sample_rate = "44100",
                      .audio_channels = 7,
                      .audio_bitrate = "96"};
}

constexpr EditingSituation kViewing{true, false, false};
constexpr EditingSituation kEditing{true, true, true};

class EditorPanelViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ensure_qt_application();
    panel_ = std::make_unique<EditorPanelView>();
  }

  template <typename Widget>
  Widget* control(const char* name) {
    auto* widget = panel_->findChild<Widget*>(QString::fromUtf8(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  std::vector<std::unique_ptr<QSignalSpy>> spy_on_every_signal() {
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    const QMetaObject* meta = panel_->metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
      if (meta->method(i).methodType() == QMetaMethod::Signal)
        spies.push_back(std::make_unique<QSignalSpy>(panel_.get(), meta->method(i)));
    return spies;
  }

  std::unique_ptr<EditorPanelView> panel_;
};

TEST_F(EditorPanelViewTest, ShowsValuesSilentlyAndReadsBackWhatIsTyped) {
  const auto spies = spy_on_every_signal();
  EditorValues shown = hls_values();
  panel_->show_values(shown);

  EditorValues read;
  panel_->read_values(read);
  for (std::string EditorValues::*text :
       {&EditorValues::target_url, &EditorValues::width, &EditorValues::height,
        &EditorValues::frame_rate, &EditorValues::quality, &EditorValues::video_bitrate,
        &EditorValues::key_frame_interval, &EditorValues::mux_bitrate, &EditorValues::sample_rate,
        &EditorValues::audio_bitrate})
    EXPECT_EQ(read.*text, shown.*text);
  EXPECT_EQ(read.audio_channels, shown.audio_channels);
  // The other lists and boxes reach the record through the signals only.
  EXPECT_EQ(read.target_format, EditorValues{}.target_format);
  EXPECT_EQ(control<QComboBox>(kVideoEncodingControl)->currentText().toStdString(),
            kVideoEncodingChoices[1].text);
  EXPECT_TRUE(control<QCheckBox>("cbr")->isChecked());

  shown.target_format = -1;
  panel_->show_values(shown);
  EXPECT_EQ(control<QComboBox>("target_format")->currentIndex(), -1);
  for (const auto& spy : spies)
    EXPECT_EQ(spy->count(), 0) << spy->signal().toStdString();

  // A typed bit rate that begins like a listed one stays as typed, and Enter adds no entry.
  // Completion acts only on the focused edit of a shown window.
  panel_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(panel_.get()));
  panel_->activateWindow();
  QComboBox* bitrate = control<QComboBox>("video_bitrate");
  bitrate->lineEdit()->setFocus();
  bitrate->lineEdit()->clear();
  QTest::keyClicks(bitrate->lineEdit(), "20");
  QTest::keyClick(bitrate->lineEdit(), Qt::Key_Return);
  panel_->read_values(read);
  EXPECT_EQ(read.video_bitrate, "20");
  EXPECT_EQ(bitrate->count(), static_cast<int>(kVideoBitrateChoices.size()));
}

TEST_F(EditorPanelViewTest, AppliesTheEditingRules) {
  struct Case {
    const char* name;
    F format;
    EditingSituation situation;
    bool url_read_only, encoding_enabled, mux_shown;
  };
  const Case cases[] = {
      {"viewing UDP", F::udp, kViewing, true, false, true},
      {"editing UDP", F::udp, kEditing, false, true, true},
      {"editing RTMP", F::rtmp, kEditing, false, true, false},
  };
  for (const Case& c : cases) {
    EditorValues values;
    values.target_format = kFormat(c.format);
    panel_->apply_controls(editor_controls(values, c.situation));
    EXPECT_EQ(control<QLineEdit>(kTargetUrlControl)->isReadOnly(), c.url_read_only) << c.name;
    EXPECT_EQ(control<QComboBox>(kVideoEncodingControl)->isEnabled(), c.encoding_enabled) << c.name;
    for (const char* part : {"mux_bitrate_label", kMuxBitrateControl, "mux_bitrate_unit", "cbr"})
      EXPECT_EQ(control<QWidget>(part)->isHidden(), !c.mux_shown) << c.name << " " << part;
    EXPECT_TRUE(control<QComboBox>("quality")->isHidden()) << c.name;
  }
}

TEST_F(EditorPanelViewTest, DrawsTheTabsAndReportsOnlyTheOperatorsChoice) {
  QSignalSpy chosen(panel_.get(), &EditorPanelView::tabChosen);
  QTabBar* bar = control<QTabBar>("target_tabs");
  const TargetTabs editing{{"hi", "lo", "mid"}, true, 1};
  panel_->show_tabs(editing, true);
  ASSERT_EQ(bar->count(), 5);
  EXPECT_EQ(bar->tabText(2) + bar->tabText(3) + bar->tabText(4), "mid+-");
  EXPECT_EQ(bar->currentIndex(), 1);
  panel_->show_tabs(TargetTabs{{"stream"}, false, 0}, false);
  EXPECT_EQ(bar->count(), 1);
  EXPECT_TRUE(bar->isHidden());
  EXPECT_EQ(chosen.count(), 0);

  panel_->show_tabs(editing, true);
  panel_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(panel_.get()));
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(editing.plus_position()).center());
  ASSERT_EQ(chosen.count(), 1);
  EXPECT_EQ(chosen.at(0).at(0).toInt(), editing.plus_position());
}

TEST_F(EditorPanelViewTest, EditingAnHlsTargetFitsBesideTheList) {
  const EditorValues values = hls_values();
  panel_->show_values(values);
  panel_->apply_controls(editor_controls(values, kEditing));
  panel_->show_tabs(
      TargetTabs{{"morv_ch1_1080p.m3u8", "morv_ch1_720p.m3u8", "morv_ch1_360p.m3u8"}, true, 1},
      true);
  panel_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(panel_.get()));

  EXPECT_LE(panel_->sizeHint().height(), 440);
  // No list is squeezed below what its entries need.
  for (const QComboBox* list : panel_->findChildren<QComboBox*>()) {
    if (!list->isVisible()) continue;
    EXPECT_GE(list->width(), list->minimumSizeHint().width()) << list->objectName().toStdString();
  }
  ASSERT_TRUE(QDir().mkpath(VX_DESKTOP_SHOTS));
  EXPECT_TRUE(panel_->grab().save(VX_DESKTOP_SHOTS "/editor-panel.png"));
}

}  // namespace
}  // namespace vx
