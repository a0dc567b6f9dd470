#include "desktop/editor_panel_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <limits>

#include "desktop/qt_text.h"
#include "desktop/widget_kit.h"
#include "settings/choice_tables.h"
#include "window_logic/editor_panel.h"

namespace vx {
namespace {

// Wide enough for a label, a short list and its unit side by side; the window gives the rest of
// its width to the channel list.
constexpr int kPanelWidth = 360;
constexpr int kSpacing = 4;

std::string_view entry_text(std::string_view text) {
  return text;
}

template <typename Choice>
std::string_view entry_text(const Choice& choice) {
  return choice.text;
}

// A list narrower than its longest entry: the chosen entry ends in "..." rather than being cut
// off in the middle of a word.
class EllipsisComboBox final : public QComboBox {
 public:
  using QComboBox::QComboBox;

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    option.currentText =
        fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width());
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
  }
};

template <typename Box = QComboBox, typename Table>
QComboBox* drop_down_list(const Table& table, const char* name, QWidget* parent) {
  auto* box = new Box(parent);
  box->setObjectName(name);
  for (const auto& entry : table)
    box->addItem(qt_text(entry_text(entry)));
  return box;
}

// The typed text is kept as typed: completing it would turn a typed "20" into the listed "200",
// and an entry typed and confirmed with Enter must not join the list.
template <typename Table>
QComboBox* editable_combo(const Table& table, const char* name, QWidget* parent) {
  QComboBox* box = free_text_list(name, parent);
  for (const auto& entry : table)
    box->addItem(qt_text(entry_text(entry)));
  return box;
}

// A number edit in the field column, as wide as the lists beside it rather than its own hint.
QLineEdit* number_edit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setSizePolicy(QSizePolicy::Ignored, edit->sizePolicy().verticalPolicy());
  return edit;
}

QGridLayout* group_grid(QGroupBox* group) {
  auto* grid = new QGridLayout(group);
  grid->setContentsMargins(6, kSpacing, 6, kSpacing);
  grid->setHorizontalSpacing(kSpacing);
  grid->setVerticalSpacing(kSpacing);
  return grid;
}

void show_state(std::initializer_list<QWidget*> widgets, ControlState state) {
  for (QWidget* widget : widgets) {
    widget->setEnabled(state.enabled);
    widget->setVisible(state.visible);
  }
}

void set_visible(std::initializer_list<QWidget*> widgets, bool visible) {
  for (QWidget* widget : widgets)
    widget->setVisible(visible);
}

void show_entry(QComboBox* box, int entry) {
  const QSignalBlocker blocker(box);
  box->setCurrentIndex(entry);
}

}  // namespace

EditorPanelView::EditorPanelView(QWidget* parent) : QWidget(parent) {
  tabs_ = new QTabBar(this);
  tabs_->setObjectName("target_tabs");
  tabs_->setExpanding(false);
  // Stream names of one channel often differ in a few characters anywhere ("..._720p" and
  // "..._1080p"): shortened, two tabs can read alike. They stay whole, and the strip scrolls.
  tabs_->setElideMode(Qt::ElideNone);
  tabs_->setUsesScrollButtons(true);
  // The strip keeps its height while hidden, so the groups stay put when the format changes.
  tabs_->addTab(QStringLiteral("stream"));
  tabs_->setFixedHeight(tabs_->sizeHint().height());
  tabs_->removeTab(0);
  QSizePolicy strip = tabs_->sizePolicy();
  strip.setRetainSizeWhenHidden(true);
  tabs_->setSizePolicy(strip);
  tabs_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(kSpacing);
  layout->addWidget(tabs_);
  layout->addWidget(make_target_group());
  layout->addWidget(make_video_group());
  layout->addWidget(make_audio_group());
  layout->addStretch(1);
  align_label_columns();
  setFixedWidth(kPanelWidth);
  connect_signals();
}

EditorPanelView::~EditorPanelView() = default;

