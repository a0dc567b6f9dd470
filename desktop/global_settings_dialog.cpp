#include "desktop/global_settings_dialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include <optional>
#include <string>

#include "desktop/message_boxes.h"
#include "desktop/qt_text.h"
#include "desktop/widget_kit.h"
#include "window_logic/global_settings_access.h"

namespace vx {
namespace {

// How an export or import ended, with the reason of a failure.
void show_transfer(QWidget* parent, const char* caption, const ConfigTransfer& done) {
  show_dialog_message(parent, {caption, done.message + done.reason,
                               done.ok ? MessageIcon::information : MessageIcon::error});
}

}  // namespace

GlobalSettingsDialog::GlobalSettingsDialog(std::function<void()> imported, QWidget* parent)
    : QDialog(parent), imported_(std::move(imported)) {
  setWindowTitle(kGlobalSettingsTitle);
  settings_ = stored_global_settings();

  auto* export_button = new QPushButton("&Export...");
  export_button->setObjectName("export");
  auto* import_button = new QPushButton("&Import...");
  import_button->setObjectName("import");
  auto* log_button = new QPushButton("Open Log Folder...");
  log_button->setObjectName("open_log_folder");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  // The configuration's own commands on the left, the dialog's answer on the right.
  auto* button_row = new QHBoxLayout;
  for (QPushButton* button : {export_button, import_button, log_button}) {
    button->setAutoDefault(false);
    button_row->addWidget(button);
  }
  button_row->addStretch(1);
  button_row->addWidget(buttons);

  auto* columns = new QHBoxLayout;
  columns->addWidget(build_web_group());
  columns->addWidget(build_streaming_group());
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addLayout(button_row);

  connect(buttons, &QDialogButtonBox::accepted, this, &GlobalSettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &GlobalSettingsDialog::reject);
  connect(export_button, &QPushButton::clicked, this, &GlobalSettingsDialog::export_configuration);
  connect(import_button, &QPushButton::clicked, this, &GlobalSettingsDialog::import_configuration);
  connect(log_button, &QPushButton::clicked, this,
          [] { QDesktopServices::openUrl(QUrl::fromLocalFile(qt_text(data_folder()))); });
  show_settings();
}

QWidget* GlobalSettingsDialog::build_web_group() {
  auto* group = new QGroupBox("Web Administration");
  auto* form = new QFormLayout(group);
  port_ = new QLineEdit;
  port_->setObjectName("http_port");
  // Digits only, but more of them than a port has: a number above 65535 is refused with its
  // own message rather than silently cut.
  port_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}"), port_));
  tls_ = check_box("Enable SSL", "ssl_enable", nullptr);
  tls_cert_ = file_box("ssl_cert", GlobalFileBox::tls_cert);
  tls_key_ = file_box("ssl_key", GlobalFileBox::tls_key);
  password_ = new QLineEdit;
  password_->setObjectName("login_password");
  password_->setEchoMode(QLineEdit::Password);
  acl_ = new QPlainTextEdit;
  acl_->setObjectName("ip_acl");
  acl_->setTabChangesFocus(true);
  form->addRow("HTTP(s) Port", port_);
  form->addRow(tls_);
  form->addRow("SSL Cert File", tls_cert_->parentWidget());
  form->addRow("SSL Key File", tls_key_->parentWidget());
  form->addRow("Login Password", password_);
  form->addRow("IP ACL Rules", acl_);
  return group;
}

