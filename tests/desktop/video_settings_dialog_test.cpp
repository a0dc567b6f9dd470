// The advanced video settings panel over its records, on Qt's offscreen platform: what each tab
// draws from a loaded channel, what the operator's changes leave in the channel, and how the
// panel closes. Screenshots of the five tabs go into desktop-shots/ of the build folder.
#include "desktop/video_settings_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "config/document.h"
#include "desktop/qt_text.h"
#include "settings/json_fields.h"
#include "tests/desktop/qt_application.h"

namespace vx {
namespace {

using namespace testing_support;
using Texts = std::vector<std::string>;

cJSON* target_video(cJSON* channel) {
  cJSON* targets = config_array(config_object(channel, "output"), "targets");
  return config_object(cJSON_GetArrayItem(targets, 0), "video");
}

cJSON* input_filters(cJSON* channel) {
  return config_array(config_object(channel, "input"), "filters");
}

// The application is there before the panel makes its widgets.
struct QtFirst {
  QtFirst() { ensure_qt_application(); }
};

// A desktop channel whose first target encodes with `codec` and carries `options`, with these
// input filters, loaded into the records and drawn by a shown panel.
struct Panel : QtFirst {
  Panel(const char* codec, const Texts& options, const Texts& filters)
      : channel(channel_template()) {
    cJSON* video = target_video(channel.get());
    config_set_string(video, "codec", codec);
    cJSON* video_options = config_array(video, "options");
    while (cJSON_GetArraySize(video_options) > 0)
      cJSON_DeleteItemFromArray(video_options, 0);
    for (const std::string& option : options)
      cJSON_AddItemToArray(video_options, cJSON_CreateString(option.c_str()));
    for (const std::string& filter : filters)
      cJSON_AddItemToArray(input_filters(channel.get()), cJSON_CreateString(filter.c_str()));
    tabs.host.load_channel(channel.get(), 0);
    dialog.show_settings();
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
  }

  template <typename Widget>
  Widget& control(const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    if (widget == nullptr) ADD_FAILURE() << "no control " << name;
    return *widget;
  }

  // What a number typed into the box and confirmed by leaving it shows there afterwards.
  std::string typed(const char* name, const char* text) {
    auto& box = control<QLineEdit>(name);
    box.setFocus();
    box.selectAll();
    QTest::keyClicks(&box, text);
    QTest::keyClick(&box, Qt::Key_Tab);
    return utf8_text(box.text());
  }

