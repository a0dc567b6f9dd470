// The advanced format panel on Qt's offscreen platform: a loaded channel drawn into the six tabs,
// the records' enable rules reaching the widgets, edits stored through OK and discarded by Cancel
// and Escape. Screenshots of every tab go to desktop-shots/ of the build folder.
#include "desktop/advanced_settings_dialog.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/document.h"
#include "config/json.h"
#include "settings/json_fields.h"
#include "tests/desktop/qt_application.h"

namespace vx {
namespace {

using namespace testing_support;
using Texts = std::vector<std::string>;

// A channel from the template with one source and one target, two streams picked from the input
// and the given output options.
JsonPtr channel_with(const char* source_format, const char* source_url, const char* target_format,
                     const char* target_url, const Texts& output_options = {}) {
  JsonPtr channel = channel_template();
  cJSON* input = config_object(channel.get(), "input");
  cJSON* source = cJSON_GetArrayItem(config_array(input, "sources"), 0);
  config_set_string(source, "format", source_format);
  config_set_string(source, "url", source_url);
  set_string_array(input, "map", {"p:1:#0x100", "#0x101"});
  config_set_string(input, "customOptions", "-re");
  cJSON* output = config_object(channel.get(), "output");
  cJSON* target = cJSON_GetArrayItem(config_array(output, "targets"), 0);
  config_set_string(target, "format", target_format);
  config_set_string(target, "url", target_url);
  set_string_array(output, "formatOptions", output_options);
  return channel;
}

JsonPtr srt_to_hls() {
  return channel_with("srt", "srt://10.0.0.5:9000?latency=200", "hls", "/media/live.m3u8",
                      {"-hls_time 6", "-hls_base_url http://cdn.example/live/"});
}

class AdvancedSettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ensure_qt_application(); }

  void open(JsonPtr channel) {
    channel_ = std::move(channel);
    settings_.local_addresses = {"192.168.1.20", "10.0.0.2"};
    settings_.load_channel(channel_.get(), 0);
    dialog_ = std::make_unique<AdvancedSettingsDialog>(settings_);
    dialog_->show_settings();
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  }

