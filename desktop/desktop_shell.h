// The program with a display: the window (hidden with -quiet), the tray icon and its menu, the
// 100 ms supervision tick and the 1 s meters with the channel list's glances, the web server's
// notifications carried onto the window's thread, later copies of the program asking to be shown,
// and the exit signals, all watched by Qt's event loop. Start-up and the exit sequence are the
// headless program's own.
#pragma once

#include <QIcon>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>

#include "app/application.h"
#include "platform/unique_fd.h"

class QSystemTrayIcon;
class QSocketNotifier;

namespace vx {

class MainWindow;

// Runs the program with its window and returns the process's exit code. `quiet`: start with the
// tray icon only, or minimised where the desktop has no tray.
int run_desktop(int argc, char** argv, bool quiet);

// "morvoem.ico" beside the program when it loads, else the built-in picture.
QIcon program_icon();

class DesktopShell final : public QObject,
                           public WebServerEvents,
                           public SupervisorView,
                           public UserMessages {
  Q_OBJECT

 public:
  // `exit_signals`: the descriptor of block_exit_signals(), made before Qt started any thread.
  explicit DesktopShell(UniqueFd exit_signals);
  ~DesktopShell() override;

  // Start-up; nullopt when the program runs. `show`: the window is shown at once.
  std::optional<int> start(bool show);
  // Everything stops, every transcoder ends and the configuration is saved.
  void exit_sequence();

  // Shows the window in front of the others, after the login prompt when a password is set
  // and the window is locked or not on screen yet. A cancelled prompt puts it away again (to the
  // tray, or minimised where there is none), still locked.
  void show_window();
  // A start without the window where the desktop has no tray: the window is minimised (locked
  // when a password is set), so the task bar leads back to it.
  void keep_in_task_bar();
  // Ctrl+Q, the window's Exit and the tray's Exit: asks first while channels would stop.
  void confirm_exit();

  Application& application() { return application_; }
  MainWindow* window() { return window_.get(); }

  // WebServerEvents: on the server's thread; they queue work for the window's thread.
  void configuration_saved() override;
  void reload_channels() override;
  void restart_web_server() override;

  // SupervisorView: forwarded to the window.
  void rows_rebuilt(int count) override;
  void row_changed(int row, ChannelState state, const std::string& text) override;
  void row_texts_changed(int row) override;
  void refresh_panel() override;

  // UserMessages: boxes that never hold up start-up (warnings do not wait for an answer), and
  // the same lines on the terminal.
  void warning(std::string_view caption, std::string_view text) override;
  void error(std::string_view caption, std::string_view text) override;
  void note(std::string_view text) override;

  // Ends the event loop without asking any window (a window that only hides on close would
  // refuse), so the exit sequence always runs.
  void end_program();

 private:
  void watch_descriptors();
  // Locks the window while it is off the screen, when a login password is set.
  void lock_window();
  void put_window_away();
  void create_tray();
  void carry_out_requests();
  void tick();

  UniqueFd exit_signals_;
  Application application_;
  std::unique_ptr<MainWindow> window_;
  QSystemTrayIcon* tray_ = nullptr;
  QTimer supervise_;
  QTimer meters_;
  std::atomic<bool> reload_requested_{false};
  std::atomic<bool> restart_requested_{false};
  bool asking_password_ = false;
  bool asking_exit_ = false;
  bool running_ = false;
};

}  // namespace vx
