// One QApplication for every desktop test in the program, on Qt's offscreen platform unless the
// environment names another (a developer may watch the tests on a real display), and the helpers
// every window test shares: screenshots and answering the boxes a command opens.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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

// Writes the widget as drawn into desktop-shots/ of the build folder.
inline void save_screenshot(QWidget& widget, const std::string& name) {
  std::filesystem::create_directories(VX_DESKTOP_SHOTS);
  QTest::qWait(50);
  widget.grab().save(QString::fromStdString(std::string(VX_DESKTOP_SHOTS) + "/" + name));
}

// Runs `action`; every message box it opens is answered with `button` and its text kept.
inline std::vector<std::string> answering_boxes(
    const std::function<void()>& action, QMessageBox::StandardButton button = QMessageBox::Ok) {
  std::vector<std::string> texts;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      texts.push_back(box->text().toStdString());
      box->done(button);
    }
  });
  answer.start(20);
  action();
  QTest::qWait(50);
  return texts;
}

// Runs `action`, which opens a modal dialog of type Dialog; `inside` runs on that dialog once it
// shows (it must close it). False when no such dialog showed within five seconds.
template <typename Dialog>
bool inside_modal(const std::function<void()>& action, const std::function<void(Dialog&)>& inside) {
  bool seen = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || seen) return;
    seen = true;
    poll.stop();
    inside(*dialog);
  });
  poll.start(20);
  QTimer give_up;  // a local timer: it cannot fire after this function has returned
  give_up.setSingleShot(true);
  QObject::connect(&give_up, &QTimer::timeout, [&] {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
  });
  give_up.start(5000);
  action();
  return seen;
}

}  // namespace vx::testing_support