  JsonPtr channel;
  VideoSettingsTabs tabs;
  VideoSettingsDialog dialog{tabs};
};

TEST(VideoSettingsDialog, EncoderAndMiscTabsFollowTheCodec) {
  struct Case {
    const char* codec;
    const char* option;  // the one stored option, if any
    bool page, profiles, level, threads, gpu;
    int minimum, maximum, slider;
    const char* number;
    const char* name;
    int profile_entries;
    const char* saved_preset;  // unchanged by showing the panel and pressing OK
  };
  const Case cases[] = {
      {"h265", "-preset:v faster", true, true, true, true, false, 0, 8, 3, "3", "faster", 9,
       "-preset:v faster"},
      {"nv264", "-preset:v hq -gpu 2", true, true, true, false, true, 0, 8, 6, "6", "hq", 5,
       "-preset:v hq"},
      {"qsv265", "", true, true, true, false, false, 4, 6, 5, "5", "medium", 4, "-preset:v medium"},
      {"vp9", "-cpu-used -4", true, false, true, true, false, 0, 8, 8, "12", "", 1, "-cpu-used -4"},
      {"copy", "-preset:v faster", false, false, false, false, false, 0, 0, 0, "0", "", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    Panel panel(c.codec, *c.option ? Texts{c.option} : Texts{}, {});
    EXPECT_EQ(panel.control<QTabWidget>("tabs").widget(0)->isEnabled(), c.page);
    EXPECT_EQ(panel.control<QComboBox>("encoder_profile").isEnabled(), c.profiles);
    EXPECT_EQ(panel.control<QComboBox>("encoder_profile").count(), c.profile_entries);
    EXPECT_EQ(panel.control<QComboBox>("encoder_level").isEnabled(), c.level);
    EXPECT_EQ(panel.control<QComboBox>("encoder_threads").isEnabled(), c.threads);
    EXPECT_EQ(panel.control<QSpinBox>("misc_gpu_number").isEnabled(), c.gpu);
    const auto& slider = panel.control<QSlider>("preset_slider");
    EXPECT_EQ(slider.minimum(), c.minimum);
    EXPECT_EQ(slider.maximum(), c.maximum);
    EXPECT_EQ(slider.value(), c.slider);
    EXPECT_EQ(utf8_text(panel.control<QLineEdit>("preset_number").text()), c.number);
    EXPECT_EQ(utf8_text(panel.control<QLabel>("preset_name").text()), c.name);

    panel.control<QPushButton>("ok").click();
    EXPECT_FALSE(panel.dialog.isVisible());
    panel.tabs.host.save_channel();
    const Texts saved = string_array(target_video(panel.channel.get()), "options");
    EXPECT_EQ(std::count(saved.begin(), saved.end(), c.saved_preset), *c.saved_preset ? 1 : 0);
  }
}

TEST(VideoSettingsDialog, OperatorChangesReachTheChannel) {
  Panel panel("h265", {"-preset:v faster"},
              {"crop=iw-16:ih-4:8:4", "unsharp=11:11:-1.0:11:11:-1.0"});
  // The loaded filters as the tabs draw them.
  EXPECT_TRUE(panel.control<QCheckBox>("crop_enable").isChecked());
  EXPECT_TRUE(panel.control<QRadioButton>("crop_crop").isChecked());
  const std::pair<const char*, const char*> crop[] = {
      {"crop_left", "8"}, {"crop_top", "4"}, {"crop_right", "8"}, {"crop_bottom", "0"}};
  for (const auto& [name, shown] : crop)
    EXPECT_EQ(utf8_text(panel.control<QLineEdit>(name).text()), shown) << name;
  EXPECT_TRUE(panel.control<QRadioButton>("blur_blur").isChecked());
  EXPECT_EQ(panel.control<QSlider>("blur_radius_slider").value(), 5);
  EXPECT_EQ(utf8_text(panel.control<QLineEdit>("blur_strength").text()), "10");
  EXPECT_FALSE(panel.control<QLineEdit>("overlay_text").isEnabled());

  auto& tabs = panel.control<QTabWidget>("tabs");
  const char* const shots[] = {"encoder", "crop-pad", "blur-sharpen", "overlay", "misc"};
  for (int tab = 0; tab < tabs.count(); ++tab) {
    tabs.setCurrentIndex(tab);
    save_screenshot(panel.dialog, std::string("advanced-video-") + shots[tab] + ".png");
  }

  // "Enable" switches the rest of its tab at once, both ways.
  const std::pair<const char*, const char*> enables[] = {{"crop_enable", "crop_bottom"},
                                                         {"blur_enable", "blur_strength_slider"},
                                                         {"overlay_enable", "overlay_color"}};
  for (const auto& [enable, other] : enables) {
    for (int click = 0; click < 2; ++click) {
      panel.control<QCheckBox>(enable).click();
      EXPECT_EQ(panel.control<QWidget>(other).isEnabled(),
                panel.control<QCheckBox>(enable).isChecked())
          << enable;
    }
  }

  // Box and slider stay equal: a slider move writes the box, a typed number moves the slider
  // (the blur numbers clamped into it).
  panel.control<QSlider>("blur_strength_slider").setValue(15);
  EXPECT_EQ(utf8_text(panel.control<QLineEdit>("blur_strength").text()), "15");
  struct Typed {
    const char* box;
    const char* slider;
    const char* text;
    int shown;
  };
  const Typed typed[] = {{"blur_radius", "blur_radius_slider", "9", 6},
                         {"blur_strength", "blur_strength_slider", "0", 1},
                         {"preset_number", "preset_slider", "7", 7}};
  for (const Typed& t : typed) {
    EXPECT_EQ(panel.typed(t.box, t.text), std::to_string(t.shown)) << t.box;
    EXPECT_EQ(panel.control<QSlider>(t.slider).value(), t.shown) << t.box;
  }

  panel.control<QSlider>("preset_slider").setValue(6);
  EXPECT_EQ(utf8_text(panel.control<QLineEdit>("preset_number").text()), "6");
  EXPECT_EQ(utf8_text(panel.control<QLabel>("preset_name").text()), "slow");
  panel.control<QComboBox>("encoder_profile").setEditText("main10");
  panel.control<QComboBox>("encoder_threads").setEditText("4");
  panel.control<QComboBox>("misc_scan_type").setCurrentIndex(kScanTypeDeinterlace);
  panel.control<QRadioButton>("crop_pad").click();

  // Enter presses OK.
  QTest::keyClick(&panel.control<QLineEdit>("crop_left"), Qt::Key_Return);
  EXPECT_EQ(panel.dialog.result(), QDialog::Accepted);
  panel.tabs.host.save_channel();
  cJSON* video = target_video(panel.channel.get());
  EXPECT_EQ(string_array(video, "options"),
            (Texts{"-profile:v main10", "-pix_fmt:v yuv420p10", "-preset:v slow", "-threads:v 4"}));
  EXPECT_EQ(config_int(video, "scanType"), kScanTypeDeinterlace);
  EXPECT_EQ(string_array(input_filters(panel.channel.get())),
            (Texts{"yadif", "pad=iw+16:ih+4:8:4", "unsharp=13:13:-0.1:13:13:-0.1"}));
}

TEST(VideoSettingsDialog, ClosingKeepsWhatWasSetAndChoosersFillTheOverlay) {
  // Any file that exists will do for the overlay: the test program itself.
  const QString logo = QCoreApplication::applicationFilePath();

  // Every way of closing reads the widgets; nothing is reverted.
  struct Close {
    std::function<void(Panel&)> close;
    int result;
  };
  const Close closes[] = {
      {[](Panel& panel) { panel.control<QPushButton>("cancel").click(); }, QDialog::Rejected},
      {[](Panel& panel) { QTest::keyClick(&panel.dialog, Qt::Key_Escape); }, QDialog::Rejected},
      {[](Panel& panel) { panel.control<QPushButton>("ok").click(); }, QDialog::Accepted}};
  for (const Close& c : closes) {
    Panel panel("h264", {}, {});
    panel.control<QCheckBox>("overlay_enable").click();
    panel.control<QLineEdit>("overlay_text").setText("LIVE");
    panel.control<QLineEdit>("crop_left").setText("20");
    panel.control<QComboBox>("misc_decoder").setCurrentIndex(2);
    EXPECT_TRUE(
        inside_modal<QColorDialog>([&] { panel.control<QPushButton>("overlay_color").click(); },
                                   [](QColorDialog& chooser) {
                                     chooser.setCurrentColor(QColor(255, 0, 0));
                                     chooser.accept();
                                   }));
    const QImage swatch = panel.control<QPushButton>("overlay_color").icon().pixmap(8).toImage();
    EXPECT_EQ(swatch.pixelColor(4, 4), QColor(255, 0, 0));
    EXPECT_TRUE(inside_modal<QFileDialog>(
        [&] { panel.control<QPushButton>("overlay_browse").click(); },
        [&](QFileDialog& chooser) {
          EXPECT_EQ(utf8_text(chooser.windowTitle()), kOverlayFileTitle);
          EXPECT_EQ(chooser.nameFilters().size(), std::ssize(kOverlayFileFilters));
          // Typed as the operator would: the folder's listing is read in the background.
          auto* name = chooser.findChild<QLineEdit*>("fileNameEdit");
          ASSERT_NE(name, nullptr);
          name->setText(logo);
          static_cast<QDialog&>(chooser).accept();  // runs the file dialog's own accept
        }));

    c.close(panel);
    EXPECT_FALSE(panel.dialog.isVisible());
    EXPECT_EQ(panel.dialog.result(), c.result);
    const OverlayFilter& overlay = panel.tabs.overlay.record;
    EXPECT_TRUE(overlay.enabled);
    EXPECT_EQ(overlay.text, "LIVE");
    EXPECT_EQ(overlay.file, utf8_text(logo));
    EXPECT_EQ(std::make_tuple(overlay.red, overlay.green, overlay.blue),
              std::make_tuple(255, 0, 0));
    EXPECT_EQ(panel.tabs.crop_pad.record.left, 20);
    EXPECT_EQ(panel.tabs.host.misc().decoder_choice, 2);
  }
}

}  // namespace
}  // namespace vx