QGroupBox* EditorPanelView::make_target_group() {
  auto* group = new QGroupBox(tr("Target"), this);
  target_format_ = drop_down_list<EllipsisComboBox>(kTargetFormatChoices, "target_format", group);
  target_format_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  format_advanced_ = push_button(tr("Advanced..."), "format_advanced", group);
  target_url_ = new QLineEdit(group);
  target_url_->setObjectName(kTargetUrlControl);
  browse_ = push_button(QStringLiteral("..."), "browse", group);
  browse_->setFixedWidth(browse_->sizeHint().height() + 2 * kSpacing);

  QGridLayout* grid = group_grid(group);
  grid->addWidget(label_for(tr("Target Format"), target_format_, group), 0, 0);
  auto* format_row = new QHBoxLayout;
  format_row->addWidget(target_format_, 1);
  format_row->addWidget(format_advanced_);
  grid->addLayout(format_row, 0, 1);
  grid->addWidget(label_for(tr("Target URL"), target_url_, group), 1, 0);
  auto* url_row = new QHBoxLayout;
  url_row->addWidget(target_url_, 1);
  url_row->addWidget(browse_);
  grid->addLayout(url_row, 1, 1);
  label_grids_.push_back(grid);
  return group;
}

QGroupBox* EditorPanelView::make_video_group() {
  auto* group = new QGroupBox(tr("Video"), this);
  video_enable_ = new QCheckBox(tr("Enable Video"), group);
  video_enable_->setObjectName("video_enable");
  video_encoding_ = drop_down_list(kVideoEncodingChoices, kVideoEncodingControl, group);
  video_advanced_ = push_button(tr("Advanced"), "video_advanced", group);
  frame_size_ = drop_down_list(kFrameSizeChoices, "frame_size", group);
  width_ = number_edit("frame_width", group);
  height_ = number_edit("frame_height", group);
  frame_rate_ = editable_combo(kFrameRateChoices, "frame_rate", group);
  quality_ = editable_combo(kQualityChoices, "quality", group);
  video_bitrate_ = editable_combo(kVideoBitrateChoices, "video_bitrate", group);
  key_frame_interval_ = number_edit("key_frame_interval", group);
  key_frame_interval_->setValidator(
      new QIntValidator(0, std::numeric_limits<int>::max(), key_frame_interval_));
  mux_bitrate_ = number_edit(kMuxBitrateControl, group);
  cbr_ = new QCheckBox(tr("CBR"), group);
  cbr_->setObjectName("cbr");

  QGridLayout* grid = group_grid(group);
  grid->addWidget(video_enable_, 0, 0, 1, 2);
  grid->addWidget(video_advanced_, 0, 2, 1, 2, Qt::AlignRight);
  grid->addWidget(label_for(tr("Encoding"), video_encoding_, group), 1, 0);
  grid->addWidget(video_encoding_, 1, 1, 1, 3);
  grid->addWidget(label_for(tr("Frame Size"), frame_size_, group), 2, 0);
  grid->addWidget(frame_size_, 2, 1);
  auto* size_row = new QHBoxLayout;
  size_row->addWidget(width_, 1);
  size_row->addWidget(new QLabel(QStringLiteral("x"), group));
  size_row->addWidget(height_, 1);
  grid->addLayout(size_row, 2, 2, 1, 2);
  grid->addWidget(label_for(tr("Frame Rate"), frame_rate_, group), 3, 0);
  grid->addWidget(frame_rate_, 3, 1);
  grid->addWidget(new QLabel(tr("fps"), group), 3, 2);
  quality_label_ = label_for(tr("Quality"), quality_, group);
  quality_unit_ = new QLabel(tr("(1-100)"), group);
  grid->addWidget(quality_label_, 4, 0);
  grid->addWidget(quality_, 4, 1);
  grid->addWidget(quality_unit_, 4, 2);
  set_visible({quality_label_, quality_, quality_unit_}, false);
  grid->addWidget(label_for(tr("Bitrate"), video_bitrate_, group), 5, 0);
  grid->addWidget(video_bitrate_, 5, 1);
  grid->addWidget(new QLabel(tr("Kbps"), group), 5, 2);
  grid->addWidget(label_for(tr("Key Frame Intv."), key_frame_interval_, group), 6, 0);
  grid->addWidget(key_frame_interval_, 6, 1);
  grid->addWidget(new QLabel(tr("sec"), group), 6, 2);
  mux_bitrate_label_ = label_for(tr("Mux Bitrate"), mux_bitrate_, group);
  mux_bitrate_label_->setObjectName("mux_bitrate_label");
  mux_bitrate_unit_ = new QLabel(tr("Kbps"), group);
  mux_bitrate_unit_->setObjectName("mux_bitrate_unit");
  grid->addWidget(mux_bitrate_label_, 7, 0);
  grid->addWidget(mux_bitrate_, 7, 1);
  grid->addWidget(mux_bitrate_unit_, 7, 2);
  grid->addWidget(cbr_, 7, 3);
  grid->setColumnStretch(3, 1);
  label_grids_.push_back(grid);
  return group;
}