QWidget* GlobalSettingsDialog::build_streaming_group() {
  auto* group = new QGroupBox("Streaming");
  auto* form = new QFormLayout(group);
  debug_log_ = check_box("&Debug Log", "debug_log", nullptr);
  auto_run_ = check_box("Auto Start on &System Boot", "auto_run", nullptr);
  auto_restart_ =
      check_box("&Auto Restart Streaming on Error && Loop File Source", "auto_restart", nullptr);
  auto_restart_seconds_ = new QSpinBox;
  auto_restart_seconds_->setObjectName("auto_restart_seconds");
  auto_restart_seconds_->setRange(0, kAutoRestartMaxSeconds);
  auto_restart_seconds_->setSingleStep(1);
  auto* after = new QHBoxLayout;
  after->addSpacing(auto_restart_->style()->pixelMetric(QStyle::PM_IndicatorWidth));
  after->addWidget(new QLabel("after"));
  after->addWidget(auto_restart_seconds_);
  after->addWidget(new QLabel("seconds"));
  after->addStretch(1);
  continuous_ = check_box("Continuous Streaming on Input Failure", "continuous_streaming", nullptr);
  alternate_input_ =
      file_box("alternate_input", GlobalFileBox::alternate_input, &alternate_browse_);
  folder_recursive_ = check_box("Recursive in Folder Streaming", "folder_recursive", nullptr);
  folder_shuffle_ = check_box("Shuffle in Folder Streaming", "folder_shuffle", nullptr);
  plugin_core_ = file_box("plugin_core", GlobalFileBox::plugin_core);
  cookies_ = file_box("cookies", GlobalFileBox::cookies);
  viewers_per_address_ = new QSpinBox;
  viewers_per_address_->setObjectName("viewers_per_address");
  viewers_per_address_->setRange(kMinViewersPerAddress, kMaxViewersPerAddress);
  viewers_per_address_->setToolTip(
      "Connections one client address may hold on an output served over HTTP(S)");

  form->addRow(debug_log_);
  form->addRow(auto_run_);
  form->addRow(auto_restart_);
  form->addRow(after);
  form->addRow(continuous_);
  form->addRow("Alternate\nInput Video File", alternate_input_->parentWidget());
  form->addRow(folder_recursive_);
  form->addRow(folder_shuffle_);
  form->addRow("MainConcept FFmpeg\nPlugin Core File", plugin_core_->parentWidget());
  form->addRow("Browser Cookies File\nfor yt-dlp", cookies_->parentWidget());
  form->addRow("HTTP Output Viewers\nper Address", viewers_per_address_);

  // The check boxes follow the record's rules: ticking the restart starts at one second, a
  // typed number ticks or clears it, clearing continuous streaming empties the file box.
  connect(auto_restart_, &QCheckBox::clicked, this, [this](bool ticked) {
    read_settings();
    set_auto_restart_ticked(settings_, ticked);
    show_settings();
  });
  connect(auto_restart_seconds_, &QSpinBox::valueChanged, this, [this](int seconds) {
    set_auto_restart_seconds(settings_, seconds);
    auto_restart_->setChecked(auto_restart_ticked(settings_));
  });
  connect(continuous_, &QCheckBox::clicked, this, [this](bool ticked) {
    read_settings();
    set_continuous_streaming(settings_, ticked);
    show_settings();
  });
  return group;
}

// A path box with its "..." in a row of their own; the row is the box's parent widget.
QLineEdit* GlobalSettingsDialog::file_box(const char* name, GlobalFileBox box, QPushButton** browse) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* text = new QLineEdit;
  text->setObjectName(name);
  text->setMinimumWidth(220);
  auto* button = new QPushButton("...");
  button->setObjectName(QString(name) + "_browse");
  button->setAutoDefault(false);
  button->setMaximumWidth(button->fontMetrics().horizontalAdvance("...") + 24);
  layout->addWidget(text, 1);
  layout->addWidget(button);
  connect(button, &QPushButton::clicked, this, [this, box, text] { choose_file(box, text); });
  if (browse != nullptr) *browse = button;
  return text;
}

