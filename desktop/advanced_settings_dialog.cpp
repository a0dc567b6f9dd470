#include "desktop/advanced_settings_dialog.h"

#include <QAbstractItemDelegate>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "desktop/qt_text.h"
#include "desktop/widget_kit.h"

namespace vx {

// An editable table of texts whose open cell editor can be committed from outside, so reading
// the widgets never misses a cell that is still being typed into.
class CellTable final : public QTableWidget {
 public:
  CellTable(const QStringList& columns, const char* name, QWidget* parent)
      : QTableWidget(0, static_cast<int>(columns.size()), parent) {
    setObjectName(name);
    setHorizontalHeaderLabels(columns);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    verticalHeader()->hide();
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab leaves the table for the buttons beside it; the arrows move between cells.
    setTabKeyNavigation(false);
  }

  // Keeps what is typed into an open cell.
  void commit_open_cell() {
    if (QWidget* editor = open_editor()) {
      commitData(editor);
      closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
  }

  // Room for a few rows; the table grows with the panel.
  QSize sizeHint() const override {
    constexpr int kShownRows = 5;
    return {QTableWidget::sizeHint().width(),
            horizontalHeader()->sizeHint().height() +
                kShownRows * verticalHeader()->defaultSectionSize() + 2 * frameWidth()};
  }

  // The selected row, -1 when none is.
  int selected_row() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
  }

  // Selects the row (kept inside the table) so that a repeated Remove goes on from there.
  void select_row_near(int row) {
    if (rowCount() > 0) selectRow(std::min(row, rowCount() - 1));
  }

  // Opens the first cell of the last row for typing.
  void edit_last_row() {
    const int row = rowCount() - 1;
    if (row < 0) return;
    setCurrentCell(row, 0);
    setFocus(Qt::OtherFocusReason);
    editItem(item(row, 0));
  }

 private:
  QWidget* open_editor() const {
    if (state() != QAbstractItemView::EditingState) return nullptr;
    for (int row = 0; row < rowCount(); ++row)
      for (int column = 0; column < columnCount(); ++column)
        if (QWidget* editor = indexWidget(model()->index(row, column))) return editor;
    return nullptr;
  }
};

namespace {

constexpr int kLargestInt = std::numeric_limits<int>::max();
constexpr int kSmallestInt = std::numeric_limits<int>::min();

// Free option text: a few lines high, so that this tab does not make the panel tall; the box
// grows with the panel.
class ParametersBox final : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;

