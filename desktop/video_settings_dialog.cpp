#include "desktop/video_settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdint>
#include <iterator>
#include <limits>
#include <span>
#include <string_view>

#include "desktop/qt_text.h"
#include "desktop/widget_kit.h"

namespace vx {
namespace {

constexpr int kSpacing = 6;
// Wide enough for the longest profile ("constrained_baseline") and every level.
constexpr int kListCharacters = 20;
constexpr int kNumberCharacters = 6;

QGridLayout* page_grid(QWidget* page) {
  auto* grid = new QGridLayout(page);
  grid->setHorizontalSpacing(kSpacing);
  grid->setVerticalSpacing(kSpacing);
  return grid;
}

QComboBox* editable_list(std::span<const std::string_view> entries, const char* name,
                         QWidget* parent) {
  QComboBox* box = free_text_list(name, parent);
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box->setMinimumContentsLength(kListCharacters);
  for (std::string_view entry : entries)
    box->addItem(qt_text(entry));
  return box;
}

// A box as wide as its longest number with a digit to spare, as the style frames it.
QLineEdit* number_edit(const char* name, int characters, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  const QFontMetrics metrics = edit->fontMetrics();
  constexpr int kTextMargins = 2 * 2;  // QLineEdit's own margin on each side of the text
  const QSize text(metrics.horizontalAdvance(QString(characters + 1, u'0')) + kTextMargins,
                   metrics.height());
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
  edit->setMaximumWidth(
      edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit).width());
  return edit;
}

// A box that takes digits only.
QLineEdit* digits_edit(const char* name, int characters, QWidget* parent) {
  QLineEdit* edit = number_edit(name, characters, parent);
  edit->setMaxLength(characters);
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  return edit;
}

// A box that takes a whole number with its sign.
QLineEdit* signed_edit(const char* name, QWidget* parent) {
  QLineEdit* edit = number_edit(name, kNumberCharacters, parent);
  edit->setValidator(
      new QIntValidator(std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), edit));
  return edit;
}

QSlider* slider(const char* name, int minimum, int maximum, QWidget* parent) {
  auto* bar = new QSlider(Qt::Horizontal, parent);
  bar->setObjectName(name);
  bar->setRange(minimum, maximum);
  bar->setPageStep(1);
  bar->setTickPosition(QSlider::TicksBelow);
  bar->setTickInterval(1);
  return bar;
}

std::int32_t number_in(const QLineEdit* edit) {
  return edit->text().toInt();
}

void show_number(QLineEdit* edit, std::int32_t number) {
  const QSignalBlocker blocker(edit);
  edit->setText(QString::number(number));
}

void show_position(QSlider* bar, int position) {
  const QSignalBlocker blocker(bar);
  bar->setValue(position);
}

// Every control of a filter tab but its "Enable" box follows that box.
void follow_enable(QCheckBox* enable) {
  const auto controls = enable->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* control : controls)
    if (control != enable) control->setEnabled(enable->isChecked());
}

void link_enable(QCheckBox* enable) {
  QObject::connect(enable, &QCheckBox::toggled, enable, [enable] { follow_enable(enable); });
}

using BlurSetter = void (*)(BlurSharpenFilter&, std::int32_t);

void show_blur_number(QLineEdit* box, QSlider* bar, std::int32_t number) {
  show_number(box, number);
  show_position(bar, number);
}

// A number box beside its slider; `set` puts a number into the record as the slider allows it,
// and the record's `field` is what both then show.
void link_blur_number(QLineEdit* box, QSlider* bar, BlurSharpenFilter& record, BlurSetter set,
                      std::int32_t BlurSharpenFilter::*field) {
  QObject::connect(bar, &QSlider::valueChanged, box, [box, &record, set, field](int position) {
    set(record, position);
    show_number(box, record.*field);
  });
  QObject::connect(box, &QLineEdit::editingFinished, box, [box, bar, &record, set, field] {
    set(record, number_in(box));
    show_blur_number(box, bar, record.*field);
  });
}

QWidget* slider_end(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

}  // namespace

