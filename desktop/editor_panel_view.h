// The editor panel's controls in Qt: target format and address, the video and audio groups, the
// mux settings and the target tabs. It draws an EditorValues record and the EditorControls
// answer, hands back what the operator typed, and reports every choice through a signal; the
// window passes each choice to the toolkit-free EditorPanel and ChannelEditor and draws what
// they return. The panel decides nothing.
#pragma once

#include <QWidget>

#include <string>
#include <string_view>
#include <vector>

#include "window_logic/channel_editor.h"
#include "window_logic/editor_controls.h"
#include "settings/editor_values.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;

namespace vx {

class EditorPanelView final : public QWidget {
  Q_OBJECT

 public:
  explicit EditorPanelView(QWidget* parent = nullptr);
  ~EditorPanelView() override;

  // Shows every value; no signal is raised by it.
  void show_values(const EditorValues& values);
  // What the operator typed into the edits and editable combos, and the audio Channel entry,
  // into the record (the other lists and boxes reach it through the signals only).
  void read_values(EditorValues& values) const;
  // Which controls are usable and shown.
  void apply_controls(const EditorControls& controls);
  // The target tabs; `shown` false hides the strip (the format carries one target).
  void show_tabs(const TargetTabs& tabs, bool shown);
  // Puts the keyboard focus on a control by its refusal name (kTargetUrlControl, ...).
  void focus_control(std::string_view control);
  // The Target URL the operator sees, for a browse result to fill.
  void set_target_url(const std::string& url);

 signals:
  void targetFormatChosen(int entry);
  void videoEncodingChosen(int entry);
  void audioEncodingChosen(int entry);
  void frameSizeChosen(int entry);
  void cbrToggled(bool on);
  void videoEnableToggled(bool on);
  void audioEnableToggled(bool on);
  // A tab was chosen (TargetTabs positions, "+" and "-" included).
  void tabChosen(int position);
  void formatAdvancedClicked();
  void videoAdvancedClicked();
  void audioAdvancedClicked();
  void browseClicked();

 private:
  QGroupBox* make_target_group();
  QGroupBox* make_video_group();
  QGroupBox* make_audio_group();
  void align_label_columns();
  void connect_signals();

  QTabBar* tabs_ = nullptr;
  QComboBox* target_format_ = nullptr;
  QPushButton* format_advanced_ = nullptr;
  QLineEdit* target_url_ = nullptr;
  QPushButton* browse_ = nullptr;

  QCheckBox* video_enable_ = nullptr;
  QComboBox* video_encoding_ = nullptr;
  QPushButton* video_advanced_ = nullptr;
  QComboBox* frame_size_ = nullptr;
  QLineEdit* width_ = nullptr;
  QLineEdit* height_ = nullptr;
  QComboBox* frame_rate_ = nullptr;
  QLabel* quality_label_ = nullptr;
  QComboBox* quality_ = nullptr;
  QLabel* quality_unit_ = nullptr;
  QComboBox* video_bitrate_ = nullptr;
  QLineEdit* key_frame_interval_ = nullptr;
  QLabel* mux_bitrate_label_ = nullptr;
  QLineEdit* mux_bitrate_ = nullptr;
  QLabel* mux_bitrate_unit_ = nullptr;
  QCheckBox* cbr_ = nullptr;

  QCheckBox* audio_enable_ = nullptr;
  QComboBox* audio_encoding_ = nullptr;
  QPushButton* audio_advanced_ = nullptr;
  QComboBox* sample_rate_ = nullptr;
  QComboBox* audio_channels_ = nullptr;
  QComboBox* audio_bitrate_ = nullptr;

  // The grids whose first column holds the row labels, lined up across the groups.
  std::vector<QGridLayout*> label_grids_;
};

}  // namespace vx
