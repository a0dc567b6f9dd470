// The "Advanced Format Settings" panel in Qt: six tabs drawn from the toolkit-free records of an
// AdvancedFormatSettings and read back into them. Which tab and control is usable comes from the
// records; the panel only draws it, and OK and Cancel keep or discard the edits.
#pragma once

#include <QDialog>

#include <vector>

#include "settings/advanced_format.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace vx {

class CellTable;

// The modeless "Advanced Format Settings" panel over the channel editor: draws the six tab
// records of an AdvancedFormatSettings and reads the widgets back into them.
class AdvancedSettingsDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit AdvancedSettingsDialog(AdvancedFormatSettings& settings, QWidget* parent = nullptr);
  ~AdvancedSettingsDialog() override;

  // Draws every tab from the record (after the record was loaded or changed), enable rules
  // included.
  void show_settings();
  // Reads every widget into the record; a table cell being edited is committed first.
  void read_settings();

  // Cancel, Escape and the window's close button: the record is loaded again from the
  // remembered channel, which discards the edits, and the panel hides.
  void reject() override;

 private:
  QWidget* make_mpegts_input_page();
  QWidget* make_mpegts_output_page();
  QWidget* make_rtmp_page();
  QWidget* make_hls_page();
  QWidget* make_srt_page();
  QWidget* make_custom_page();
  void connect_signals();

  void show_tables();
  void read_tables();
  void show_enable_rules();
  void add_input_row();
  void add_output_program();
  void remove_input_row();
  void remove_output_program();

  AdvancedFormatSettings& settings_;
  QTabWidget* tabs_ = nullptr;

  CellTable* mpegts_in_table_ = nullptr;
  QPushButton* mpegts_in_add_ = nullptr;
  QPushButton* mpegts_in_remove_ = nullptr;

  QWidget* mpegts_out_page_ = nullptr;
  CellTable* mpegts_out_table_ = nullptr;
  QPushButton* mpegts_out_add_ = nullptr;
  QPushButton* mpegts_out_remove_ = nullptr;
  QLineEdit* pmt_pid_ = nullptr;
  QLineEdit* provider_ = nullptr;
  QLineEdit* video_pid_ = nullptr;
  QLineEdit* audio_pid_ = nullptr;
  QLineEdit* subtitle_pid_ = nullptr;
  QCheckBox* fec_on_ = nullptr;
  // "Column" and "Row" with their labels.
  QWidget* fec_matrix_ = nullptr;
  QSpinBox* fec_columns_ = nullptr;
  QSpinBox* fec_rows_ = nullptr;

  QWidget* rtmp_page_ = nullptr;
  QLineEdit* rtmp_flash_ver_ = nullptr;
  QLineEdit* rtmp_swf_url_ = nullptr;
  QLineEdit* rtmp_user_ = nullptr;
  QLineEdit* rtmp_passwd_ = nullptr;

  QWidget* hls_page_ = nullptr;
  QRadioButton* hls_mpegts_ = nullptr;
  QRadioButton* hls_fmp4_ = nullptr;
  QSpinBox* hls_segment_length_ = nullptr;
  QSpinBox* hls_playlist_size_ = nullptr;
  QSpinBox* hls_index_start_ = nullptr;
  QLineEdit* hls_base_url_ = nullptr;
  QLineEdit* hls_key_info_file_ = nullptr;
  QLabel* hls_master_label_ = nullptr;
  QLineEdit* hls_master_name_ = nullptr;

  QWidget* srt_page_ = nullptr;
  QRadioButton* srt_caller_ = nullptr;
  QRadioButton* srt_listener_ = nullptr;
  QLineEdit* srt_remote1_ = nullptr;
  QComboBox* srt_local1_ = nullptr;
  QLineEdit* srt_remote2_ = nullptr;
  QComboBox* srt_local2_ = nullptr;
  QRadioButton* srt_main_backup_ = nullptr;
  QRadioButton* srt_broadcast_ = nullptr;
  QSpinBox* srt_minstable_timeout_ = nullptr;
  // Every SRT control but the mode, with the labels: usable in caller mode only.
  std::vector<QWidget*> srt_caller_widgets_;

  QPlainTextEdit* custom_source_ = nullptr;
  QPlainTextEdit* custom_target_ = nullptr;
};

}  // namespace vx
