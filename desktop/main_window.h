// The main window: a thin assembly of the channel list with the standby list under it, the
// editor panel, the logo panel, the load meters and the command buttons. It is the supervisor's
// view (the rows follow the ticks) and forwards every command to the toolkit-free editing workflow
// (ChannelEditor, EditorPanel, SourceCells) or to the supervisor, then draws what they return and
// shows their messages once they have let the core lock go.
#pragma once

#include <QWidget>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/application.h"
#include "settings/video_filter_tabs.h"
#include "window_logic/channel_commands.h"
#include "window_logic/channel_editor.h"
#include "window_logic/editor_controls.h"
#include "window_logic/editor_panel.h"
#include "window_logic/source_cells.h"
#include "window_logic/standby_list.h"

class QAction;
class QDialog;
class QStackedLayout;
class QPushButton;
class QToolButton;
class QLabel;

namespace vx {

class ChannelListView;
class EditorPanelView;
class StandbyListView;
class AdvancedSettingsDialog;
class VideoSettingsDialog;
class LoadMeter;
class LogoPanel;
enum class HoverCommand;

class MainWindow final : public QWidget, public SupervisorView {
  Q_OBJECT

 public:
  // `with_exit_command`: the desktop has no tray, so the window offers Exit itself.
  MainWindow(Application& application, bool with_exit_command, QWidget* parent = nullptr);
  ~MainWindow() override;

  // SupervisorView: called on this thread with the core lock held; they only draw.
  void rows_rebuilt(int count) override;
  void row_changed(int row, ChannelState state, const std::string& text) override;
  void row_texts_changed(int row) override;
  void refresh_panel() override;

  // The figures of the CPU and GPU meters (the 1 s timer).
  void show_loads(const LoadFigures& figures);
  // The same timer, once a second: the rows' histories, and every kThumbnailSeconds the running
  // channels' thumbnails, read only while the window is on the screen and open. Drawn in the same
  // paint as the meters.
  void glance_tick();
  // From now on a close request closes (the program is ending); before, it only hides.
  void allow_close() { closing_allowed_ = true; }

  // A locked window shows a cover instead of its contents and takes no keys; it is locked while
  // it is off the screen when a login password is set, and unlocked once it has been given.
  void set_locked(bool locked);
  bool locked() const { return locked_; }

  // The NDI runtime the source picker searches with instead of the usual one (tests).
  void use_ndi_library(std::string library) { ndi_library_ = std::move(library); }

  // The pieces, for the tests.
  ChannelListView& channel_list() { return *list_; }
  EditorPanelView& panel_view() { return *panel_view_; }
  StandbyListView& standby_view() { return *standby_view_; }
  ChannelEditor& editor() { return *editor_; }

 signals:
  // Ctrl+Q or the Exit button: end the program.
  void exitRequested();
  // The window was minimised or hidden.
  void wentAway();
  // The window came back on the screen while locked (the desktop restored or mapped it).
  void cameBack();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QWidget* build_editor_column();
  QWidget* build_command_row();
  void connect_list();
  void connect_panel();
  void connect_standby();

  // Everything the operator typed goes into the records before any of them is asked anything.
  void read_inputs();
  void show_outcome(const EditorOutcome& outcome);
  void apply_row_changes(const RowChanges& rows);
  void draw_cells();
  void draw_standby();
  // Which controls the editor offers now.
  EditorControls current_controls() const;
  void show_editor_state();
  void show_panel_change(const PanelChange& change);
  void show_message(const DialogMessage& message);
  void follow_advanced_panels(const AdvancedPanels& open);
  void open_over_editor(QDialog& panel);
  void focus_control(const std::string& control);
  EditorEnvironment environment();

  void select_row(int row);
  void rebuild_list();
  // The rows' histories and, with `with_pictures`, their thumbnails, while the window is on the
  // screen.
  void show_glances(bool with_pictures);
  // Whether the window is on the screen and open; coming back, it shows the glances at once.
  void follow_screen();
  void start_channel(CommandOrigin origin, std::optional<int> hovered);
  void stop_channel(CommandOrigin origin, std::optional<int> hovered);
  void run_hover_command(HoverCommand command, int row);
  void browse_source(QPoint below_left);
  void browse_source_path(QPoint below_left);
  void pick_capture_device();
  void pick_decklink_source();
  void pick_ndi_source();
  void browse_target();
  void pick_decklink_target();
  void remove_channel();
  void open_preview();
  void show_global_settings();
  void show_audio_settings();

  Application& application_;
  Supervisor& supervisor_;
  EditorPanel panel_;
  SourceCells cells_;
  StandbyList standby_;
  AdvancedFormatSettings advanced_format_;
  VideoSettingsTabs video_tabs_;
  std::unique_ptr<ChannelEditor> editor_;
  std::set<std::string> encoders_;
  std::string ndi_library_;  // "" for the usual NDI runtime

  ChannelListView* list_ = nullptr;
  EditorPanelView* panel_view_ = nullptr;
  StandbyListView* standby_view_ = nullptr;
  AdvancedSettingsDialog* format_dlg_ = nullptr;
  VideoSettingsDialog* video_dlg_ = nullptr;
  LoadMeter* cpu_meter_ = nullptr;
  LoadMeter* gpu_meter_ = nullptr;
  QWidget* gpu_frame_ = nullptr;
  LogoPanel* about_ = nullptr;
  QPushButton* new_button_ = nullptr;
  QPushButton* edit_button_ = nullptr;
  QPushButton* apply_button_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  QPushButton* remove_button_ = nullptr;
  QToolButton* start_button_ = nullptr;
  QToolButton* stop_button_ = nullptr;
  QAction* exit_action_ = nullptr;
  QStackedLayout* pages_ = nullptr;  // the contents, or the cover while locked
  QWidget* contents_ = nullptr;
  QWidget* cover_ = nullptr;
  bool on_screen_ = false;
  int glance_ticks_ = 0;  // seconds since the pictures were last read

  // While the window draws an outcome, the list's own selection signals are not new input.
  bool drawing_ = false;
  bool closing_allowed_ = false;
  bool locked_ = false;
  bool with_exit_command_ = false;
};

}  // namespace vx
