// The advanced video settings panel in Qt: the encoder tab, the Crop/Pad, Blur/Sharpen and
// Overlay picture filter tabs and the Misc tab, each drawn from its record of a VideoSettingsTabs
// and read back into it. Loading and saving the channel stay with the records' host.
#pragma once

#include <QDialog>

#include "settings/video_filter_tabs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace vx {

// The modeless "Advanced Video Settings" panel: draws the encoder, picture filter and Misc tab
// records of a VideoSettingsTabs and reads the widgets back into them.
class VideoSettingsDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit VideoSettingsDialog(VideoSettingsTabs& tabs, QWidget* parent = nullptr);
  ~VideoSettingsDialog() override;

  // Draws every tab from the records (after tabs.host.load_channel), enable rules included.
  void show_settings();
  // Reads every widget into the records.
  void read_settings();

  // OK and Cancel (and Escape) both keep what the operator set; nothing is reverted.
  void accept() override;
  void reject() override;

 private:
  QWidget* make_encoder_page();
  QWidget* make_crop_pad_page();
  QWidget* make_blur_sharpen_page();
  QWidget* make_overlay_page();
  QWidget* make_misc_page();

  void show_encoder();
  void show_preset();
  void show_crop_pad();
  void show_blur_sharpen();
  void show_overlay();
  void show_overlay_colour();
  void show_misc();

  void read_encoder();
  void read_preset_number();
  void read_crop_pad();
  void read_blur_sharpen();
  void read_overlay();
  void read_misc();

  void browse_overlay_file();
  void choose_overlay_colour();

  VideoSettingsTabs& tabs_;
  QTabWidget* pages_ = nullptr;

  QWidget* encoder_page_ = nullptr;
  QComboBox* profile_ = nullptr;
  QComboBox* level_ = nullptr;
  QComboBox* threads_ = nullptr;
  QSlider* preset_slider_ = nullptr;
  QLineEdit* preset_number_ = nullptr;
  QLabel* preset_name_ = nullptr;

  QCheckBox* crop_enable_ = nullptr;
  QRadioButton* crop_ = nullptr;
  QRadioButton* pad_ = nullptr;
  QLineEdit* crop_left_ = nullptr;
  QLineEdit* crop_top_ = nullptr;
  QLineEdit* crop_right_ = nullptr;
  QLineEdit* crop_bottom_ = nullptr;

  QCheckBox* blur_enable_ = nullptr;
  QRadioButton* blur_ = nullptr;
  QRadioButton* sharpen_ = nullptr;
  QLineEdit* blur_radius_ = nullptr;
  QSlider* blur_radius_slider_ = nullptr;
  QLineEdit* blur_strength_ = nullptr;
  QSlider* blur_strength_slider_ = nullptr;

  QCheckBox* overlay_enable_ = nullptr;
  QLineEdit* overlay_file_ = nullptr;
  QPushButton* overlay_browse_ = nullptr;
  QLineEdit* overlay_text_ = nullptr;
  QSpinBox* overlay_font_size_ = nullptr;
  QPushButton* overlay_color_ = nullptr;
  QRadioButton* overlay_left_ = nullptr;
  QRadioButton* overlay_right_ = nullptr;
  QLineEdit* overlay_horizontal_ = nullptr;
  QRadioButton* overlay_top_ = nullptr;
  QRadioButton* overlay_bottom_ = nullptr;
  QLineEdit* overlay_vertical_ = nullptr;

  QCheckBox* misc_aspect_ = nullptr;
  QComboBox* misc_scan_type_ = nullptr;
  QSpinBox* misc_gpu_number_ = nullptr;
  QComboBox* misc_decoder_ = nullptr;
};

}  // namespace vx