  template <typename Widget = QWidget>
  Widget* control(const char* name) {
    auto* widget = dialog_->findChild<Widget*>(QString::fromUtf8(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  // Replaces the text of a line edit, spin box or editable list as typed.
  void retype(const char* name, const char* text) {
    QWidget* widget = control(name);
    if (auto* list = qobject_cast<QComboBox*>(widget)) widget = list->lineEdit();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
    if (auto* box = qobject_cast<QAbstractSpinBox*>(widget)) box->selectAll();
    QTest::keyClicks(widget, text);
  }

  // Adds a row with the button and types into the cell it opens, which stays open.
  QLineEdit* add_row_typing(const char* table_name, const char* button, const char* text) {
    auto* table = control<QTableWidget>(table_name);
    const int rows = table->rowCount();
    QTest::mouseClick(control<QAbstractButton>(button), Qt::LeftButton);
    EXPECT_EQ(table->rowCount(), rows + 1) << button;
    auto* editor = qobject_cast<QLineEdit*>(table->indexWidget(table->model()->index(rows, 0)));
    EXPECT_NE(editor, nullptr) << button << ": the new row's first cell is open for typing";
    if (editor == nullptr) return nullptr;
    EXPECT_TRUE(editor->hasFocus()) << button;
    editor->selectAll();
    QTest::keyClicks(editor, text);
    return editor;
  }

  Texts options(const char* side) {
    return string_array(config_object(channel_.get(), side), "formatOptions");
  }

  JsonPtr channel_;
  AdvancedFormatSettings settings_;
  std::unique_ptr<AdvancedSettingsDialog> dialog_;
};

TEST_F(AdvancedSettingsDialogTest, EnableRulesReachTheWidgets) {
  // A control of each tab: MPEG-TS output, its FEC box, RTMP, HLS, SRT mode, SRT connection.
  const char* const probes[] = {"pmt_pid",      "fec_on",     "rtmp_user",
                                "hls_base_url", "srt_caller", "srt_remote1"};
  struct Case {
    const char* name;
    JsonPtr channel;
    std::array<bool, 6> enabled;
    // Clicking `click` turns `follower` on or off at once.
    const char* click;
    const char* follower;
    std::vector<std::pair<int, const char*>> shots;
  };
  Case cases[] = {
      {"srt input, hls target",
       srt_to_hls(),
       {true, false, false, true, true, true},
       "srt_listener",
       "srt_remote1",
       {{0, "mpegts-input"}, {3, "hls"}, {4, "srt"}, {5, "custom"}}},
      {"udp over rtp",
       channel_with("file", "a.ts", "rtp", "rtp://239.0.0.1:5000"),
       {true, true, false, false, false, false},
       "fec_on",
       "fec_columns",
       {{1, "mpegts-output"}}},
      {"srt target",
       channel_with("file", "a.ts", "srt", "srt://:9000"),
       {true, false, false, false, true, false},
       "srt_caller",
       "srt_minstable_timeout",
       {}},
      {"rtmp target",
       channel_with("file", "a.ts", "rtmp", "rtmp://h/app/key"),
       {false, false, true, false, false, false},
       nullptr,
       nullptr,
       {{2, "rtmp"}}},
  };
  for (Case& c : cases) {
    open(std::move(c.channel));
    for (std::size_t i = 0; i < c.enabled.size(); ++i)
      EXPECT_EQ(control(probes[i])->isEnabled(), c.enabled[i]) << c.name << ": " << probes[i];
    for (const auto& [tab, name] : c.shots) {
      control<QTabWidget>("tabs")->setCurrentIndex(tab);
      save_screenshot(*dialog_, std::string("advanced-format-") + name + ".png");
    }
    if (c.click != nullptr) {
      const bool before = control(c.follower)->isEnabled();
      control<QAbstractButton>(c.click)->click();
      EXPECT_NE(control(c.follower)->isEnabled(), before) << c.name << ": " << c.click;
    }
  }
}

TEST_F(AdvancedSettingsDialogTest, DrawsTheChannelAndOkKeepsWhatWasTyped) {
  open(srt_to_hls());
  auto* streams = control<QTableWidget>("mpegts_in_table");
  ASSERT_EQ(streams->rowCount(), 2);
  EXPECT_EQ(streams->item(0, 0)->text() + "/" + streams->item(0, 1)->text(), "1/0x100");
  EXPECT_EQ(control<QSpinBox>("hls_segment_length")->value(), 6);
  EXPECT_EQ(control<QLineEdit>("srt_remote1")->text(), "10.0.0.5");
  EXPECT_EQ(control<QComboBox>("srt_local1")->count(), 2);
  EXPECT_EQ(control<QPlainTextEdit>("custom_source")->toPlainText(), "-re");

  control<QAbstractButton>("hls_fmp4")->click();
  retype("hls_segment_length", "10");
  retype("hls_base_url", "http://cdn.example/b/");
  retype("srt_remote1", "10.0.0.9");
  retype("srt_local1", "10.0.0.7");
  QTest::keyClicks(control("custom_target"), "-g 50");
  streams->selectRow(0);
  QTest::mouseClick(control<QAbstractButton>("mpegts_in_remove"), Qt::LeftButton);
  // A read with the typed cell still open and focused (as the editor's Apply may do) gets it.
  add_row_typing("mpegts_in_table", "mpegts_in_add", "7");
  dialog_->read_settings();
  EXPECT_EQ(settings_.mpegts_in.SourceStreamList.back().program, "7");
  QTest::mouseClick(control<QAbstractButton>("ok"), Qt::LeftButton);
  EXPECT_TRUE(dialog_->isHidden());

  ASSERT_TRUE(settings_.save_channel());
  cJSON* input = config_object(channel_.get(), "input");
  EXPECT_EQ(string_array(input, "map"), (Texts{"#0x101", "p:7"}));
  EXPECT_EQ(options("output"), (Texts{"-hls_segment_type fmp4", "-hls_time 10",
                                      "-hls_base_url http://cdn.example/b/"}));
  EXPECT_EQ(options("input"), (Texts{"-localaddr 10.0.0.7"}));
  cJSON* source = cJSON_GetArrayItem(config_array(input, "sources"), 0);
  EXPECT_STREQ(config_string(source, "url"), "srt://10.0.0.9:9000?latency=200");
  EXPECT_STREQ(config_string(config_object(channel_.get(), "output"), "customOptions"), "-g 50");
}

TEST_F(AdvancedSettingsDialogTest, EnterAcceptsAndTheNumberBoxesReachTheRecord) {
  open(channel_with("file", "a.ts", "rtp", "rtp://239.0.0.1:5000"));
  control<QAbstractButton>("fec_on")->click();
  retype("fec_columns", "8");
  QLineEdit* cell = add_row_typing("mpegts_out_table", "mpegts_out_add", "5");
  ASSERT_NE(cell, nullptr);
  QTest::keyClick(cell, Qt::Key_Return);  // ends the cell only
  EXPECT_TRUE(dialog_->isVisible());
  retype("pmt_pid", "0x1001");
  QTest::keyClick(control("pmt_pid"), Qt::Key_Return);
  EXPECT_TRUE(dialog_->isHidden());
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);

  ASSERT_TRUE(settings_.save_channel());
  const Texts saved = options("output");
  for (const char* entry : {"-program program_num=5:title='Program02':if=1",
                            "-mpegts_pmt_start_pid 0x1001", "-fec prompeg=l=8:d=5"})
    EXPECT_NE(std::find(saved.begin(), saved.end(), entry), saved.end()) << entry;

  // An empty playlist can be typed, so that the record's refusal reaches the operator.
  open(srt_to_hls());
  retype("hls_playlist_size", "0");
  QTest::mouseClick(control<QAbstractButton>("ok"), Qt::LeftButton);
  EXPECT_FALSE(settings_.save_channel());
  ASSERT_TRUE(settings_.rejection.has_value());
  EXPECT_EQ(settings_.rejection->text, "m3u8 playlist entry size invalid!");
}

TEST_F(AdvancedSettingsDialogTest, CancelAndEscapeDiscardTheEdits) {
  struct Case {
    const char* name;
    const char* target;  // where the closing key or click goes
  };
  const Case cases[] = {{"Cancel", "cancel"}, {"Escape in the custom text", "custom_source"}};
  for (const Case& c : cases) {
    open(srt_to_hls());
    control<QAbstractButton>("srt_listener")->click();  // reaches the record at once
    retype("hls_base_url", "http://elsewhere/");
    QTest::keyClicks(control("custom_source"), " -x");
    auto* streams = control<QTableWidget>("mpegts_in_table");
    streams->editItem(streams->item(0, 0));
    QTest::keyClicks(streams->indexWidget(streams->model()->index(0, 0)), "99");
    if (auto* button = qobject_cast<QAbstractButton*>(control(c.target)))
      QTest::mouseClick(button, Qt::LeftButton);
    else
      QTest::keyClick(control(c.target), Qt::Key_Escape);

    EXPECT_TRUE(dialog_->isHidden()) << c.name;
    EXPECT_EQ(settings_.srt.mode, 0) << c.name;
    EXPECT_TRUE(control<QRadioButton>("srt_caller")->isChecked()) << c.name;
    EXPECT_TRUE(control("srt_remote1")->isEnabled()) << c.name;
    EXPECT_EQ(control<QLineEdit>("hls_base_url")->text(), "http://cdn.example/live/") << c.name;
    EXPECT_EQ(control<QPlainTextEdit>("custom_source")->toPlainText(), "-re") << c.name;
    dialog_->read_settings();  // no cell typed before the cancel comes back
    EXPECT_EQ(settings_.mpegts_in.SourceStreamList.at(0).program, "1") << c.name;
  }
}

}  // namespace
}  // namespace vx