void GlobalSettingsDialog::show_settings() {
  port_->setText(QString::number(settings_.http_port));
  tls_->setChecked(settings_.tls_enabled);
  tls_cert_->setText(qt_text(settings_.tls_cert));
  tls_key_->setText(qt_text(settings_.tls_key));
  password_->setText(qt_text(settings_.login_password));
  acl_->setPlainText(qt_text(settings_.ip_acl));
  debug_log_->setChecked(settings_.debug_log);
  auto_run_->setChecked(settings_.auto_run);
  auto_restart_->setChecked(auto_restart_ticked(settings_));
  {
    const QSignalBlocker quiet(auto_restart_seconds_);
    auto_restart_seconds_->setValue(settings_.auto_restart_seconds);
  }
  continuous_->setChecked(settings_.continuous_streaming);
  alternate_input_->setText(qt_text(settings_.alternate_input));
  const bool alternate = alternate_input_enabled(settings_);
  alternate_input_->setEnabled(alternate);
  alternate_browse_->setEnabled(alternate);
  folder_recursive_->setChecked(settings_.folder_recursive);
  folder_shuffle_->setChecked(settings_.folder_shuffle);
  plugin_core_->setText(qt_text(settings_.plugin_core_path));
  cookies_->setText(qt_text(settings_.cookies_path));
  viewers_per_address_->setValue(settings_.viewers_per_address);
}

void GlobalSettingsDialog::read_settings() {
  settings_.http_port = port_->text().toLongLong();  // "" reads as 0, like an untouched box
  settings_.tls_enabled = tls_->isChecked();
  settings_.tls_cert = utf8_text(tls_cert_->text());
  settings_.tls_key = utf8_text(tls_key_->text());
  settings_.login_password = utf8_text(password_->text());
  settings_.ip_acl = utf8_text(acl_->toPlainText());
  settings_.debug_log = debug_log_->isChecked();
  settings_.auto_run = auto_run_->isChecked();
  settings_.auto_restart_seconds = auto_restart_seconds_->value();
  settings_.continuous_streaming = continuous_->isChecked();
  settings_.alternate_input = utf8_text(alternate_input_->text());
  settings_.folder_recursive = folder_recursive_->isChecked();
  settings_.folder_shuffle = folder_shuffle_->isChecked();
  settings_.plugin_core_path = utf8_text(plugin_core_->text());
  settings_.cookies_path = utf8_text(cookies_->text());
  settings_.viewers_per_address = viewers_per_address_->value();
}

void GlobalSettingsDialog::accept() {
  read_settings();
  const GlobalSettingsOutcome outcome = apply_global_settings(settings_);
  if (outcome.refusal) {
    show_dialog_message(this, *outcome.refusal);
    port_->setFocus();
    port_->selectAll();
    return;
  }
  if (!outcome.result.accepted) return;
  restart_web_server_ = outcome.result.restart_web_server;
  QDialog::accept();
}

void GlobalSettingsDialog::choose_file(GlobalFileBox box, QLineEdit* target) {
  const PathDialog dialog = global_file_dialog(box);
  const QString path = QFileDialog::getOpenFileName(this, dialog.title, target->text(),
                                                    file_filters(dialog.filters));
  if (!path.isEmpty()) target->setText(path);
}

void GlobalSettingsDialog::export_configuration() {
  const SaveDialog dialog = config_export_dialog();
  QFileDialog chooser(this, dialog.title, QString(), file_filters(dialog.filters));
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setDefaultSuffix(dialog.default_extension);
  chooser.selectFile(dialog.default_name);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  const ConfigTransfer done = export_configuration_file(utf8_text(chooser.selectedFiles().front()));
  show_transfer(this, kExportCaption, done);
}

// The dialog's fields stay as they were loaded: OK stores them into the imported document,
// Cancel keeps the imported global settings.
void GlobalSettingsDialog::import_configuration() {
  const PathDialog dialog = config_import_dialog();
  QFileDialog chooser(this, dialog.title, QString(), file_filters(dialog.filters));
  chooser.setFileMode(QFileDialog::ExistingFile);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  const std::string path = utf8_text(chooser.selectedFiles().front());
  QMessageBox question(QMessageBox::Question, kImportCaption, qt_text(config_import_question(path)),
                       QMessageBox::Ok | QMessageBox::Cancel, this);
  if (question.exec() != QMessageBox::Ok) return;
  const ConfigTransfer done = import_configuration_file(path);
  if (done.ok && imported_) imported_();
  show_transfer(this, kImportCaption, done);
}

}  // namespace vx
