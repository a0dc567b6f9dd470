// The message boxes of the window and its dialogs: a record's DialogMessage shown modally with its
// title, text and icon.
#pragma once

#include <QMessageBox>

#include "window_logic/editor_parts.h"

class QWidget;

namespace vx {

QMessageBox::Icon box_icon(MessageIcon icon);

// Shows the message with an OK button and waits for it. Call it without the core lock.
void show_dialog_message(QWidget* parent, const DialogMessage& message);

}  // namespace vx
