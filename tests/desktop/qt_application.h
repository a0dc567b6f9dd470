// One QApplication for every desktop test in the program, on Qt's offscreen platform unless the
// environment names another (a developer may watch the tests on a real display).
#pragma once

#include <QApplication>

namespace vx::testing_support {

inline void ensure_qt_application() {
  if (QApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "vx_desktop_tests";
  static char* argv[] = {name, nullptr};
  // Never destroyed: run from exit(), its destructor finds Qt's own globals gone and crashes the
  // test program after every test has passed.
  static QApplication* const application = new QApplication(argc, argv);
  (void)application;
}

}  // namespace vx::testing_support
