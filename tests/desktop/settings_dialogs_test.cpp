// The dialogs the main window opens: Global Settings (through its record, with the web server
// moved after it closes, and an import), the advanced panels and Audio Settings on the working
// copy, and the password prompt before the window shows.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSpinBox>

#include "desktop/advanced_settings_dialog.h"
#include "desktop/audio_settings_dialog.h"
#include "desktop/global_settings_dialog.h"
#include "desktop/video_settings_dialog.h"
#include "window_logic/editor_panel.h"
#include "tests/desktop/window_fixture.h"
#include "tests/support/http_client.h"

namespace vx {
namespace {

using namespace testing_support;

template <typename Widget = QAbstractButton>
Widget& child(QWidget& parent, const char* name) {
  Widget* widget = parent.findChild<Widget*>(name);
  if (widget == nullptr) throw std::runtime_error(std::string("no widget ") + name);
  return *widget;
}

void type_into(QLineEdit& box, const QString& text) {
  box.selectAll();
  QTest::keyClicks(&box, text);
}

TEST_F(Window, GlobalSettingsStoreTheirFieldsAndMoveTheWebServerOnceClosed) {
  start({});
  const std::uint16_t new_port = free_tcp_port();
  std::vector<std::string> refused;
  ASSERT_TRUE(inside_modal<GlobalSettingsDialog>(
      [&] { find("global_settings").click(); },
      [&](GlobalSettingsDialog& dialog) {
        EXPECT_EQ(child<QLineEdit>(dialog, "http_port").text(), QString::number(port_));
        EXPECT_EQ(child<QPlainTextEdit>(dialog, "ip_acl").toPlainText(), "allow all");
        save_screenshot(dialog, "global-settings.png");
        // The keyboard walks the fields in the order they are drawn.
        child<QLineEdit>(dialog, "http_port").setFocus();
        for (const char* next : {"ssl_enable", "ssl_cert", "ssl_cert_browse", "ssl_key"}) {
          QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
          EXPECT_EQ(QApplication::focusWidget()->objectName(), next);
        }

        // Ticking the restart starts at one second; continuous streaming opens the file box.
        child(dialog, "auto_restart").click();
        EXPECT_EQ(child<QSpinBox>(dialog, "auto_restart_seconds").value(), 1);
        EXPECT_FALSE(child<QLineEdit>(dialog, "alternate_input").isEnabled());
        child(dialog, "continuous_streaming").click();
        EXPECT_TRUE(child<QLineEdit>(dialog, "alternate_input").isEnabled());
        type_into(child<QLineEdit>(dialog, "login_password"), "neu");

        // A port beyond the range and rules the web server cannot read are refused; the dialog
        // stays open with nothing stored.
        type_into(child<QLineEdit>(dialog, "http_port"), "70000");
        refused = answering_boxes([&] { child(dialog, "ok").click(); });
        EXPECT_TRUE(dialog.isVisible());
        type_into(child<QLineEdit>(dialog, "http_port"), QString::number(new_port));
        child<QPlainTextEdit>(dialog, "ip_acl").setPlainText("deny all\nallow");
        const std::vector<std::string> unreadable =
            answering_boxes([&] { child(dialog, "ok").click(); });
        EXPECT_EQ(unreadable, std::vector<std::string>{"the address rules cannot be read: address "
                                                       "rule 2 (\"allow\") has no address"});
        EXPECT_TRUE(dialog.isVisible());
        child<QPlainTextEdit>(dialog, "ip_acl").setPlainText("allow all");
        type_into(child<QLineEdit>(dialog, "http_port"), QString::number(new_port));
        child(dialog, "ok").click();
      }));
  EXPECT_EQ(refused, std::vector<std::string>{"Please enter port number between 0 and 65535"});
  const JsonPtr document = stored();
  const cJSON* global = config_object(document.get(), "global");
  EXPECT_EQ(config_int(global, "httpPort"), new_port);
  EXPECT_TRUE(login_password_matches(config_login_hash(global), "neu"));
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(global, "loginPass"), nullptr) << "never in clear";
  EXPECT_EQ(config_int(global, "autoRestart"), 1);
  EXPECT_STREQ(config_string(global, "altInput"), "default");
  EXPECT_STREQ(config_string(global, "ipACL"), "allow all");
  EXPECT_EQ(http_get(new_port, "/").status(), 200) << "the server answers on its new port";
  EXPECT_EQ(http_get(port_, "/").status(), 0);