  QSize sizeHint() const override {
    constexpr int kShownLines = 5;
    const int margins = 2 * (frameWidth() + static_cast<int>(document()->documentMargin()));
    return {QPlainTextEdit::sizeHint().width(),
            kShownLines * fontMetrics().lineSpacing() + margins};
  }
};

// The cells of a row, in the order of the table's columns.
constexpr std::array kInputCells{&MpegTsInputSettings::Row::program,
                                 &MpegTsInputSettings::Row::pid};
constexpr std::array kOutputCells{&MpegTsOutputSettings::Row::program,
                                  &MpegTsOutputSettings::Row::name,
                                  &MpegTsOutputSettings::Row::source};

template <typename Row, std::size_t N>
void show_rows(CellTable* table, const std::vector<Row>& rows,
               const std::array<std::string Row::*, N>& cells) {
  table->setRowCount(static_cast<int>(rows.size()));
  for (int row = 0; row < table->rowCount(); ++row)
    for (int column = 0; column < static_cast<int>(N); ++column)
      table->setItem(row, column,
                     new QTableWidgetItem(qt_text(rows[static_cast<std::size_t>(row)].*
                                                  cells[static_cast<std::size_t>(column)])));
}

template <typename Row, std::size_t N>
void read_rows(CellTable* table, std::vector<Row>& rows,
               const std::array<std::string Row::*, N>& cells) {
  table->commit_open_cell();
  rows.assign(static_cast<std::size_t>(table->rowCount()), Row{});
  for (int row = 0; row < table->rowCount(); ++row)
    for (int column = 0; column < static_cast<int>(N); ++column)
      if (const QTableWidgetItem* item = table->item(row, column))
        rows[static_cast<std::size_t>(row)].*cells[static_cast<std::size_t>(column)] =
            utf8_text(item->text());
}

QLineEdit* text_box(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

QSpinBox* number_box(const char* name, int minimum, int maximum, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(minimum, maximum);
  return box;
}

// Two exclusive choices on one row.
QHBoxLayout* choice_row(QRadioButton* first, QRadioButton* second) {
  pair_up(first, second);
  auto* row = new QHBoxLayout;
  row->addWidget(first);
  row->addWidget(second);
  row->addStretch(1);
  return row;
}

// Boxes of one column, as wide as the widest of them.
void same_width(std::initializer_list<QWidget*> widgets) {
  int widest = 0;
  for (const QWidget* widget : widgets)
    widest = std::max(widest, widget->sizeHint().width());
  for (QWidget* widget : widgets)
    widget->setMinimumWidth(widest);
}

// A number box at its own width, its unit (if any) beside it.
QHBoxLayout* number_row(QSpinBox* box, const QString& unit = {}) {
  auto* row = new QHBoxLayout;
  row->addWidget(box);
  if (!unit.isEmpty()) row->addWidget(new QLabel(unit, box->parentWidget()));
  row->addStretch(1);
  return row;
}

// A table with its buttons stacked at its right.
QHBoxLayout* table_with_buttons(CellTable* table, std::initializer_list<QPushButton*> buttons) {
  auto* buttons_column = new QVBoxLayout;
  for (QPushButton* button : buttons)
    buttons_column->addWidget(button);
  buttons_column->addStretch(1);
  auto* row = new QHBoxLayout;
  row->addWidget(table, 1);
  row->addLayout(buttons_column);
  return row;
}

void show_text(QPlainTextEdit* edit, const std::string& text) {
  edit->setPlainText(qt_text(text));
}

void show_choices(QComboBox* box, const std::vector<std::string>& choices,
                  const std::string& text) {
  box->clear();
  for (const std::string& choice : choices)
    box->addItem(qt_text(choice));
  box->setCurrentIndex(box->findText(qt_text(text)));
  box->setEditText(qt_text(text));
}

void show_number(QSpinBox* box, std::int64_t value) {
  box->setValue(static_cast<int>(std::clamp<std::int64_t>(value, box->minimum(), box->maximum())));
}

// The value of what was typed last, even while the box still has the focus.
int read_number(QSpinBox* box) {
  box->interpretText();
  return box->value();
}

// Only boxes whose minimum is not negative are read this way.
std::uint32_t read_count(QSpinBox* box) {
  return static_cast<std::uint32_t>(std::max(read_number(box), 0));
}

}  // namespace

AdvancedSettingsDialog::AdvancedSettingsDialog(AdvancedFormatSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(kAdvancedFormatTitle);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("tabs");
  // Every caption stays in sight: the panel is as wide as the six tabs.
  tabs_->setUsesScrollButtons(false);
  tabs_->addTab(make_mpegts_input_page(), kMpegTsInputTab);
  tabs_->addTab(make_mpegts_output_page(), kMpegTsOutputTab);
  tabs_->addTab(make_rtmp_page(), kRtmpTab);
  tabs_->addTab(make_hls_page(), kHlsTab);
  tabs_->addTab(make_srt_page(), kSrtTab);
  tabs_->addTab(make_custom_page(), kCustomTab);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    read_settings();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &AdvancedSettingsDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
  connect_signals();
}

AdvancedSettingsDialog::~AdvancedSettingsDialog() = default;

QWidget* AdvancedSettingsDialog::make_mpegts_input_page() {
  auto* page = new QWidget;
  auto* group = new QGroupBox(tr("Select Source Streams in MPEG-TS"), page);
  mpegts_in_table_ = new CellTable({tr("Program #"), tr("PID")}, "mpegts_in_table", group);
  mpegts_in_add_ = push_button(tr("&Add"), "mpegts_in_add", group);
  mpegts_in_remove_ = push_button(tr("&Remove"), "mpegts_in_remove", group);
  auto* group_layout = new QVBoxLayout(group);
  group_layout->addLayout(
      table_with_buttons(mpegts_in_table_, {mpegts_in_add_, mpegts_in_remove_}));
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(group);
  return page;
}

QWidget* AdvancedSettingsDialog::make_mpegts_output_page() {
  mpegts_out_page_ = new QWidget;
  QWidget* page = mpegts_out_page_;
  mpegts_out_table_ = new CellTable({tr("Program #"), tr("Program Name"), tr("Source #")},
                                    "mpegts_out_table", page);
  mpegts_out_add_ = push_button(tr("&Add\nProgram"), "mpegts_out_add", page);
  mpegts_out_remove_ = push_button(tr("&Remove"), "mpegts_out_remove", page);
  pmt_pid_ = text_box("pmt_pid", page);
  provider_ = text_box("provider", page);
  video_pid_ = text_box("video_pid", page);
  audio_pid_ = text_box("audio_pid", page);
  subtitle_pid_ = text_box("subtitle_pid", page);
  fec_on_ = new QCheckBox(tr("Enable FEC for MPEG-TS over RTP"), page);
  fec_on_->setObjectName("fec_on");
  fec_matrix_ = new QWidget(page);
  QWidget* fec_matrix = fec_matrix_;
  fec_columns_ = number_box("fec_columns", kSmallestInt, kLargestInt, fec_matrix);
  fec_rows_ = number_box("fec_rows", kSmallestInt, kLargestInt, fec_matrix);

  auto* fields = new QGridLayout;
  fields->addWidget(label_for(tr("PMT PID"), pmt_pid_, page), 0, 0);
  fields->addWidget(pmt_pid_, 0, 1);
  fields->addWidget(label_for(tr("Provider"), provider_, page), 0, 2);
  fields->addWidget(provider_, 0, 3);
  fields->addWidget(label_for(tr("Video(PCR) PID"), video_pid_, page), 1, 0);
  fields->addWidget(video_pid_, 1, 1);
  fields->addWidget(label_for(tr("Audio PID"), audio_pid_, page), 1, 2);
  fields->addWidget(audio_pid_, 1, 3);
  fields->addWidget(label_for(tr("Subtitle PID"), subtitle_pid_, page), 2, 0);
  fields->addWidget(subtitle_pid_, 2, 1);
  fields->setColumnStretch(1, 1);
  fields->setColumnStretch(3, 1);

  auto* matrix_layout = new QHBoxLayout(fec_matrix);
  matrix_layout->setContentsMargins(0, 0, 0, 0);
  matrix_layout->addWidget(label_for(tr("Column"), fec_columns_, fec_matrix));
  matrix_layout->addWidget(fec_columns_);
  matrix_layout->addWidget(label_for(tr("Row"), fec_rows_, fec_matrix));
  matrix_layout->addWidget(fec_rows_);
  auto* fec_row = new QHBoxLayout;
  fec_row->addWidget(fec_on_);
  fec_row->addWidget(fec_matrix);
  fec_row->addStretch(1);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(table_with_buttons(mpegts_out_table_, {mpegts_out_add_, mpegts_out_remove_}),
                    1);
  layout->addLayout(fields);
  layout->addLayout(fec_row);
  return page;
}

QWidget* AdvancedSettingsDialog::make_rtmp_page() {
  rtmp_page_ = new QWidget;
  QWidget* page = rtmp_page_;
  rtmp_flash_ver_ = text_box("rtmp_flash_ver", page);
  rtmp_swf_url_ = text_box("rtmp_swf_url", page);
  rtmp_user_ = text_box("rtmp_user", page);
  rtmp_passwd_ = text_box("rtmp_passwd", page);
  rtmp_passwd_->setEchoMode(QLineEdit::PasswordEchoOnEdit);
  auto* layout = new QFormLayout(page);
  layout->addRow(label_for(tr("Flash Version String"), rtmp_flash_ver_, page), rtmp_flash_ver_);
  layout->addRow(label_for(tr("SWF URL Verify"), rtmp_swf_url_, page), rtmp_swf_url_);
  layout->addRow(label_for(tr("Publish Username"), rtmp_user_, page), rtmp_user_);
  layout->addRow(label_for(tr("Publish Password"), rtmp_passwd_, page), rtmp_passwd_);
  return page;
}

QWidget* AdvancedSettingsDialog::make_hls_page() {
  hls_page_ = new QWidget;
  QWidget* page = hls_page_;
  hls_mpegts_ = radio_button(tr("MPEG-TS"), "hls_mpegts", page);
  hls_fmp4_ = radio_button(tr("Fragmented MP4"), "hls_fmp4", page);
  hls_segment_length_ = number_box("hls_segment_length", 1, 9999, page);
  // From 0, so that the record's refusal of an empty playlist can be reached and shown.
  hls_playlist_size_ = number_box("hls_playlist_size", 0, kLargestInt, page);
  hls_index_start_ = number_box("hls_index_start", kSmallestInt, kLargestInt, page);
  hls_base_url_ = text_box("hls_base_url", page);
  hls_key_info_file_ = text_box("hls_key_info_file", page);
  hls_master_name_ = text_box("hls_master_name", page);
  hls_master_label_ = label_for(tr("Master Playlist Name"), hls_master_name_, page);
  same_width({hls_segment_length_, hls_playlist_size_, hls_index_start_});

  auto* layout = new QFormLayout(page);
  layout->addRow(tr("Segment Format"), choice_row(hls_mpegts_, hls_fmp4_));
  layout->addRow(label_for(tr("Segment Length"), hls_segment_length_, page),
                 number_row(hls_segment_length_, tr("sec")));
  layout->addRow(label_for(tr("Playlist Entry Size"), hls_playlist_size_, page),
                 number_row(hls_playlist_size_));
  layout->addRow(label_for(tr("Segment Index Start"), hls_index_start_, page),
                 number_row(hls_index_start_));
  layout->addRow(label_for(tr("Playlist Base URL"), hls_base_url_, page), hls_base_url_);
  layout->addRow(label_for(tr("AES128 Encryption Key Info File"), hls_key_info_file_, page),
                 hls_key_info_file_);
  layout->addRow(hls_master_label_, hls_master_name_);
  return page;
}

QWidget* AdvancedSettingsDialog::make_srt_page() {
  srt_page_ = new QWidget;
  QWidget* page = srt_page_;
  srt_caller_ = radio_button(tr("Caller"), "srt_caller", page);
  srt_listener_ = radio_button(tr("Listener"), "srt_listener", page);

  const auto connection_group = [page](const QString& title, const char* remote_name,
                                       const char* local_name, QLineEdit** remote,
                                       QComboBox** local) {
    auto* group = new QGroupBox(title, page);
    *remote = text_box(remote_name, group);
    *local = free_text_list(local_name, group);
    auto* form = new QFormLayout(group);
    form->addRow(label_for(tr("Remote IP"), *remote, group), *remote);
    form->addRow(label_for(tr("Local IP"), *local, group), *local);
    return group;
  };
  QGroupBox* first = connection_group(tr("Connection #1"), "srt_remote1", "srt_local1",
                                      &srt_remote1_, &srt_local1_);
  QGroupBox* second = connection_group(tr("Connection #2 (Bonded Connection)"), "srt_remote2",
                                       "srt_local2", &srt_remote2_, &srt_local2_);
  srt_main_backup_ = radio_button(tr("Main/Backup"), "srt_main_backup", page);
  srt_broadcast_ = radio_button(tr("Broadcast"), "srt_broadcast", page);
  srt_minstable_timeout_ = number_box("srt_minstable_timeout", 0, kLargestInt, page);
  auto* bonding_label = new QLabel(tr("Bonding Type"), page);
  QLabel* timeout_label =
      label_for(tr("Minimum Stable Timeout (ms)"), srt_minstable_timeout_, page);
  srt_caller_widgets_ = {first,          second,        bonding_label,         srt_main_backup_,
                         srt_broadcast_, timeout_label, srt_minstable_timeout_};

  // One form, so that the mode and the bonding rows line up.
  auto* layout = new QFormLayout(page);
  layout->addRow(tr("SRT Mode"), choice_row(srt_caller_, srt_listener_));
  layout->addRow(first);
  layout->addRow(second);
  layout->addRow(bonding_label, choice_row(srt_main_backup_, srt_broadcast_));
  layout->addRow(timeout_label, number_row(srt_minstable_timeout_));
  return page;
}

QWidget* AdvancedSettingsDialog::make_custom_page() {
  auto* page = new QWidget;
  const auto parameters_box = [page](const char* name) {
    auto* edit = new ParametersBox(page);
    edit->setObjectName(name);
    // Tab moves on: the options have no use for a tab character.
    edit->setTabChangesFocus(true);
    return edit;
  };
  custom_source_ = parameters_box("custom_source");
  custom_target_ = parameters_box("custom_target");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(label_for(tr("Source Parameters"), custom_source_, page));
  layout->addWidget(custom_source_);
  layout->addWidget(label_for(tr("Target Parameters"), custom_target_, page));
  layout->addWidget(custom_target_);
  return page;
}

void AdvancedSettingsDialog::connect_signals() {
  connect(mpegts_in_add_, &QPushButton::clicked, this, &AdvancedSettingsDialog::add_input_row);
  connect(mpegts_in_remove_, &QPushButton::clicked, this, &AdvancedSettingsDialog::remove_input_row);
  connect(mpegts_out_add_, &QPushButton::clicked, this, &AdvancedSettingsDialog::add_output_program);
  connect(mpegts_out_remove_, &QPushButton::clicked, this,
          &AdvancedSettingsDialog::remove_output_program);
  // The record decides what the new state enables.
  connect(fec_on_, &QCheckBox::toggled, this, [this](bool on) {
    settings_.mpegts_out.fec_on = on;
    show_enable_rules();
  });
  connect(srt_listener_, &QRadioButton::toggled, this, [this](bool on) {
    settings_.srt.mode = on ? 1 : 0;
    show_enable_rules();
  });
}

void AdvancedSettingsDialog::show_tables() {
  show_rows(mpegts_in_table_, settings_.mpegts_in.SourceStreamList, kInputCells);
  show_rows(mpegts_out_table_, settings_.mpegts_out.ProgramList, kOutputCells);
}

void AdvancedSettingsDialog::read_tables() {
  read_rows(mpegts_in_table_, settings_.mpegts_in.SourceStreamList, kInputCells);
  read_rows(mpegts_out_table_, settings_.mpegts_out.ProgramList, kOutputCells);
}

void AdvancedSettingsDialog::show_settings() {
  show_tables();

  const MpegTsOutputSettings& out = settings_.mpegts_out;
  show_text(pmt_pid_, out.pmt_pid);
  show_text(provider_, out.provider);
  show_text(video_pid_, out.video_pid);
  show_text(audio_pid_, out.audio_pid);
  show_text(subtitle_pid_, out.subtitle_pid);
  fec_on_->setChecked(out.fec_on);
  show_number(fec_columns_, out.fec_columns);
  show_number(fec_rows_, out.fec_rows);

  const RtmpSettings& rtmp = settings_.rtmp;
  show_text(rtmp_flash_ver_, rtmp.flash_ver);
  show_text(rtmp_swf_url_, rtmp.swf_url);
  show_text(rtmp_user_, rtmp.user);
  show_text(rtmp_passwd_, rtmp.passwd);

  const HlsSettings& hls = settings_.hls;
  (hls.segment_format == 1 ? hls_fmp4_ : hls_mpegts_)->setChecked(true);
  show_number(hls_segment_length_, hls.segment_length);
  show_number(hls_playlist_size_, hls.playlist_size);
  show_number(hls_index_start_, hls.index_start);
  show_text(hls_base_url_, hls.base_url);
  show_text(hls_key_info_file_, hls.key_info_file);
  show_text(hls_master_name_, hls.master_name);

  const SrtSettings& srt = settings_.srt;
  (srt.mode == 1 ? srt_listener_ : srt_caller_)->setChecked(true);
  show_text(srt_remote1_, srt.remote1);
  show_choices(srt_local1_, srt.local_address_choices, srt.local1);
  show_text(srt_remote2_, srt.remote2);
  show_choices(srt_local2_, srt.local_address_choices, srt.local2);
  (srt.bonding == 1 ? srt_broadcast_ : srt_main_backup_)->setChecked(true);
  show_number(srt_minstable_timeout_, srt.minstable_timeout);

  show_text(custom_source_, settings_.custom.source_params);
  show_text(custom_target_, settings_.custom.target_params);
  show_enable_rules();
}

void AdvancedSettingsDialog::show_enable_rules() {
  const MpegTsOutputSettings& out = settings_.mpegts_out;
  mpegts_out_page_->setEnabled(out.enabled);
  fec_on_->setEnabled(out.fec_enabled);
  fec_matrix_->setEnabled(out.fec_matrix_enabled());
  rtmp_page_->setEnabled(settings_.rtmp.enabled);
  hls_page_->setEnabled(settings_.hls.enabled);
  hls_master_label_->setEnabled(settings_.hls.master_enabled);
  hls_master_name_->setEnabled(settings_.hls.master_enabled);
  srt_page_->setEnabled(settings_.srt.enabled);
  for (QWidget* widget : srt_caller_widgets_)
    widget->setEnabled(settings_.srt.caller_controls_enabled());
}

void AdvancedSettingsDialog::read_settings() {
  read_tables();

  MpegTsOutputSettings& out = settings_.mpegts_out;
  out.pmt_pid = utf8_text(pmt_pid_->text());
  out.provider = utf8_text(provider_->text());
  out.video_pid = utf8_text(video_pid_->text());
  out.audio_pid = utf8_text(audio_pid_->text());
  out.subtitle_pid = utf8_text(subtitle_pid_->text());
  out.fec_on = fec_on_->isChecked();
  out.fec_columns = read_number(fec_columns_);
  out.fec_rows = read_number(fec_rows_);

  RtmpSettings& rtmp = settings_.rtmp;
  rtmp.flash_ver = utf8_text(rtmp_flash_ver_->text());
  rtmp.swf_url = utf8_text(rtmp_swf_url_->text());
  rtmp.user = utf8_text(rtmp_user_->text());
  rtmp.passwd = utf8_text(rtmp_passwd_->text());

  HlsSettings& hls = settings_.hls;
  hls.segment_format = hls_fmp4_->isChecked() ? 1 : 0;
  hls.segment_length = read_count(hls_segment_length_);
  hls.playlist_size = read_count(hls_playlist_size_);
  hls.index_start = read_number(hls_index_start_);
  hls.base_url = utf8_text(hls_base_url_->text());
  hls.key_info_file = utf8_text(hls_key_info_file_->text());
  hls.master_name = utf8_text(hls_master_name_->text());

  SrtSettings& srt = settings_.srt;
  srt.mode = srt_listener_->isChecked() ? 1 : 0;
  srt.remote1 = utf8_text(srt_remote1_->text());
  srt.local1 = utf8_text(srt_local1_->currentText());
  srt.remote2 = utf8_text(srt_remote2_->text());
  srt.local2 = utf8_text(srt_local2_->currentText());
  srt.bonding = srt_broadcast_->isChecked() ? 1 : 0;
  srt.minstable_timeout = read_count(srt_minstable_timeout_);

  settings_.custom.source_params = utf8_text(custom_source_->toPlainText());
  settings_.custom.target_params = utf8_text(custom_target_->toPlainText());
}

void AdvancedSettingsDialog::reject() {
  settings_.cancel();
  show_settings();
  QDialog::reject();
}

void AdvancedSettingsDialog::add_input_row() {
  read_rows(mpegts_in_table_, settings_.mpegts_in.SourceStreamList, kInputCells);
  settings_.mpegts_in.add_row();
  show_rows(mpegts_in_table_, settings_.mpegts_in.SourceStreamList, kInputCells);
  mpegts_in_table_->edit_last_row();
}

void AdvancedSettingsDialog::add_output_program() {
  read_rows(mpegts_out_table_, settings_.mpegts_out.ProgramList, kOutputCells);
  settings_.mpegts_out.add_program();
  show_rows(mpegts_out_table_, settings_.mpegts_out.ProgramList, kOutputCells);
  mpegts_out_table_->edit_last_row();
}

void AdvancedSettingsDialog::remove_input_row() {
  const int row = mpegts_in_table_->selected_row();
  if (row < 0) return;
  read_rows(mpegts_in_table_, settings_.mpegts_in.SourceStreamList, kInputCells);
  settings_.mpegts_in.remove_row(static_cast<std::size_t>(row));
  show_rows(mpegts_in_table_, settings_.mpegts_in.SourceStreamList, kInputCells);
  mpegts_in_table_->select_row_near(row);
}

void AdvancedSettingsDialog::remove_output_program() {
  const int row = mpegts_out_table_->selected_row();
  if (row < 0) return;
  read_rows(mpegts_out_table_, settings_.mpegts_out.ProgramList, kOutputCells);
  settings_.mpegts_out.remove_row(static_cast<std::size_t>(row));
  show_rows(mpegts_out_table_, settings_.mpegts_out.ProgramList, kOutputCells);
  mpegts_out_table_->select_row_near(row);
}

}  // namespace vx
