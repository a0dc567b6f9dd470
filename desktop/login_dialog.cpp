#include "desktop/login_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>

#include "desktop/qt_text.h"
#include "settings/login_prompt.h"
#include "window_logic/global_settings_access.h"

namespace vx {

bool ask_login_password(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle(kLoginPromptTitle);
  auto* password = new QLineEdit;
  password->setObjectName("login_password");
  password->setEchoMode(QLineEdit::Password);
  password->setMinimumWidth(220);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  auto* layout = new QFormLayout(&dialog);
  layout->addRow("Login Password", password);
  layout->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    LoginPrompt prompt{utf8_text(password->text())};
    const bool accepted = login_prompt_ok(prompt, login_password_state().hash);
    if (accepted) {
      dialog.accept();
      return;
    }
    QMessageBox::warning(&dialog, kLoginRefusedCaption, kLoginRefusedText);
    password->setFocus();
  });
  dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace vx