QGroupBox* EditorPanelView::make_audio_group() {
  auto* group = new QGroupBox(tr("Audio"), this);
  audio_enable_ = new QCheckBox(tr("Enable Audio"), group);
  audio_enable_->setObjectName("audio_enable");
  audio_encoding_ = drop_down_list(kAudioEncodingChoices, kAudioEncodingControl, group);
  audio_advanced_ = push_button(tr("Advanced"), "audio_advanced", group);
  sample_rate_ = editable_combo(kSampleRateChoices, "sample_rate", group);
  audio_channels_ = drop_down_list(kAudioChannelChoices, "audio_channels", group);
  audio_bitrate_ = editable_combo(kAudioBitrateChoices, "audio_bitrate", group);

  QGridLayout* grid = group_grid(group);
  grid->addWidget(audio_enable_, 0, 0, 1, 2);
  grid->addWidget(audio_advanced_, 0, 2, 1, 3, Qt::AlignRight);
  grid->addWidget(label_for(tr("Encoding"), audio_encoding_, group), 1, 0);
  grid->addWidget(audio_encoding_, 1, 1);
  grid->addWidget(label_for(tr("Channel"), audio_channels_, group), 1, 2);
  grid->addWidget(audio_channels_, 1, 3);
  grid->addWidget(label_for(tr("Sample Rate"), sample_rate_, group), 2, 0);
  grid->addWidget(sample_rate_, 2, 1);
  grid->addWidget(label_for(tr("Bitrate"), audio_bitrate_, group), 2, 2);
  grid->addWidget(audio_bitrate_, 2, 3);
  grid->addWidget(new QLabel(tr("Kbps"), group), 2, 4);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  label_grids_.push_back(grid);
  return group;
}

// The row labels of the three groups start their fields at the same place.
void EditorPanelView::align_label_columns() {
  int widest = 0;
  for (QGridLayout* grid : label_grids_)
    for (int row = 0; row < grid->rowCount(); ++row)
      if (QLayoutItem* item = grid->itemAtPosition(row, 0);
          item != nullptr && qobject_cast<QLabel*>(item->widget()) != nullptr)
        widest = std::max(widest, item->sizeHint().width());
  for (QGridLayout* grid : label_grids_)
    grid->setColumnMinimumWidth(0, widest);
}

void EditorPanelView::connect_signals() {
  connect(target_format_, &QComboBox::activated, this, &EditorPanelView::targetFormatChosen);
  connect(video_encoding_, &QComboBox::activated, this, &EditorPanelView::videoEncodingChosen);
  connect(audio_encoding_, &QComboBox::activated, this, &EditorPanelView::audioEncodingChosen);
  connect(frame_size_, &QComboBox::activated, this, &EditorPanelView::frameSizeChosen);
  connect(cbr_, &QCheckBox::clicked, this, &EditorPanelView::cbrToggled);
  connect(video_enable_, &QCheckBox::clicked, this, &EditorPanelView::videoEnableToggled);
  connect(audio_enable_, &QCheckBox::clicked, this, &EditorPanelView::audioEnableToggled);
  // show_tabs blocks the strip's signals while it rebuilds it, so only the operator's choice
  // (a click or the arrow keys) gets here.
  connect(tabs_, &QTabBar::currentChanged, this, [this](int position) {
    if (position >= 0) emit tabChosen(position);
  });
  connect(format_advanced_, &QPushButton::clicked, this, &EditorPanelView::formatAdvancedClicked);
  connect(video_advanced_, &QPushButton::clicked, this, &EditorPanelView::videoAdvancedClicked);
  connect(audio_advanced_, &QPushButton::clicked, this, &EditorPanelView::audioAdvancedClicked);
  connect(browse_, &QPushButton::clicked, this, &EditorPanelView::browseClicked);
}