VideoSettingsDialog::VideoSettingsDialog(VideoSettingsTabs& tabs, QWidget* parent)
    : QDialog(parent), tabs_(tabs) {
  setWindowTitle(qt_text(kVideoSettingsTitle));
  setModal(false);
  pages_ = new QTabWidget(this);
  pages_->setObjectName("tabs");
  // Five short captions: every tab stays in sight rather than behind scroll arrows.
  pages_->setUsesScrollButtons(false);
  QWidget* const pages[] = {make_encoder_page(), make_crop_pad_page(), make_blur_sharpen_page(),
                            make_overlay_page(), make_misc_page()};
  for (std::size_t page = 0; page < std::size(pages); ++page)
    pages_->addTab(pages[page], qt_text(kVideoSettingsTabCaptions[page]));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName("ok");
  ok->setDefault(true);
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &VideoSettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &VideoSettingsDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addWidget(buttons);
}

VideoSettingsDialog::~VideoSettingsDialog() = default;

QWidget* VideoSettingsDialog::make_encoder_page() {
  encoder_page_ = new QWidget;
  profile_ = editable_list({}, "encoder_profile", encoder_page_);
  level_ = editable_list(level_choices(), "encoder_level", encoder_page_);
  threads_ = editable_list(thread_choices(), "encoder_threads", encoder_page_);

  auto* preset = new QGroupBox(tr("Encoding Preset"), encoder_page_);
  preset_slider_ = slider("preset_slider", 0, 0, preset);
  preset_number_ = signed_edit("preset_number", preset);
  preset_name_ = new QLabel(preset);
  preset_name_->setObjectName("preset_name");
  auto* preset_grid = page_grid(preset);
  preset_grid->addWidget(slider_end(tr("Better Speed"), preset), 0, 0);
  preset_grid->addWidget(preset_slider_, 0, 1);
  preset_grid->addWidget(slider_end(tr("Better Quality"), preset), 0, 2);
  auto* number_row = new QHBoxLayout;
  number_row->addWidget(label_for(tr("Preset"), preset_number_, preset));
  number_row->addWidget(preset_number_);
  number_row->addWidget(preset_name_, 1);
  preset_grid->addLayout(number_row, 1, 0, 1, 3);
  preset_grid->setColumnStretch(1, 1);

  auto* tip = new QLabel(
      tr("<Tip> Change Encoding Preset to tune video quality in H.264/HEVC/VPX/AV1 encodings. "
         "Lower presets produce more smooth video on slow machines, with the trade-off against "
         "video quality. In most cases, keeping it less than 6 is recommended."),
      encoder_page_);
  tip->setTextFormat(Qt::PlainText);  // "<Tip>" is text, not a tag
  tip->setWordWrap(true);

  QGridLayout* grid = page_grid(encoder_page_);
  grid->addWidget(label_for(tr("Profile"), profile_, encoder_page_), 0, 0);
  grid->addWidget(profile_, 0, 1);
  grid->addWidget(label_for(tr("Level"), level_, encoder_page_), 1, 0);
  grid->addWidget(level_, 1, 1);
  grid->addWidget(label_for(tr("Threads"), threads_, encoder_page_), 2, 0);
  grid->addWidget(threads_, 2, 1);
  grid->addWidget(preset, 3, 0, 1, 3);
  grid->addWidget(tip, 4, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(5, 1);

  connect(preset_slider_, &QSlider::valueChanged, this, [this](int position) {
    tabs_.host.encoder().preset_position = position;
    show_preset();
  });
  connect(preset_number_, &QLineEdit::editingFinished, this, [this] {
    read_preset_number();
    show_position(preset_slider_, tabs_.host.encoder().preset_position);
    show_preset();
  });
  return encoder_page_;
}

QWidget* VideoSettingsDialog::make_crop_pad_page() {
  auto* page = new QWidget;
  crop_enable_ = check_box(tr("Enable"), "crop_enable", page);
  crop_ = radio_button(tr("Crop"), "crop_crop", page);
  pad_ = radio_button(tr("Pad"), "crop_pad", page);
  crop_left_ = digits_edit("crop_left", kNumberCharacters, page);
  crop_top_ = digits_edit("crop_top", kNumberCharacters, page);
  crop_right_ = digits_edit("crop_right", kNumberCharacters, page);
  crop_bottom_ = digits_edit("crop_bottom", kNumberCharacters, page);

  QGridLayout* grid = page_grid(page);
  grid->addWidget(crop_enable_, 0, 0, 1, 4);
  grid->addWidget(crop_, 1, 0, 1, 2);
  grid->addWidget(pad_, 1, 2, 1, 2);
  grid->addWidget(label_for(tr("Left"), crop_left_, page), 2, 0);
  grid->addWidget(crop_left_, 2, 1);
  grid->addWidget(label_for(tr("Top"), crop_top_, page), 2, 2);
  grid->addWidget(crop_top_, 2, 3);
  grid->addWidget(label_for(tr("Right"), crop_right_, page), 3, 0);
  grid->addWidget(crop_right_, 3, 1);
  grid->addWidget(label_for(tr("Bottom"), crop_bottom_, page), 3, 2);
  grid->addWidget(crop_bottom_, 3, 3);
  grid->addWidget(new QLabel(tr("Metric: Pixels"), page), 4, 0, 1, 4);
  grid->setColumnStretch(4, 1);
  grid->setRowStretch(5, 1);
  link_enable(crop_enable_);
  return page;
}

QWidget* VideoSettingsDialog::make_blur_sharpen_page() {
  auto* page = new QWidget;
  BlurSharpenFilter& record = tabs_.blur_sharpen.record;
  blur_enable_ = check_box(tr("Enable"), "blur_enable", page);
  blur_ = radio_button(tr("Blur"), "blur_blur", page);
  sharpen_ = radio_button(tr("Sharpen"), "blur_sharpen", page);
  blur_radius_ = digits_edit("blur_radius", 2, page);
  blur_radius_slider_ = slider("blur_radius_slider", kBlurRadiusMin, kBlurRadiusMax, page);
  blur_strength_ = digits_edit("blur_strength", 2, page);
  blur_strength_slider_ = slider("blur_strength_slider", kBlurStrengthMin, kBlurStrengthMax, page);

  QGridLayout* grid = page_grid(page);
  grid->addWidget(blur_enable_, 0, 0, 1, 5);
  auto* modes = new QHBoxLayout;
  modes->addWidget(blur_);
  modes->addWidget(sharpen_);
  modes->addStretch(1);
  grid->addLayout(modes, 1, 0, 1, 5);
  grid->addWidget(label_for(tr("Radius"), blur_radius_, page), 2, 0);
  grid->addWidget(blur_radius_, 2, 1);
  grid->addWidget(slider_end(QStringLiteral("%1px").arg(kBlurRadiusMin), page), 2, 2);
  grid->addWidget(blur_radius_slider_, 2, 3);
  grid->addWidget(slider_end(QStringLiteral("%1px").arg(kBlurRadiusMax), page), 2, 4);
  grid->addWidget(label_for(tr("Strength"), blur_strength_, page), 3, 0);
  grid->addWidget(blur_strength_, 3, 1);
  grid->addWidget(slider_end(QString::number(kBlurStrengthMin), page), 3, 2);
  grid->addWidget(blur_strength_slider_, 3, 3);
  grid->addWidget(slider_end(QString::number(kBlurStrengthMax), page), 3, 4);
  grid->setColumnStretch(3, 1);
  grid->setRowStretch(4, 1);

  link_enable(blur_enable_);
  link_blur_number(blur_radius_, blur_radius_slider_, record, set_blur_radius,
                   &BlurSharpenFilter::radius);
  link_blur_number(blur_strength_, blur_strength_slider_, record, set_blur_strength,
                   &BlurSharpenFilter::strength);
  return page;
}

QWidget* VideoSettingsDialog::make_overlay_page() {
  auto* page = new QWidget;
  overlay_enable_ = check_box(tr("Enable"), "overlay_enable", page);
  overlay_file_ = new QLineEdit(page);
  overlay_file_->setObjectName("overlay_file");
  overlay_browse_ = new QPushButton(QStringLiteral("..."), page);
  overlay_browse_->setObjectName("overlay_browse");
  overlay_browse_->setFixedWidth(overlay_browse_->sizeHint().height() + 2 * kSpacing);
  overlay_text_ = new QLineEdit(page);
  overlay_text_->setObjectName("overlay_text");
  overlay_font_size_ = new QSpinBox(page);
  overlay_font_size_->setObjectName("overlay_font_size");
  overlay_font_size_->setRange(kOverlayFontSizeMin, kOverlayFontSizeMax);
  overlay_color_ = new QPushButton(tr("Color"), page);
  overlay_color_->setObjectName("overlay_color");
  overlay_left_ = radio_button(tr("Left"), "overlay_left", page);
  overlay_right_ = radio_button(tr("Right"), "overlay_right", page);
  overlay_horizontal_ = signed_edit("overlay_horizontal", page);
  overlay_top_ = radio_button(tr("Top"), "overlay_top", page);
  overlay_bottom_ = radio_button(tr("Bottom"), "overlay_bottom", page);
  overlay_vertical_ = signed_edit("overlay_vertical", page);
  pair_up(overlay_left_, overlay_right_);
  pair_up(overlay_top_, overlay_bottom_);

  QGridLayout* grid = page_grid(page);
  grid->addWidget(overlay_enable_, 0, 0, 1, 6);
  grid->addWidget(label_for(tr("Overlay Video"), overlay_file_, page), 1, 0);
  auto* file_row = new QHBoxLayout;
  file_row->addWidget(overlay_file_, 1);
  file_row->addWidget(overlay_browse_);
  grid->addLayout(file_row, 1, 1, 1, 5);
  grid->addWidget(label_for(tr("Overlay Text"), overlay_text_, page), 2, 0);
  grid->addWidget(overlay_text_, 2, 1, 1, 5);
  grid->addWidget(label_for(tr("Fontsize"), overlay_font_size_, page), 3, 0);
  grid->addWidget(overlay_font_size_, 3, 1);
  grid->addWidget(overlay_color_, 3, 2);
  grid->addWidget(label_for(tr("Horizontal\nPlacement"), overlay_left_, page), 4, 0);
  grid->addWidget(overlay_left_, 4, 1);
  grid->addWidget(overlay_right_, 4, 2);
  grid->addWidget(overlay_horizontal_, 4, 3);
  grid->addWidget(new QLabel(tr("px"), page), 4, 4);
  grid->addWidget(label_for(tr("Vertical\nPlacement"), overlay_top_, page), 5, 0);
  grid->addWidget(overlay_top_, 5, 1);
  grid->addWidget(overlay_bottom_, 5, 2);
  grid->addWidget(overlay_vertical_, 5, 3);
  grid->addWidget(new QLabel(tr("px"), page), 5, 4);
  grid->setColumnStretch(5, 1);
  grid->setRowStretch(6, 1);

  link_enable(overlay_enable_);
  connect(overlay_browse_, &QPushButton::clicked, this, &VideoSettingsDialog::browse_overlay_file);
  connect(overlay_color_, &QPushButton::clicked, this, &VideoSettingsDialog::choose_overlay_colour);
  return page;
}

QWidget* VideoSettingsDialog::make_misc_page() {
  auto* page = new QWidget;
  misc_aspect_ = check_box(tr("Override Original Video Aspect Ratio with Output Video Size"),
                           "misc_aspect", page);
  misc_scan_type_ = new QComboBox(page);
  misc_scan_type_->setObjectName("misc_scan_type");
  for (std::string_view text : scan_type_texts())
    misc_scan_type_->addItem(qt_text(text));
  misc_gpu_number_ = new QSpinBox(page);
  misc_gpu_number_->setObjectName("misc_gpu_number");
  misc_gpu_number_->setRange(0, static_cast<int>(kMaxGpuNumber));
  misc_decoder_ = new QComboBox(page);
  misc_decoder_->setObjectName("misc_decoder");
  for (const DecoderChoice& row : decoder_choice_table())
    misc_decoder_->addItem(qt_text(row.list_text), row.index);

  QGridLayout* grid = page_grid(page);
  grid->addWidget(misc_aspect_, 0, 0, 1, 3);
  grid->addWidget(label_for(tr("Scan Type"), misc_scan_type_, page), 1, 0);
  grid->addWidget(misc_scan_type_, 1, 1, 1, 2);
  grid->addWidget(label_for(tr("Use NVIDIA GPU #"), misc_gpu_number_, page), 2, 0);
  grid->addWidget(misc_gpu_number_, 2, 1);
  grid->addWidget(new QLabel(tr("for NVENC Acceleration"), page), 2, 2);
  grid->addWidget(label_for(tr("GPU Decoding"), misc_decoder_, page), 3, 0);
  grid->addWidget(misc_decoder_, 3, 1, 1, 2);
  grid->setColumnStretch(3, 1);
  grid->setRowStretch(4, 1);
  return page;
}

void VideoSettingsDialog::show_settings() {
  show_encoder();
  show_crop_pad();
  show_blur_sharpen();
  show_overlay();
  show_misc();
}

void VideoSettingsDialog::read_settings() {
  read_encoder();
  read_crop_pad();
  read_blur_sharpen();
  read_overlay();
  read_misc();
}

void VideoSettingsDialog::accept() {
  read_settings();
  QDialog::accept();
}

void VideoSettingsDialog::reject() {
  read_settings();
  QDialog::reject();
}

void VideoSettingsDialog::show_encoder() {
  const VideoEncoderSettings& encoder = tabs_.host.encoder();
  encoder_page_->setEnabled(encoder.controls_enabled);
  {
    const QSignalBlocker blocker(profile_);
    profile_->clear();
    profile_->addItem(qt_text(kDefaultProfile));
    for (std::string_view profile : encoder.profile_choices)
      profile_->addItem(qt_text(profile));
  }
  show_text(profile_, encoder.profile);
  show_text(level_, encoder.level);
  show_text(threads_, encoder.threads);
  profile_->setEnabled(encoder.profile_list_enabled);
  level_->setEnabled(encoder.level_enabled);
  threads_->setEnabled(encoder.threads_enabled);
  {
    const QSignalBlocker blocker(preset_slider_);
    preset_slider_->setRange(encoder.slider_minimum, encoder.slider_maximum);
  }
  // The slider shows a stored position beyond its ends at the nearer end; the record keeps it.
  show_position(preset_slider_, encoder.preset_position);
  show_preset();
}

void VideoSettingsDialog::show_preset() {
  const VideoEncoderSettings& encoder = tabs_.host.encoder();
  show_number(preset_number_, encoder.preset_position);
  preset_name_->setText(qt_text(encoder.preset_name()));
}

void VideoSettingsDialog::show_crop_pad() {
  const CropPadFilter& record = tabs_.crop_pad.record;
  show_checked(crop_enable_, record.enabled);
  show_checked(crop_, record.mode == CropPadFilter::kCrop);
  show_checked(pad_, record.mode == CropPadFilter::kPad);
  show_number(crop_left_, record.left);
  show_number(crop_top_, record.top);
  show_number(crop_right_, record.right);
  show_number(crop_bottom_, record.bottom);
  follow_enable(crop_enable_);
}

void VideoSettingsDialog::show_blur_sharpen() {
  const BlurSharpenFilter& record = tabs_.blur_sharpen.record;
  show_checked(blur_enable_, record.enabled);
  show_checked(blur_, record.mode == BlurSharpenFilter::kBlur);
  show_checked(sharpen_, record.mode == BlurSharpenFilter::kSharpen);
  show_blur_number(blur_radius_, blur_radius_slider_, record.radius);
  show_blur_number(blur_strength_, blur_strength_slider_, record.strength);
  follow_enable(blur_enable_);
}

void VideoSettingsDialog::show_overlay() {
  const OverlayFilter& record = tabs_.overlay.record;
  show_checked(overlay_enable_, record.enabled);
  show_text(overlay_file_, record.file);
  show_text(overlay_text_, record.text);
  {
    const QSignalBlocker blocker(overlay_font_size_);
    overlay_font_size_->setValue(record.font_size);
  }
  show_overlay_colour();
  show_checked(overlay_left_, !record.right_aligned);
  show_checked(overlay_right_, record.right_aligned);
  show_number(overlay_horizontal_, record.horizontal_offset);
  show_checked(overlay_top_, !record.bottom_aligned);
  show_checked(overlay_bottom_, record.bottom_aligned);
  show_number(overlay_vertical_, record.vertical_offset);
  follow_enable(overlay_enable_);
}

// The swatch on the "Color" button is the one place the chosen colour is drawn.
void VideoSettingsDialog::show_overlay_colour() {
  const OverlayFilter& record = tabs_.overlay.record;
  QPixmap swatch(overlay_color_->iconSize());
  swatch.fill(QColor(record.red, record.green, record.blue));
  overlay_color_->setIcon(QIcon(swatch));
}

void VideoSettingsDialog::show_misc() {
  const VideoMiscSettings& misc = tabs_.host.misc();
  show_checked(misc_aspect_, misc.aspect_override);
  {
    const QSignalBlocker scan_blocker(misc_scan_type_);
    misc_scan_type_->setCurrentIndex(misc.scan_type);
    const QSignalBlocker gpu_blocker(misc_gpu_number_);
    misc_gpu_number_->setValue(static_cast<int>(misc.gpu_number));
    const QSignalBlocker decoder_blocker(misc_decoder_);
    misc_decoder_->setCurrentIndex(misc_decoder_->findData(misc.decoder_choice));
  }
  misc_gpu_number_->setEnabled(misc.gpu_number_enabled);
}

void VideoSettingsDialog::read_encoder() {
  VideoEncoderSettings& encoder = tabs_.host.encoder();
  encoder.profile = utf8_text(profile_->currentText());
  encoder.level = utf8_text(level_->currentText());
  encoder.threads = utf8_text(threads_->currentText());
  read_preset_number();
}

// Only a number typed into the box moves the position; a box left empty changes nothing.
void VideoSettingsDialog::read_preset_number() {
  bool typed = false;
  const int position = preset_number_->text().toInt(&typed);
  if (typed) tabs_.host.encoder().preset_position = position;
}

void VideoSettingsDialog::read_crop_pad() {
  CropPadFilter& record = tabs_.crop_pad.record;
  record.enabled = crop_enable_->isChecked();
  record.mode = pad_->isChecked() ? CropPadFilter::kPad : CropPadFilter::kCrop;
  record.left = number_in(crop_left_);
  record.top = number_in(crop_top_);
  record.right = number_in(crop_right_);
  record.bottom = number_in(crop_bottom_);
}

void VideoSettingsDialog::read_blur_sharpen() {
  BlurSharpenFilter& record = tabs_.blur_sharpen.record;
  record.enabled = blur_enable_->isChecked();
  record.mode = sharpen_->isChecked() ? BlurSharpenFilter::kSharpen : BlurSharpenFilter::kBlur;
  set_blur_radius(record, number_in(blur_radius_));
  set_blur_strength(record, number_in(blur_strength_));
  show_blur_number(blur_radius_, blur_radius_slider_, record.radius);
  show_blur_number(blur_strength_, blur_strength_slider_, record.strength);
}

void VideoSettingsDialog::read_overlay() {
  OverlayFilter& record = tabs_.overlay.record;
  record.enabled = overlay_enable_->isChecked();
  record.file = utf8_text(overlay_file_->text());
  record.text = utf8_text(overlay_text_->text());
  record.font_size = overlay_font_size_->value();
  record.right_aligned = overlay_right_->isChecked();
  record.horizontal_offset = number_in(overlay_horizontal_);
  record.bottom_aligned = overlay_bottom_->isChecked();
  record.vertical_offset = number_in(overlay_vertical_);
}

void VideoSettingsDialog::read_misc() {
  VideoMiscSettings& misc = tabs_.host.misc();
  misc.aspect_override = misc_aspect_->isChecked();
  misc.scan_type = misc_scan_type_->currentIndex();
  misc.gpu_number = static_cast<std::uint32_t>(misc_gpu_number_->value());
  misc.decoder_choice = misc_decoder_->currentData().toInt();
}

void VideoSettingsDialog::browse_overlay_file() {
  QStringList filters;
  for (std::string_view filter : kOverlayFileFilters)
    filters << qt_text(filter);
  const QString file = QFileDialog::getOpenFileName(this, qt_text(kOverlayFileTitle),
                                                    overlay_file_->text(), filters.join(";;"));
  if (!file.isEmpty()) overlay_file_->setText(file);
}

void VideoSettingsDialog::choose_overlay_colour() {
  OverlayFilter& record = tabs_.overlay.record;
  const QColor chosen = QColorDialog::getColor(QColor(record.red, record.green, record.blue), this);
  if (!chosen.isValid()) return;
  record.red = static_cast<std::uint8_t>(chosen.red());
  record.green = static_cast<std::uint8_t>(chosen.green());
  record.blue = static_cast<std::uint8_t>(chosen.blue());
  show_overlay_colour();
}

}  // namespace vx
