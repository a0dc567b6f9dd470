// The modal "Global Settings" dialog: draws the GlobalSettings record of the document's "global"
// object, keeps its check boxes in step through the record's rules, and on OK hands the record
// to global_settings_ok. "&Export..." and "&Import..." run the configuration transfer with their
// choosers, question and report; "Open Log Folder..." opens the data folder.
#pragma once

#include <QDialog>

#include <functional>

#include "settings/global_settings.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace vx {

class GlobalSettingsDialog final : public QDialog {
  Q_OBJECT

 public:
  // `imported`: the document was replaced by an import; the caller rebuilds its channel list
  // and starts the enabled channels.
  explicit GlobalSettingsDialog(std::function<void()> imported, QWidget* parent = nullptr);

  // After OK: the port or the TLS settings changed, so the web server is restarted once the
  // dialog has closed.
  bool restart_web_server() const { return restart_web_server_; }

  void accept() override;

 private:
  QWidget* build_web_group();
  QWidget* build_streaming_group();
  QLineEdit* file_box(const char* name, GlobalFileBox box, QPushButton** browse = nullptr);
  void show_settings();
  void read_settings();
  void choose_file(GlobalFileBox box, QLineEdit* target);
  void export_configuration();
  void import_configuration();

  std::function<void()> imported_;
  GlobalSettings settings_;
  bool restart_web_server_ = false;

  QLineEdit* port_ = nullptr;
  QCheckBox* tls_ = nullptr;
  QLineEdit* tls_cert_ = nullptr;
  QLineEdit* tls_key_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPlainTextEdit* acl_ = nullptr;
  QCheckBox* debug_log_ = nullptr;
  QCheckBox* auto_run_ = nullptr;
  QCheckBox* auto_restart_ = nullptr;
  QSpinBox* auto_restart_seconds_ = nullptr;
  QCheckBox* continuous_ = nullptr;
  QLineEdit* alternate_input_ = nullptr;
  QPushButton* alternate_browse_ = nullptr;
  QCheckBox* folder_recursive_ = nullptr;
  QCheckBox* folder_shuffle_ = nullptr;
  QLineEdit* plugin_core_ = nullptr;
  QLineEdit* cookies_ = nullptr;
  QSpinBox* viewers_per_address_ = nullptr;
};

}  // namespace vx
