#include "desktop/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "desktop/advanced_settings_dialog.h"
#include "desktop/audio_settings_dialog.h"
#include "desktop/channel_list_view.h"
#include "desktop/device_picker_dialogs.h"
#include "desktop/editor_panel_view.h"
#include "desktop/global_settings_dialog.h"
#include "desktop/load_meter.h"
#include "desktop/logo_panel.h"
#include "desktop/message_boxes.h"
#include "desktop/qt_text.h"
#include "desktop/standby_list_view.h"
#include "desktop/video_settings_dialog.h"
#include "platform/host.h"
#include "vocabulary/channel_glance.h"
#include "vocabulary/product.h"
#include "window_logic/channel_commands.h"
#include "window_logic/channel_glance.h"
#include "window_logic/channel_rows.h"
#include "window_logic/device_pickers.h"
#include "window_logic/editor_controls.h"

namespace vx {
namespace {

QPushButton* command_button(const char* name, const char* text, const char* picture,
                            const char* tip) {
  auto* button = new QPushButton(QIcon(QString(":/pictures/") + picture), text);
  button->setObjectName(name);
  button->setAutoDefault(false);
  if (tip != nullptr) button->setToolTip(tip);
  return button;
}

// Start and Stop: the command on the button, the "all channels" command in its menu.
QToolButton* split_button(const char* name, const char* text, const char* picture, const char* tip,
                          QAction* all_channels) {
  auto* button = new QToolButton;
  button->setObjectName(name);
  button->setText(text);
  button->setIcon(QIcon(QString(":/pictures/") + picture));
  button->setToolTip(tip);
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setPopupMode(QToolButton::MenuButtonPopup);
  auto* menu = new QMenu(button);
  menu->addAction(all_channels);
  button->setMenu(menu);
  button->setMinimumHeight(28);
  return button;
}

}  // namespace

MainWindow::MainWindow(Application& application, bool with_exit_command, QWidget* parent)
    : QWidget(parent),
      application_(application),
      supervisor_(application.supervisor()),
      cells_([this] { return list_ != nullptr ? list_->row_count() : 0; }),
      with_exit_command_(with_exit_command) {
  EditorHooks hooks;
  hooks.row_state = [this](int row) { return supervisor_.row_state(row); };
  hooks.commit_configuration = commit_configuration;
  hooks.channel_appended = [this](int) { supervisor_.add_row(); };
  hooks.channel_removed = [this](int row) { supervisor_.remove_row(row); };
  editor_ = std::make_unique<ChannelEditor>(
      EditorParts{panel_, cells_, advanced_format_, video_tabs_.host, standby_}, std::move(hooks));
  advanced_format_.local_addresses = local_ipv4_addresses();
  // Asked once: ffmpeg answers from the user's cache after its first run.
  encoders_ = available_encoders();

  setWindowTitle(kApplicationTitle);
  list_ = new ChannelListView;
  cpu_meter_ = new LoadMeter;
  gpu_meter_ = new LoadMeter;

  auto* cpu_frame = new QGroupBox("CPU");
  (new QHBoxLayout(cpu_frame))->addWidget(cpu_meter_);
  auto* gpu_frame = new QGroupBox("GPU");
  (new QHBoxLayout(gpu_frame))->addWidget(gpu_meter_);
  gpu_frame_ = gpu_frame;
  gpu_frame_->hide();  // shown once the engine measures a GPU

  // The standby sources stand under the channel list, where the edited row's source is typed.
  standby_view_ = new StandbyListView;
  auto* left = new QVBoxLayout;
  left->addWidget(list_, 1);
  left->addWidget(standby_view_);
  auto* meters = new QHBoxLayout;
  meters->addWidget(cpu_frame, 1);
  meters->addWidget(gpu_frame);
  left->addLayout(meters);
  left->addWidget(build_command_row());

  contents_ = new QWidget;
  contents_->setObjectName("window_contents");
  auto* columns = new QHBoxLayout(contents_);
  columns->addLayout(left, 1);
  columns->addWidget(build_editor_column());
  auto* cover = new QLabel(QString("%1 is locked. Its password opens it.").arg(kProductName));
  cover->setObjectName("lock_cover");
  cover->setAlignment(Qt::AlignCenter);
  cover_ = cover;
  pages_ = new QStackedLayout(this);
  pages_->setContentsMargins(0, 0, 0, 0);
  pages_->addWidget(contents_);
  pages_->addWidget(cover_);

  exit_action_ = new QAction("E&xit", this);
  exit_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  exit_action_->setShortcutContext(Qt::WindowShortcut);
  connect(exit_action_, &QAction::triggered, this, &MainWindow::exitRequested);
  addAction(exit_action_);

  format_dlg_ = new AdvancedSettingsDialog(advanced_format_, this);
  video_dlg_ = new VideoSettingsDialog(video_tabs_, this);
  connect_list();
  connect_panel();
  connect_standby();
  // The window never becomes smaller than this. It opens wider by the list's picture and history
  // columns, so they stand beside a source address of fair length.
  resize(sizeHint().expandedTo(QSize(980, 600)));
  setMinimumSize(size());
  resize(size() + QSize(list_->glance_width(), 0));
  draw_standby();
  show_editor_state();
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::build_editor_column() {
  auto* column = new QWidget;
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  about_ = new LogoPanel;
  panel_view_ = new EditorPanelView;
  layout->addWidget(about_);
  layout->addWidget(panel_view_);
  layout->addStretch(1);

  new_button_ = command_button("new_channel", " &New Channel", "create.png",
                               "Create a new transcoding channel");
  remove_button_ = command_button("remove_channel", "&Remove Channel", "remove.png",
                                  "Remove selected transcoding channel");
  edit_button_ = command_button("edit", "&Edit", "edit.png",
                                "Modify transcoding settings on selected channel");
  apply_button_ =
      command_button("apply", "&Apply", "apply.png", "Apply transcoding channel settings");
  cancel_button_ = command_button("cancel", "&Cancel", "cancel.png",
                                  "Cancel modifying transcoding channel settings");
  auto* channel_row = new QHBoxLayout;
  channel_row->addWidget(new_button_);
  channel_row->addWidget(remove_button_);
  auto* edit_row = new QHBoxLayout;
  edit_row->addWidget(edit_button_);
  edit_row->addWidget(apply_button_);
  edit_row->addWidget(cancel_button_);
  layout->addLayout(channel_row);
  layout->addLayout(edit_row);

  connect(new_button_, &QPushButton::clicked, this, [this] {
    read_inputs();
    show_outcome(editor_->new_channel());
  });
  connect(edit_button_, &QPushButton::clicked, this, [this] {
    if (const std::optional<int> row = list_->selected_row()) {
      read_inputs();
      show_outcome(editor_->edit(*row));
    }
  });
  connect(apply_button_, &QPushButton::clicked, this, [this] {
    read_inputs();
    show_outcome(editor_->apply());
  });
  connect(cancel_button_, &QPushButton::clicked, this, [this] {
    read_inputs();
    show_outcome(editor_->cancel());
  });
  connect(remove_button_, &QPushButton::clicked, this, &MainWindow::remove_channel);
  column->setFixedWidth(column->sizeHint().width());
  return column;
}

QWidget* MainWindow::build_command_row() {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);

  auto* start_all = new QAction("Start All Channels", this);
  auto* stop_all = new QAction("Stop All Channels", this);
  start_button_ = split_button("start_channel", "&Start Channel", "start.png",
                               "Start transcoding on selected channel", start_all);
  stop_button_ = split_button("stop_channel", "S&top Channel", "stop.png",
                              "Stop transcoding on selected channel", stop_all);
  auto* preview = command_button("preview", "Preview", "preview.png", nullptr);
  auto* settings =
      command_button("global_settings", "&Global Settings...", "settings.png", nullptr);
  auto* manual = command_button("online_manual", "Online Manual", "help.png", nullptr);
  for (QWidget* button : {static_cast<QWidget*>(start_button_), static_cast<QWidget*>(stop_button_),
                          static_cast<QWidget*>(preview), static_cast<QWidget*>(settings),
                          static_cast<QWidget*>(manual)})
    layout->addWidget(button);
  if (with_exit_command_) {
    auto* exit_button = command_button("exit", "E&xit", "stop.png", "End Vantorix (Ctrl+Q)");
    connect(exit_button, &QPushButton::clicked, this, &MainWindow::exitRequested);
    layout->addWidget(exit_button);
  }
  layout->addStretch(1);

  connect(start_button_, &QToolButton::clicked, this,
          [this] { start_channel(CommandOrigin::button, std::nullopt); });
  connect(stop_button_, &QToolButton::clicked, this,
          [this] { stop_channel(CommandOrigin::button, std::nullopt); });
  connect(start_all, &QAction::triggered, this, [this] {
    supervisor_.start_all();
    list_->refresh_hover_buttons();
  });
  connect(stop_all, &QAction::triggered, this, [this] {
    supervisor_.stop_all();
    list_->refresh_hover_buttons();
  });
  connect(preview, &QPushButton::clicked, this, &MainWindow::open_preview);
  connect(settings, &QPushButton::clicked, this, &MainWindow::show_global_settings);
  connect(manual, &QPushButton::clicked, this,
          [] { QDesktopServices::openUrl(QUrl(QString(kManualAddress))); });
  return row;
}

void MainWindow::connect_list() {
  list_->set_hover_rule([this](int row) {
    return hover_buttons(supervisor_.row_state(row), supervisor_.row_plays_a_folder(row),
                         cells_.open_row() == row);
  });
  connect(list_, &ChannelListView::rowSelected, this, &MainWindow::select_row);
  connect(list_, &ChannelListView::editRequested, this, [this](int row) {
    if (editor_->editing()) return;
    read_inputs();
    show_outcome(editor_->edit(row));
  });
  connect(list_, &ChannelListView::hoverCommand, this, &MainWindow::run_hover_command);
  connect(list_, &ChannelListView::sourceTypeChosen, this, [this](int type) {
    read_inputs();
    cells_.choose_type(static_cast<SourceType>(type));
    draw_cells();
  });
  connect(list_, &ChannelListView::browseRequested, this, &MainWindow::browse_source);
}

void MainWindow::connect_panel() {
  EditorPanelView* view = panel_view_;
  connect(view, &EditorPanelView::targetFormatChosen, this, [this](int entry) {
    read_inputs();
    const PanelChange change =
        panel_.choose_target_format(entry, environment(), editor_->editing_channel());
    show_panel_change(change);
    if (change.targets_reset) show_outcome(editor_->target_format_changed());
  });
  connect(view, &EditorPanelView::videoEncodingChosen, this, [this](int entry) {
    read_inputs();
    show_panel_change(
        panel_.choose_video_encoding(entry, environment(), editor_->editing_channel()));
  });
  connect(view, &EditorPanelView::audioEncodingChosen, this, [this](int entry) {
    read_inputs();
    show_panel_change(
        panel_.choose_audio_encoding(entry, environment(), editor_->editing_channel()));
  });
  connect(view, &EditorPanelView::frameSizeChosen, this, [this](int entry) {
    read_inputs();
    show_panel_change(panel_.choose_frame_size(entry, editor_->editing_channel()));
  });
  connect(view, &EditorPanelView::cbrToggled, this, [this](bool on) {
    read_inputs();
    show_panel_change(panel_.set_cbr(on));
  });
  const auto media_toggled = [this](MediaKind media, bool on) {
    read_inputs();
    (media == MediaKind::video ? panel_.values().video_enable : panel_.values().audio_enable) = on;
    show_outcome(editor_->set_media_enabled(media, on));
  };
  connect(view, &EditorPanelView::videoEnableToggled, this,
          [media_toggled](bool on) { media_toggled(MediaKind::video, on); });
  connect(view, &EditorPanelView::audioEnableToggled, this,
          [media_toggled](bool on) { media_toggled(MediaKind::audio, on); });
  connect(view, &EditorPanelView::tabChosen, this, [this](int position) {
    read_inputs();
    show_outcome(editor_->select_tab(position));
  });
  connect(view, &EditorPanelView::browseClicked, this, &MainWindow::browse_target);
  connect(view, &EditorPanelView::audioAdvancedClicked, this, &MainWindow::show_audio_settings);
  connect(view, &EditorPanelView::formatAdvancedClicked, this, [this] {
    read_inputs();
    show_outcome(editor_->show_advanced_format());
    if (editor_->advanced_panels().format) {
      format_dlg_->show_settings();
      open_over_editor(*format_dlg_);
    }
  });
  connect(view, &EditorPanelView::videoAdvancedClicked, this, [this] {
    read_inputs();
    show_outcome(editor_->show_advanced_video());
    if (editor_->advanced_panels().video) {
      video_dlg_->show_settings();
      open_over_editor(*video_dlg_);
    }
  });
  // The panels read their widgets into their records before they close.
  connect(video_dlg_, &QDialog::accepted, this,
          [this] { show_outcome(editor_->advanced_video_ok()); });
  connect(format_dlg_, &QDialog::rejected, this,
          [this] { show_outcome(editor_->advanced_format_cancelled()); });
}

void MainWindow::connect_standby() {
  StandbyListView* view = standby_view_;
  connect(view, &StandbyListView::addClicked, this, [this] {
    read_inputs();
    standby_.add_row();
    draw_standby();
    standby_view_->focus_control(
        standby_address_control(static_cast<int>(standby_.fields.sources.size())));
  });
  connect(view, &StandbyListView::removeClicked, this, [this](int row) {
    read_inputs();
    standby_.remove_row(row);
    draw_standby();
  });
  connect(view, &StandbyListView::moveClicked, this, [this](int row, int by) {
    read_inputs();
    standby_.move_row(row, by);
    draw_standby();
  });
  connect(view, &StandbyListView::typeChosen, this, [this](int row, int type) {
    read_inputs();
    standby_.choose_type(row, static_cast<SourceType>(type));
    draw_standby();
  });
}

// ----- the supervisor's view ----------------------------------------------------------------

void MainWindow::rows_rebuilt(int count) {
  (void)count;
  rebuild_list();
  // The selection and the panel follow once the supervisor has let the core lock go. The row the
  // operator had selected stays selected while it exists.
  QMetaObject::invokeMethod(
      this,
      [this] {
        std::optional<int> row = editor_->selected_row();
        if (!row || *row >= list_->row_count()) {
          row = list_->row_count() > 0 ? std::optional<int>(0) : std::nullopt;
        }
        drawing_ = true;
        list_->select_row(row);
        drawing_ = false;
        read_inputs();
        show_outcome(editor_->select_row(row));
      },
      Qt::QueuedConnection);
}

void MainWindow::row_changed(int row, ChannelState state, const std::string& text) {
  list_->set_row_state(row, state, text);
}

void MainWindow::row_texts_changed(int row) {
  if (const std::optional<ChannelRowTexts> texts = stored_channel_row_texts(row)) {
    list_->set_row_texts(row, *texts);
  }
}

void MainWindow::refresh_panel() {
  EditorControls controls = current_controls();
  panel_view_->apply_controls(controls);
  new_button_->setEnabled(controls.new_channel.enabled);
  edit_button_->setEnabled(controls.edit.enabled);
  apply_button_->setEnabled(controls.apply.enabled);
  cancel_button_->setEnabled(controls.cancel.enabled);
  remove_button_->setEnabled(controls.remove_channel.enabled);
}

void MainWindow::show_loads(const LoadFigures& figures) {
  cpu_meter_->set_loads(figures.cpu);
  gpu_frame_->setVisible(figures.gpu.has_value());
  if (figures.gpu) gpu_meter_->set_loads({*figures.gpu});
}

// ----- drawing what the workflow returns ----------------------------------------------------

void MainWindow::read_inputs() {
  panel_view_->read_values(panel_.values());
  standby_view_->read_fields(standby_.fields);
  if (format_dlg_->isVisible()) format_dlg_->read_settings();
  if (video_dlg_->isVisible()) video_dlg_->read_settings();
  if (cells_.open_row()) list_->read_cells(cells_);
}

void MainWindow::show_outcome(const EditorOutcome& outcome) {
  drawing_ = true;
  apply_row_changes(outcome.rows);
  panel_view_->show_values(panel_.values());
  draw_cells();
  draw_standby();
  show_editor_state();
  follow_advanced_panels(outcome.advanced);
  drawing_ = false;
  for (const DialogMessage& message : outcome.messages)
    show_message(message);
  if (!outcome.focus.empty()) focus_control(outcome.focus);
}

void MainWindow::apply_row_changes(const RowChanges& rows) {
  if (rows.rebuild) rebuild_list();
  if (rows.removed) list_->remove_row(*rows.removed);
  if (rows.added && editor_->editing_channel() != nullptr) {
    list_->add_row(channel_row_texts(editor_->editing_channel(), *rows.added));
  }
  if (!rows.redrawn.empty()) {
    for (const int row : rows.redrawn) {
      if (const std::optional<ChannelRowTexts> texts = stored_channel_row_texts(row)) {
        list_->set_row_texts(row, *texts);
      }
    }
  }
  if (rows.selected) {
    list_->select_row(*rows.selected);
  } else if (rows.none_selected) {
    list_->select_row(std::nullopt);
  }
}

void MainWindow::draw_cells() {
  list_->show_cells(cells_.open_row(), cells_);
}

void MainWindow::draw_standby() {
  standby_view_->show_fields(standby_.fields, standby_.controls(editor_->edited_row_shown()));
}

EditorControls MainWindow::current_controls() const {
  EditingSituation situation;
  situation.row_selected = list_->selected_row().has_value();
  situation.working_copy = editor_->editing();
  situation.editing_selected_row = editor_->edited_row_shown();
  return editor_controls(panel_.values(), situation);
}

// A panel the workflow closed is hidden; one still open shows its records, which a change of
// row or tab has loaded again.
void MainWindow::follow_advanced_panels(const AdvancedPanels& open) {
  if (!open.format) {
    format_dlg_->hide();
  } else if (format_dlg_->isVisible()) {
    format_dlg_->show_settings();
  }
  if (!open.video) {
    video_dlg_->hide();
  } else if (video_dlg_->isVisible()) {
    video_dlg_->show_settings();
  }
}

// The advanced panels show over the editor area, where the operator was working.
void MainWindow::open_over_editor(QDialog& panel) {
  if (!panel.isVisible()) panel.move(panel_view_->mapToGlobal(QPoint(0, 0)));
  panel.show();
  panel.raise();
  panel.activateWindow();
}

void MainWindow::show_editor_state() {
  panel_view_->show_tabs(editor_->tabs(), current_controls().target_tabs.visible);
  refresh_panel();
}

void MainWindow::show_panel_change(const PanelChange& change) {
  panel_view_->show_values(panel_.values());
  show_editor_state();
  if (change.message) show_message(*change.message);
}

void MainWindow::show_message(const DialogMessage& message) {
  show_dialog_message(this, message);
}

void MainWindow::focus_control(const std::string& control) {
  if (control == kAdvancedFormatPanel) {
    format_dlg_->show_settings();
    open_over_editor(*format_dlg_);
  } else if (control == kSourceAddressControl || control == kSourceBindControl) {
    list_->focus_cell(control);
  } else if (standby_view_->names_control(control)) {
    standby_view_->focus_control(control);
  } else {
    panel_view_->focus_control(control);
  }
}

EditorEnvironment MainWindow::environment() {
  const int row = editor_->editing() ? editor_->edited_row() : list_->selected_row().value_or(0);
  return current_editor_environment(row + 1, encoders_);
}

// ----- rows and commands --------------------------------------------------------------------

void MainWindow::select_row(int row) {
  if (drawing_) return;
  read_inputs();
  show_outcome(editor_->select_row(row >= 0 ? std::optional<int>(row) : std::nullopt));
}

// The rows of the document, with the states the supervisor shows, and the row of a channel
// being created after them.
void MainWindow::rebuild_list() {
  const bool was_drawing = drawing_;
  drawing_ = true;
  list_->clear_rows();
  const std::vector<ChannelRowTexts> stored = stored_channel_row_texts();
  for (std::size_t row = 0; row < stored.size(); ++row) {
    const int index = static_cast<int>(row);
    list_->add_row(stored[row]);
    list_->set_row_state(index, supervisor_.row_state(index), supervisor_.row_text(index));
  }
  if (editor_->editing_new_channel()) {
    list_->add_row(channel_row_texts(editor_->editing_channel(), list_->row_count()));
  }
  draw_cells();
  drawing_ = was_drawing;
  // The new rows' glances once the core lock, which a rebuild may be called under, is let go.
  QMetaObject::invokeMethod(
      this, [this] { show_glances(true); }, Qt::QueuedConnection);
}

void MainWindow::glance_tick() {
  if (!on_screen_) return;
  glance_ticks_ = (glance_ticks_ + 1) % (kThumbnailSeconds / kHistoryIntervalSeconds);
  show_glances(glance_ticks_ == 0);
}

void MainWindow::show_glances(bool with_pictures) {
  // Not on the screen, or unmapped by the desktop behind Qt's back: nothing is read.
  const QWindow* handle = windowHandle();
  if (!on_screen_ || handle == nullptr || !handle->isExposed()) return;
  std::vector<ChannelGlance> glances = channel_glances(list_->row_count(), with_pictures);
  for (std::size_t index = 0; index < glances.size(); ++index) {
    const int row = static_cast<int>(index);
    ChannelGlance& glance = glances[index];
    list_->set_row_history(row, std::move(glance.history));
    // A channel whose transcoder has ended loses its picture at once.
    if (with_pictures || glance.thumbnail_file.empty()) list_->set_row_picture(row, glance.picture);
  }
}

void MainWindow::follow_screen() {
  const bool on_screen = isVisible() && !isMinimized() && !locked_;
  if (on_screen == on_screen_) return;
  on_screen_ = on_screen;
  if (!on_screen) return;
  glance_ticks_ = 0;
  // What happened while the window was away shows at once, after the event that showed it.
  QMetaObject::invokeMethod(
      this, [this] { show_glances(true); }, Qt::QueuedConnection);
}

void MainWindow::start_channel(CommandOrigin origin, std::optional<int> hovered) {
  read_inputs();
  const std::optional<DialogMessage> message =
      start_from_window(supervisor_, origin, list_->selected_row(), hovered);
  list_->refresh_hover_buttons();
  refresh_panel();
  if (message) show_message(*message);
}

void MainWindow::stop_channel(CommandOrigin origin, std::optional<int> hovered) {
  const StopOutcome outcome = stop_from_window(supervisor_, origin, list_->selected_row(), hovered);
  list_->refresh_hover_buttons();
  refresh_panel();
  if (outcome.message) show_message(*outcome.message);
  if (!outcome.question || !outcome.carrier) return;
  QMessageBox question(box_icon(outcome.question->icon), qt_text(outcome.question->title),
                       qt_text(outcome.question->text), QMessageBox::Ok | QMessageBox::Cancel,
                       this);
  if (question.exec() != QMessageBox::Ok) return;
  stop_carrier_from_window(supervisor_, *outcome.carrier);
  list_->refresh_hover_buttons();
  refresh_panel();
}

void MainWindow::run_hover_command(HoverCommand command, int row) {
  switch (command) {
    case HoverCommand::start:
      start_channel(CommandOrigin::hover, row);
      return;
    case HoverCommand::stop:
      stop_channel(CommandOrigin::hover, row);
      return;
    case HoverCommand::previous_file:
      supervisor_.previous_file(row);
      break;
    case HoverCommand::next_file:
      supervisor_.next_file(row);
      break;
  }
  list_->refresh_hover_buttons();
}

void MainWindow::remove_channel() {
  const std::optional<int> row = list_->selected_row();
  if (!row) return;
  read_inputs();
  const EditorOutcome asked = editor_->remove(*row);
  show_outcome(asked);
  if (!asked.question) return;
  QMessageBox question(box_icon(asked.question->icon), qt_text(asked.question->title),
                       qt_text(asked.question->text), QMessageBox::Ok | QMessageBox::Cancel, this);
  if (question.exec() == QMessageBox::Ok) show_outcome(editor_->confirm_remove(*row));
}

// The source cells' "...": a file or a folder, or the picker of the source's device.
void MainWindow::browse_source(QPoint below_left) {
  switch (cells_.browse()) {
    case SourceBrowse::file_menu:
      browse_source_path(below_left);
      return;
    case SourceBrowse::capture_device:
      pick_capture_device();
      return;
    case SourceBrowse::decklink:
      pick_decklink_source();
      return;
    case SourceBrowse::ndi:
      pick_ndi_source();
      return;
    case SourceBrowse::none:
      return;
  }
}

void MainWindow::browse_source_path(QPoint below_left) {
  QMenu menu(this);
  QAction* single_file = menu.addAction("Single File...");
  QAction* folder = menu.addAction("Folder...");
  QAction* chosen = menu.exec(below_left);
  if (chosen == nullptr) return;
  QString path;
  if (chosen == single_file) {
    const PathDialog dialog = source_file_dialog();
    path =
        QFileDialog::getOpenFileName(this, dialog.title, QString(), file_filters(dialog.filters));
  } else if (chosen == folder) {
    path = QFileDialog::getExistingDirectory(this, source_folder_dialog().title);
  }
  if (path.isEmpty()) return;
  read_inputs();
  cells_.take_path(utf8_text(path));
  draw_cells();
}

// The pickers open on what the cells hold now, the typed address included.
void MainWindow::pick_capture_device() {
  read_inputs();
  CaptureDevicePicker picker = CaptureDevicePicker::on_this_machine(cells_.address);
  CaptureDeviceDialog dialog(picker, this);
  if (dialog.exec() != QDialog::Accepted || !dialog.device_text()) return;
  cells_.take_capture_device(*dialog.device_text());
  draw_cells();
}

void MainWindow::pick_decklink_source() {
  read_inputs();
  DeckLinkPicker picker = DeckLinkPicker::on_this_machine(DeckLinkDirection::capture);
  DeckLinkDialog dialog(picker, this);
  if (dialog.exec() != QDialog::Accepted || !dialog.choice()) return;
  cells_.take_decklink(*dialog.choice());
  draw_cells();
}

void MainWindow::pick_ndi_source() {
  read_inputs();
  NdiPicker picker(ndi_library_);
  NdiSourcePicker dialog(picker, this);
  if (dialog.exec() != QDialog::Accepted || !dialog.choice()) return;
  cells_.take_ndi(*dialog.choice());
  draw_cells();
}

// The Target URL's "...": where a file-writing format writes, or the DeckLink card that plays.
void MainWindow::browse_target() {
  const std::optional<TargetFormatEntry> format =
      target_format_entry(panel_.values().target_format);
  if (!format) return;
  if (*format == TargetFormatEntry::decklink) {
    pick_decklink_target();
    return;
  }
  const std::optional<SaveDialog> dialog = target_file_dialog(*format);
  if (!dialog) return;
  QFileDialog chooser(this, dialog->title, QString(), file_filters(dialog->filters));
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setDefaultSuffix(dialog->default_extension);
  if (!dialog->confirm_overwrite) chooser.setOption(QFileDialog::DontConfirmOverwrite);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  read_inputs();
  panel_.values().target_url = utf8_text(chooser.selectedFiles().front());
  panel_view_->set_target_url(panel_.values().target_url);
}

// The web server restarts once the dialog has closed, and the panel shows the channel again
// with the new settings (the choices it offers depend on some of them).
void MainWindow::show_global_settings() {
  read_inputs();
  GlobalSettingsDialog dialog([this] { supervisor_.rebuild_rows(true); }, this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (dialog.restart_web_server()) application_.restart_web_server();
  show_outcome(editor_->reload_panel());
}

// The PCM variant of the shown target, chosen on the working copy.
void MainWindow::show_audio_settings() {
  cJSON* channel = editor_->editing_channel();
  if (channel == nullptr) return;
  read_inputs();
  const int target = editor_->tabs().selected;
  AudioSettingsDialog dialog(open_audio_settings(channel, panel_.values().audio_encoding, target),
                             this);
  if (dialog.exec() == QDialog::Accepted) audio_settings_ok(dialog.settings(), channel, target);
}

// The card becomes the Target URL; its format, when one was chosen, the size and frame rate.
void MainWindow::pick_decklink_target() {
  read_inputs();
  DeckLinkPicker picker = DeckLinkPicker::on_this_machine(DeckLinkDirection::playback);
  DeckLinkDialog dialog(picker, this);
  if (dialog.exec() != QDialog::Accepted || !dialog.choice()) return;
  const std::optional<DeckLinkOutputPick> pick =
      editor_->pick_decklink_output(dialog.choice()->name, dialog.choice()->mode);
  if (!pick) return;
  pick->apply_to(panel_.values());
  panel_view_->show_values(panel_.values());
}

void MainWindow::open_preview() {
  const std::vector<std::string> addresses = application_.web_addresses();
  if (!addresses.empty()) QDesktopServices::openUrl(QUrl(qt_text(addresses.front())));
}

// ----- keys and closing ---------------------------------------------------------------------

void MainWindow::set_locked(bool locked) {
  if (locked == locked_) return;
  locked_ = locked;
  if (locked) {
    // The advanced panels go with the contents; they keep their values.
    format_dlg_->hide();
    video_dlg_->hide();
  }
  pages_->setCurrentWidget(locked ? cover_ : contents_);
  exit_action_->setEnabled(!locked);
  follow_screen();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  follow_screen();
  if (isMinimized()) {
    emit wentAway();
  } else if (locked_ && isVisible()) {
    emit cameBack();
  }
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  follow_screen();
  if (locked_ && !isMinimized()) emit cameBack();
}

void MainWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  follow_screen();
  emit wentAway();
}

// Escape never hides the window: it cancels an edit when Cancel is offered. Enter applies.
void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (locked_) {
    event->accept();
    return;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      if (cancel_button_->isEnabled()) cancel_button_->click();
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (apply_button_->isEnabled()) apply_button_->click();
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

// Closing keeps the channels running: the window goes to the tray, or is minimised when the
// desktop has no tray (the window then offers Exit itself).
void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_allowed_) {
    event->accept();
    return;
  }
  event->ignore();
  // The advanced panels go with the window; they keep their values and open again from it.
  format_dlg_->hide();
  video_dlg_->hide();
  if (with_exit_command_) {
    showMinimized();
  } else {
    hide();
  }
}

}  // namespace vx
