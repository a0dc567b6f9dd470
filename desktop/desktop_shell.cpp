#include "desktop/desktop_shell.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QWindow>

#include "desktop/login_dialog.h"
#include "desktop/main_window.h"
#include "desktop/message_boxes.h"
#include "desktop/qt_text.h"
#include "platform/exit_signals.h"
#include "platform/host.h"
#include "vocabulary/channel_glance.h"
#include "vocabulary/product.h"
#include "window_logic/channel_commands.h"
#include "window_logic/global_settings_access.h"

namespace vx {
namespace {

// A rounded square in the browser page's blue with the product's initial.
QIcon built_in_icon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128}) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, QColor(70, 110, 170));
    fill.setColorAt(1, QColor(40, 60, 110));
    painter.setBrush(fill);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(0, 0, size, size), size / 5.0, size / 5.0);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(size * 3 / 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QString(kProductName).left(1));
    painter.end();
    icon.addPixmap(picture);
  }
  return icon;
}

bool login_password_set() {
  return login_password_state().set;
}

}  // namespace

QIcon program_icon() {
  const QString own = qt_text(module_folder() + "/morvoem.ico");
  if (QFileInfo::exists(own)) {
    QIcon icon(own);
    if (!icon.availableSizes().isEmpty()) return icon;
  }
  return built_in_icon();
}

int run_desktop(int argc, char** argv, bool quiet) {
  // Before Qt starts any thread, so every thread leaves the exit signals to the descriptor.
  UniqueFd exit_signals = block_exit_signals();
  QApplication qt(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(kProductName);
  QApplication::setWindowIcon(program_icon());
  DesktopShell shell(std::move(exit_signals));
  if (const std::optional<int> code = shell.start(!quiet)) return *code;
  if (quiet) shell.keep_in_task_bar();
  QApplication::exec();
  shell.exit_sequence();
  return 0;
}

DesktopShell::DesktopShell(UniqueFd exit_signals)
    : exit_signals_(std::move(exit_signals)), application_(*this, *this, *this) {}

DesktopShell::~DesktopShell() {
  exit_sequence();
}

std::optional<int> DesktopShell::start(bool show) {
  const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
  window_ = std::make_unique<MainWindow>(application_, !tray);
  connect(window_.get(), &MainWindow::exitRequested, this, &DesktopShell::confirm_exit);
  connect(window_.get(), &MainWindow::wentAway, this, &DesktopShell::lock_window);
  // Queued: the prompt waits for the operator, never inside the window's own event handler.
  connect(window_.get(), &MainWindow::cameBack, this, &DesktopShell::show_window,
          Qt::QueuedConnection);
  if (const std::optional<int> code = application_.start(show)) {
    window_.reset();
    return code;
  }
  running_ = true;
  if (tray) create_tray();
  watch_descriptors();
  connect(&supervise_, &QTimer::timeout, this, &DesktopShell::tick);
  supervise_.start(std::chrono::duration_cast<std::chrono::milliseconds>(kSupervisionPeriod));
  // The rows' glances follow the meters, once a second, and are drawn in the same paint.
  static_assert(kLoadFiguresPeriod == std::chrono::seconds(kHistoryIntervalSeconds));
  connect(&meters_, &QTimer::timeout, this, [this] {
    window_->show_loads(application_.supervisor().load_figures());
    window_->glance_tick();
  });
  meters_.start(std::chrono::duration_cast<std::chrono::milliseconds>(kLoadFiguresPeriod));
  window_->show_loads(application_.supervisor().load_figures());
  if (show) show_window();
  return std::nullopt;
}

void DesktopShell::exit_sequence() {
  if (!running_) return;
  running_ = false;
  supervise_.stop();
  meters_.stop();
  if (tray_ != nullptr) tray_->hide();
  window_.reset();
  application_.exit_sequence();
}

void DesktopShell::show_window() {
  if (!window_ || asking_password_) return;
  // A window unmapped behind Qt's back (by the desktop) is not on screen although Qt still
  // counts it visible; it is shown afresh, like a hidden one.
  const auto on_screen = [this] {
    const QWindow* handle = window_->windowHandle();
    return window_->isVisible() && !window_->isMinimized() && handle != nullptr &&
           handle->isExposed();
  };
  if ((!on_screen() || window_->locked()) && login_password_set()) {
    asking_password_ = true;
    const bool opened = ask_login_password(nullptr);
    asking_password_ = false;
    if (!window_) return;
    if (!opened) {
      put_window_away();
      return;
    }
  }
  // Asked again after the prompt: a window the desktop was restoring is on the screen by now,
  // and hiding it then would leave it to the desktop to minimise again.
  if (!on_screen()) window_->hide();
  window_->set_locked(false);
  window_->showNormal();
  window_->raise();
  window_->activateWindow();
}

void DesktopShell::keep_in_task_bar() {
  if (!running_ || tray_ != nullptr) return;
  lock_window();
  window_->showMinimized();
}

void DesktopShell::lock_window() {
  if (running_ && window_ && !window_->locked() && login_password_set()) window_->set_locked(true);
}

void DesktopShell::put_window_away() {
  window_->set_locked(login_password_set());
  if (tray_ != nullptr) {
    window_->hide();
  } else {
    window_->showMinimized();
  }
}

void DesktopShell::confirm_exit() {
  if (!running_ || asking_exit_) return;
  if (const std::optional<DialogMessage> question =
          exit_question(channels_ending_with_program(application_.supervisor()))) {
    // Over the window when it is on the screen and open, else on its own.
    QWidget* over = window_ && window_->isVisible() && !window_->isMinimized() && !window_->locked()
                        ? window_.get()
                        : nullptr;
    QMessageBox box(box_icon(question->icon), qt_text(question->title), qt_text(question->text),
                    QMessageBox::Yes | QMessageBox::No, over);
    box.setDefaultButton(QMessageBox::No);
    asking_exit_ = true;
    const int answer = box.exec();
    asking_exit_ = false;
    if (answer != QMessageBox::Yes) return;
  }
  end_program();
}

void DesktopShell::end_program() {
  if (window_) window_->allow_close();
  QCoreApplication::exit(0);
}

void DesktopShell::create_tray() {
  tray_ = new QSystemTrayIcon(QApplication::windowIcon(), this);
  tray_->setToolTip(kProductName);
  auto* menu = new QMenu(window_.get());
  menu->addAction(QString("&Open %1").arg(kProductName), this, &DesktopShell::show_window);
  menu->addAction(QString("&Exit %1").arg(kProductName), this, &DesktopShell::confirm_exit);
  tray_->setContextMenu(menu);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::DoubleClick) show_window();
  });
  tray_->show();
}