  // Cancel stores nothing, even after the fields were changed.
  ASSERT_TRUE(inside_modal<GlobalSettingsDialog>(
      [&] { find("global_settings").click(); },
      [&](GlobalSettingsDialog& dialog) {
        type_into(child<QLineEdit>(dialog, "login_password"), "other");
        QTest::keyClick(&dialog, Qt::Key_Escape);
      }));
  EXPECT_TRUE(
      login_password_matches(config_login_hash(config_object(stored().get(), "global")), "neu"));
}

TEST_F(Window, AnImportFromGlobalSettingsRebuildsTheListAndStartsEnabledChannels) {
  start({});
  const fs::path chosen = folder_ / "other.json";
  JsonPtr other = document({clip(4), clip(4)});
  config_set_bool(cJSON_GetArrayItem(config_array(other.get(), "channels"), 1), "enable", true);
  std::ofstream(chosen) << *json_print(other.get());
  const std::string path = chosen.string();

  std::vector<std::string> boxes;
  ASSERT_TRUE(inside_modal<GlobalSettingsDialog>(
      [&] { find("global_settings").click(); },
      [&](GlobalSettingsDialog& dialog) {
        boxes = answering_boxes([&] {
          EXPECT_TRUE(inside_modal<QFileDialog>([&] { child(dialog, "import").click(); },
                                                [&](QFileDialog& chooser) {
                                                  // Typed as an operator would: a selection made in
                                                  // code waits for the folder to load.
                                                  chooser.findChild<QLineEdit*>("fileNameEdit")
                                                      ->setText(QString::fromStdString(path));
                                                  QMetaObject::invokeMethod(&chooser, "accept");
                                                }));
        });
        dialog.reject();  // Cancel keeps the imported global settings
      }));
  EXPECT_EQ(boxes,
            (std::vector<std::string>{config_import_question(path),
                                      "Import all channels from <" + path + "> successfully!\n"}));
  EXPECT_EQ(list().row_count(), 2);
  EXPECT_TRUE(spin_until([&] { return window().editor().selected_row().has_value(); }));
  EXPECT_EQ(shell_->application().supervisor().row_state(1), ChannelState::running);
  EXPECT_EQ(shell_->application().supervisor().row_state(0), ChannelState::idle);
}

// The advanced panels open over the editor on the working copy; a refusal of theirs comes back
// at Apply as a box, and what they hold reaches the document with the channel.
TEST_F(Window, TheAdvancedPanelsEditTheWorkingCopyAndApplyStoresThem) {
  start({"udp://0.0.0.0:1234"}, 1);
  find("edit").click();
  auto& format = *window().findChild<AdvancedSettingsDialog*>();
  auto& video = *window().findChild<VideoSettingsDialog*>();
  find("format_advanced").click();
  ASSERT_TRUE(format.isVisible());
  child<QSpinBox>(format, "hls_segment_length").setValue(6);
  child<QSpinBox>(format, "hls_playlist_size").setValue(0);
  child(format, "ok").click();
  EXPECT_FALSE(format.isVisible());

  find("video_advanced").click();
  ASSERT_TRUE(video.isVisible());
  child<QComboBox>(video, "encoder_threads").setCurrentText("4");
  child(video, "ok").click();
  EXPECT_FALSE(video.isVisible());

  // The format panel closed with OK still holds its values: Apply checks them, refuses and
  // shows the panel again.
  EXPECT_EQ(answering_boxes([&] { find("apply").click(); }),
            std::vector<std::string>{"m3u8 playlist entry size invalid!"});
  EXPECT_TRUE(window().editor().editing());
  EXPECT_TRUE(format.isVisible());
  EXPECT_EQ(child<QSpinBox>(format, "hls_segment_length").value(), 6) << "reopened as left";
  child<QSpinBox>(format, "hls_playlist_size").setValue(5);
  find("apply").click();  // with the panel open: Apply reads it and hides it
  EXPECT_FALSE(format.isVisible());
  EXPECT_FALSE(window().editor().editing());

  const JsonPtr document = stored();
  const cJSON* channel = cJSON_GetArrayItem(config_array(document.get(), "channels"), 0);
  const cJSON* output = config_object(channel, "output");
  const std::string format_options = *json_print(config_array(output, "formatOptions"));
  const std::string video_options = *json_print(config_array(
      config_object(cJSON_GetArrayItem(config_array(output, "targets"), 0), "video"), "options"));
  EXPECT_NE(format_options.find("-hls_time 6"), std::string::npos) << format_options;
  EXPECT_NE(video_options.find("-threads:v 4"), std::string::npos) << video_options;
}

TEST_F(Window, AudioSettingsChooseThePcmVariantOfTheWorkingCopy) {
  start({"udp://0.0.0.0:1234"});
  find("edit").click();
  // The channel's audio encoding is not PCM: the page is disabled and OK stores nothing.
  ASSERT_TRUE(inside_modal<AudioSettingsDialog>(
      [&] { find("audio_advanced").click(); },
      [&](AudioSettingsDialog& dialog) {
        EXPECT_FALSE(child<QListWidget>(dialog, "pcm_encoding").isEnabled());
        child(dialog, "ok").click();
      }));
  cJSON* audio = config_object(
      cJSON_GetArrayItem(
          config_array(config_object(window().editor().editing_channel(), "output"), "targets"), 0),
      "audio");
  const std::string before = config_string(audio, "codec");
  EXPECT_NE(before, "g711a");

  config_set_string(audio, "codec", "pcm24s");
  auto& encoding = find<QComboBox>(kAudioEncodingControl);
  encoding.setCurrentIndex(0);  // "PCM", as the operator picks it
  emit encoding.activated(0);
  ASSERT_TRUE(inside_modal<AudioSettingsDialog>(
      [&] { find("audio_advanced").click(); },
      [&](AudioSettingsDialog& dialog) {
        auto& variants = child<QListWidget>(dialog, "pcm_encoding");
        EXPECT_TRUE(variants.isEnabled());
        ASSERT_NE(variants.currentItem(), nullptr) << config_string(audio, "codec");
        EXPECT_EQ(variants.currentItem()->text(), "PCM 24 bit signed");
        save_screenshot(dialog, "audio-settings.png");
        variants.setCurrentRow(1);
        QTest::keyClick(&variants, Qt::Key_Return);
      }));
  EXPECT_STREQ(config_string(audio, "codec"), "g711a");
}

TEST_F(Window, ThePasswordPromptKeepsAWrongTextAndOpensOnTheRightOne) {
  start({});
  window().hide();
  std::vector<std::string> refused;
  ASSERT_TRUE(inside_modal<QDialog>(
      [&] { shell_->show_window(); },
      [&](QDialog& prompt) {
        EXPECT_EQ(prompt.windowTitle(), "Password Required");
        save_screenshot(prompt, "login-prompt.png");
        auto& password = child<QLineEdit>(prompt, "login_password");
        QTest::keyClicks(&password, "PW");  // the letter case counts
        refused = answering_boxes([&] { QTest::keyClick(&password, Qt::Key_Return); });
        EXPECT_EQ(password.text(), "PW") << "the typed text stays for correcting";
        type_into(password, "pw");
        QTest::keyClick(&password, Qt::Key_Return);
      }));
  EXPECT_EQ(refused, std::vector<std::string>{"Password incorrect"});
  EXPECT_TRUE(window().isVisible());
}

// Minimised, the window covers its contents; brought back by the desktop, it asks for the
// password first and goes back down when the prompt is cancelled.
TEST_F(Window, AMinimisedWindowComesBackOnlyThroughThePassword) {
  start({});
  auto& contents = find<QWidget>("window_contents");
  auto& cover = find<QWidget>("lock_cover");
  EXPECT_TRUE(contents.isVisible());
  // Ctrl+Q is counted here instead of ending the test program.
  QObject::disconnect(&window(), &MainWindow::exitRequested, shell_.get(), nullptr);
  QSignalSpy exits(&window(), &MainWindow::exitRequested);
  QTest::keyClick(&window(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(exits.count(), 1);

  window().showMinimized();
  ASSERT_TRUE(spin_until([&] { return window().locked(); }));
  EXPECT_FALSE(contents.isVisible());
  screenshot("window-locked.png");
  QTest::keyClick(&window(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(exits.count(), 1) << "a locked window takes no keys";

  // Restored as the desktop restores it: the prompt comes, and Cancel puts the window down again.
  const auto restored_with = [&](const QString& typed) {
    bool asked = false;
    EXPECT_TRUE(inside_modal<QDialog>(
        [&] {
          window().showMinimized();
          window().showNormal();
          spin_until([&] { return asked; }, 5s);
        },
        [&](QDialog& prompt) {
          asked = true;
          EXPECT_FALSE(contents.isVisible()) << "nothing shows behind the prompt";
          if (typed.isEmpty()) {
            prompt.reject();
            return;
          }
          type_into(child<QLineEdit>(prompt, "login_password"), typed);
          QTest::keyClick(&child<QLineEdit>(prompt, "login_password"), Qt::Key_Return);
        }));
  };
  restored_with("");
  EXPECT_TRUE(spin_until([&] { return window().isMinimized(); }));
  EXPECT_TRUE(window().locked());
  EXPECT_TRUE(cover.isVisibleTo(&window()));

  restored_with("pw");
  EXPECT_TRUE(spin_until([&] { return contents.isVisible(); }));
  EXPECT_FALSE(window().locked());
  EXPECT_FALSE(window().isMinimized());
}

}  // namespace
}  // namespace vx
