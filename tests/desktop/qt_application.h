// One QApplication for every desktop test in the program, on Qt's offscreen platform unless the
// environment names another (a developer may watch the tests on a real display).
#pragma once

#include <QApplication>

#include <memory>

namespace vx::testing_support {

inline void ensure_qt_application() {
  static std::unique_ptr<QApplication> application;
  if (QApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "vx_desktop_tests";
  static char* argv[] = {name, nullptr};
  application = std::make_unique<QApplication>(argc, argv);
}

}  // namespace vx::testing_support
