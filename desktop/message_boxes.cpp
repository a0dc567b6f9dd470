#include "desktop/message_boxes.h"

#include "desktop/qt_text.h"

namespace vx {

QMessageBox::Icon box_icon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::warning:
      return QMessageBox::Warning;
    case MessageIcon::information:
      return QMessageBox::Information;
    case MessageIcon::error:
      break;
  }
  return QMessageBox::Critical;
}

void show_dialog_message(QWidget* parent, const DialogMessage& message) {
  QMessageBox box(box_icon(message.icon), qt_text(message.title), qt_text(message.text),
                  QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace vx