// The exit signals, the web server's channel commands and later copies of the program wake the
// event loop through their descriptors.
void DesktopShell::watch_descriptors() {
  if (exit_signals_.get() >= 0) {
    auto* exit_watch = new QSocketNotifier(exit_signals_.get(), QSocketNotifier::Read, this);
    connect(exit_watch, &QSocketNotifier::activated, this, [this] {
      if (const int signal_number = read_exit_signal(exit_signals_.get())) {
        note(stopping_note(signal_number));
        end_program();
      }
    });
  }
  if (application_.commands().wake_descriptor() >= 0) {
    auto* commands =
        new QSocketNotifier(application_.commands().wake_descriptor(), QSocketNotifier::Read, this);
    connect(commands, &QSocketNotifier::activated, this, [this] {
      carry_out_requests();
      application_.commands().carry_out(application_.supervisor());
    });
  }
  SingleInstance* instance = application_.instance();
  if (instance != nullptr && instance->listening_fd() >= 0) {
    auto* copies = new QSocketNotifier(instance->listening_fd(), QSocketNotifier::Read, this);
    connect(copies, &QSocketNotifier::activated, this, [this, instance] {
      if (instance->answer_pending(false) > 0) show_window();
    });
  }
}

// Before any waiting command, so a command for a channel that a post has just added finds its
// row; never on the server's thread.
void DesktopShell::carry_out_requests() {
  if (reload_requested_.exchange(false)) application_.supervisor().rebuild_rows(false);
  if (restart_requested_.exchange(false)) application_.restart_web_server();
}

void DesktopShell::tick() {
  carry_out_requests();
  if (application_.commands().wake_descriptor() < 0) {
    application_.commands().carry_out(application_.supervisor());
  }
  application_.supervisor().tick(SupervisorClock::now());
}

// ----- the web server's notifications (server thread) ----------------------------------------

void DesktopShell::configuration_saved() {
  apply_autostart_setting();
}

void DesktopShell::reload_channels() {
  reload_requested_ = true;
  QMetaObject::invokeMethod(this, &DesktopShell::carry_out_requests, Qt::QueuedConnection);
}

void DesktopShell::restart_web_server() {
  restart_requested_ = true;
  QMetaObject::invokeMethod(this, &DesktopShell::carry_out_requests, Qt::QueuedConnection);
}

// ----- the supervisor's view -----------------------------------------------------------------

void DesktopShell::rows_rebuilt(int count) {
  if (window_) window_->rows_rebuilt(count);
}

void DesktopShell::row_changed(int row, ChannelState state, const std::string& text) {
  if (window_) window_->row_changed(row, state, text);
}

void DesktopShell::row_texts_changed(int row) {
  if (window_) window_->row_texts_changed(row);
}

void DesktopShell::refresh_panel() {
  if (window_) window_->refresh_panel();
}

// ----- messages -------------------------------------------------------------------------------

void DesktopShell::warning(std::string_view caption, std::string_view text) {
  print_operator_line(stderr, text);
  auto* box =
      new QMessageBox(QMessageBox::Warning, qt_text(caption), qt_text(text), QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  // Once the event loop runs, so the window started with the program is on the screen: the box
  // then belongs to it and the desktop keeps it above the window.
  QTimer::singleShot(0, this, [this, box = QPointer<QMessageBox>(box)] {
    if (box == nullptr) return;
    if (window_ && window_->isVisible() && !window_->isMinimized() && !window_->locked()) {
      box->setParent(window_.get(), box->windowFlags());
    }
    box->show();
    box->raise();
    box->activateWindow();
  });
}

void DesktopShell::error(std::string_view caption, std::string_view text) {
  print_operator_line(stderr, text);
  QMessageBox box(QMessageBox::Critical, qt_text(caption), qt_text(text), QMessageBox::Ok);
  box.exec();
}

void DesktopShell::note(std::string_view text) {
  print_operator_line(stdout, text);
}

}  // namespace vx