void EditorPanelView::show_values(const EditorValues& values) {
  show_entry(target_format_, values.target_format);
  show_text(target_url_, values.target_url);
  show_checked(video_enable_, values.video_enable);
  show_entry(video_encoding_, values.video_encoding);
  show_entry(frame_size_, values.frame_size);
  show_text(width_, values.width);
  show_text(height_, values.height);
  show_text(frame_rate_, values.frame_rate);
  show_text(quality_, values.quality);
  show_text(video_bitrate_, values.video_bitrate);
  show_text(key_frame_interval_, values.key_frame_interval);
  show_text(mux_bitrate_, values.mux_bitrate);
  show_checked(cbr_, values.cbr);
  show_checked(audio_enable_, values.audio_enable);
  show_entry(audio_encoding_, values.audio_encoding);
  show_text(sample_rate_, values.sample_rate);
  show_entry(audio_channels_, values.audio_channels);
  show_text(audio_bitrate_, values.audio_bitrate);
}

void EditorPanelView::read_values(EditorValues& values) const {
  values.target_url = utf8_text(target_url_->text());
  values.width = utf8_text(width_->text());
  values.height = utf8_text(height_->text());
  values.frame_rate = utf8_text(frame_rate_->currentText());
  values.quality = utf8_text(quality_->currentText());
  values.video_bitrate = utf8_text(video_bitrate_->currentText());
  values.key_frame_interval = utf8_text(key_frame_interval_->text());
  values.mux_bitrate = utf8_text(mux_bitrate_->text());
  values.sample_rate = utf8_text(sample_rate_->currentText());
  values.audio_channels = audio_channels_->currentIndex();
  values.audio_bitrate = utf8_text(audio_bitrate_->currentText());
}

void EditorPanelView::apply_controls(const EditorControls& controls) {
  show_state({target_format_}, controls.target_format);
  show_state({format_advanced_}, controls.format_advanced);
  show_state({target_url_}, controls.target_url);
  target_url_->setReadOnly(controls.target_url_read_only);
  // A narrow address keeps the browse button's place even while the button is hidden.
  QSizePolicy browse_place = browse_->sizePolicy();
  browse_place.setRetainSizeWhenHidden(controls.target_url_narrow);
  browse_->setSizePolicy(browse_place);
  show_state({browse_}, controls.browse);

  show_state({video_enable_}, controls.video_enable);
  show_state({video_encoding_}, controls.video_encoding);
  show_state({video_advanced_}, controls.video_advanced);
  show_state({frame_size_}, controls.frame_size);
  show_state({width_, height_}, controls.frame_width_height);
  show_state({frame_rate_}, controls.frame_rate);
  show_state({quality_label_, quality_, quality_unit_}, controls.quality);
  show_state({video_bitrate_}, controls.video_bitrate);
  show_state({key_frame_interval_}, controls.key_frame_interval);
  show_state({mux_bitrate_}, controls.mux_bitrate);
  set_visible({mux_bitrate_label_, mux_bitrate_unit_}, controls.mux_bitrate.visible);
  show_state({cbr_}, controls.cbr);

  show_state({audio_enable_}, controls.audio_enable);
  show_state({audio_encoding_}, controls.audio_encoding);
  show_state({audio_advanced_}, controls.audio_advanced);
  show_state({sample_rate_}, controls.sample_rate);
  show_state({audio_channels_}, controls.audio_channels);
  show_state({audio_bitrate_}, controls.audio_bitrate);
}

void EditorPanelView::show_tabs(const TargetTabs& tabs, bool shown) {
  const QSignalBlocker blocker(tabs_);
  QStringList labels;
  for (const std::string& label : tabs.labels)
    labels.append(qt_text(label));
  if (tabs.add_remove) labels << QStringLiteral("+") << QStringLiteral("-");
  while (tabs_->count() > labels.size())
    tabs_->removeTab(tabs_->count() - 1);
  for (int position = 0; position < labels.size(); ++position) {
    if (position < tabs_->count())
      tabs_->setTabText(position, labels[position]);
    else
      tabs_->addTab(labels[position]);
    // A long stream name is shortened on its tab; the tip shows it whole.
    tabs_->setTabToolTip(position, labels[position]);
  }
  tabs_->setCurrentIndex(tabs.selected);
  tabs_->setVisible(shown);
}

void EditorPanelView::focus_control(std::string_view control) {
  auto* widget = findChild<QWidget*>(qt_text(control));
  if (widget == nullptr) return;
  widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

void EditorPanelView::set_target_url(const std::string& url) {
  show_text(target_url_, url);
}

}  // namespace vx
