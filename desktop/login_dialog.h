// The password prompt shown before the window becomes visible when a login password is set.
#pragma once

class QWidget;

namespace vx {

// Runs the prompt modally; true once the stored password was typed, false when cancelled. A
// wrong password says so and keeps the prompt open with the typed text. Call it without the core
// lock: the prompt waits for the operator.
bool ask_login_password(QWidget* parent);

}  // namespace vx
