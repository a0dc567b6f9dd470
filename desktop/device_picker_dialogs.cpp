#include "desktop/device_picker_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>
#include <variant>
#include <vector>

#include "desktop/message_boxes.h"
#include "desktop/qt_text.h"

namespace vx {
namespace {

// How often an NDI search under way is asked whether it has ended.
constexpr int kNdiPollMs = 50;

QLabel* plain_label(const char* text, QWidget* buddy = nullptr) {
  auto* label = new QLabel(qt_text(text));
  label->setTextFormat(Qt::PlainText);  // "<Tip> ..." is no markup
  label->setBuddy(buddy);
  return label;
}

QLabel* note(const char* text) {
  QLabel* label = plain_label(text);
  label->setWordWrap(true);
  return label;
}

// A list of lines, first shown about `columns` characters wide and `rows` lines tall; the layout
// gives it any room beyond.
class LineList final : public QListWidget {
 public:
  LineList(const char* name, int columns, int rows) : columns_(columns), rows_(rows) {
    setObjectName(name);
    setSelectionMode(QAbstractItemView::SingleSelection);
  }

  QSize sizeHint() const override {
    const QFontMetrics metrics = fontMetrics();
    return {columns_ * metrics.averageCharWidth() + 2 * frameWidth(),
            rows_ * metrics.lineSpacing() + 2 * frameWidth()};
  }

 private:
  int columns_;
  int rows_;
};

// Replaces the lines and selects `chosen`; no selection signal is raised by it.
void show_lines(QListWidget* list, const std::vector<std::string>& lines,
                std::optional<std::size_t> chosen) {
  const QSignalBlocker blocker(list);
  list->clear();
  for (const std::string& line : lines)
    list->addItem(qt_text(line));
  if (chosen && *chosen < lines.size()) list->setCurrentRow(static_cast<int>(*chosen));
}

// The selected line; a line that is only current (as after tabbing into the list) is not chosen.
std::optional<std::size_t> selected_line(const QListWidget* list) {
  const QModelIndexList selected = list->selectionModel()->selectedIndexes();
  if (selected.isEmpty()) return std::nullopt;
  return static_cast<std::size_t>(selected.front().row());
}

// A free-text box for one capture size number.
QComboBox* size_box(const char* name) {
  auto* box = new QComboBox;
  box->setObjectName(name);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setCompleter(nullptr);
  box->setMinimumContentsLength(6);
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  return box;
}

QComboBox* device_box(const char* name, const std::vector<CaptureDeviceEntry>& entries) {
  auto* box = new QComboBox;
  box->setObjectName(name);
  for (const CaptureDeviceEntry& entry : entries)
    box->addItem(qt_text(entry.label));
  box->setMinimumContentsLength(28);
  return box;
}

// "Select" (the default button) and Cancel.
QDialogButtonBox* select_buttons(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
  QPushButton* select = buttons->addButton("Select", QDialogButtonBox::AcceptRole);
  select->setObjectName("select");
  select->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// A record's answer to OK or Select: a choice is kept and closes the dialog with OK, a refusal
// is shown and sends the focus to the control it names, nothing closes it as cancelled.
template <typename Choice>
void take_answer(QDialog& dialog, PickerAnswer<Choice> answer, std::optional<Choice>& choice) {
  if (auto* chosen = std::get_if<Choice>(&answer)) {
    choice = std::move(*chosen);
    dialog.accept();
  } else if (const auto* refusal = std::get_if<EditRefusal>(&answer)) {
    show_dialog_message(&dialog, refusal->message);
    if (auto* control = dialog.findChild<QWidget*>(qt_text(refusal->focus))) {
      control->setFocus(Qt::OtherFocusReason);
    }
  } else {
    dialog.reject();
  }
}

}  // namespace

// ----- capture devices ----------------------------------------------------------------------

CaptureDeviceDialog::CaptureDeviceDialog(CaptureDevicePicker& picker, QWidget* parent)
    : QDialog(parent), picker_(picker) {
  setWindowTitle(kCaptureDeviceDialogTitle);
  video_ = device_box(kCaptureVideoControl, picker_.video_entries());
  audio_ = device_box(kCaptureAudioControl, picker_.audio_entries());
  width_ = size_box(kCaptureWidthControl);
  height_ = size_box("height");

  auto* size = new QHBoxLayout;
  size->addWidget(width_);
  size->addWidget(new QLabel("x"));
  size->addWidget(height_);
  size->addStretch(1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CaptureDeviceDialog::ok);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* form = new QFormLayout(this);
  form->addRow(plain_label("&Video Device", video_), video_);
  form->addRow(plain_label("&Audio Device", audio_), audio_);
  form->addRow(plain_label("Capture &Size", width_), size);
  form->addRow(buttons);
  draw();
}

void CaptureDeviceDialog::draw() {
  video_->setCurrentIndex(static_cast<int>(picker_.video_choice()));
  audio_->setCurrentIndex(static_cast<int>(picker_.audio_choice()));
  width_->setEditText(qt_text(picker_.options().width));
  height_->setEditText(qt_text(picker_.options().height));
}

void CaptureDeviceDialog::read_widgets() {
  picker_.choose_video(static_cast<std::size_t>(video_->currentIndex()));
  picker_.choose_audio(static_cast<std::size_t>(audio_->currentIndex()));
  picker_.options().width = utf8_text(width_->currentText());
  picker_.options().height = utf8_text(height_->currentText());
}

void CaptureDeviceDialog::ok() {
  read_widgets();
  take_answer(*this, picker_.accept(), device_text_);
}

// ----- DeckLink cards -----------------------------------------------------------------------

DeckLinkDialog::DeckLinkDialog(DeckLinkPicker& picker, QWidget* parent)
    : QDialog(parent), picker_(picker) {
  setWindowTitle(kDeckLinkDialogTitle);
  devices_ = new LineList("devices", 56, 5);
  formats_ = new LineList(kDeckLinkFormatsControl, 56, 10);
  QDialogButtonBox* buttons = select_buttons(this);
  connect(buttons, &QDialogButtonBox::accepted, this, &DeckLinkDialog::select);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(plain_label("Decklink Devices", devices_));
  layout->addWidget(devices_);
  layout->addWidget(plain_label("Device Formats", formats_));
  layout->addWidget(formats_, 1);
  layout->addWidget(note(kDeckLinkTip));
  layout->addWidget(buttons);

  show_lines(devices_, picker_.device_lines(), picker_.device());
  draw_formats();
  connect(devices_, &QListWidget::itemSelectionChanged, this, [this] {
    if (const std::optional<std::size_t> device = selected_line(devices_)) {
      picker_.choose_device(*device);
      draw_formats();
    }
  });
  connect(formats_, &QListWidget::itemSelectionChanged, this,
          [this] { picker_.choose_format(selected_line(formats_)); });
}

void DeckLinkDialog::draw_formats() {
  show_lines(formats_, picker_.format_lines(), picker_.format());
}

void DeckLinkDialog::select() {
  take_answer(*this, picker_.select(), choice_);
}

// ----- NDI sources --------------------------------------------------------------------------

NdiSourcePicker::NdiSourcePicker(NdiPicker& picker, QWidget* parent) : QDialog(parent), picker_(picker) {
  setWindowTitle(kNdiDialogTitle);
  sources_ = new LineList(kNdiSourcesControl, 60, 10);
  timeout_ = new QLineEdit(qt_text(picker_.timeout_text));
  timeout_->setObjectName("timeout");
  // Room for a few digits, not the row's whole width.
  timeout_->setMaximumWidth(timeout_->fontMetrics().horizontalAdvance(QStringLiteral("00000000")));
  auto* search_again = new QPushButton("Search Again");
  search_again->setObjectName("search_again");
  QDialogButtonBox* buttons = select_buttons(this);
  connect(buttons, &QDialogButtonBox::accepted, this, &NdiSourcePicker::select);
  connect(search_again, &QPushButton::clicked, this, &NdiSourcePicker::search);
  connect(sources_, &QListWidget::itemSelectionChanged, this,
          [this] { picker_.choose_source(selected_line(sources_)); });

  auto* search_row = new QHBoxLayout;
  search_row->addWidget(plain_label("Search Timeout", timeout_));
  search_row->addWidget(timeout_);
  search_row->addWidget(new QLabel("seconds"));
  search_row->addStretch(1);
  search_row->addWidget(search_again);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(plain_label("NDI Sources", sources_));
  layout->addWidget(sources_, 1);
  layout->addLayout(search_row);
  layout->addWidget(note(kNdiNote));
  layout->addWidget(buttons);

  poll_ = new QTimer(this);
  poll_->setInterval(kNdiPollMs);
  connect(poll_, &QTimer::timeout, this, &NdiSourcePicker::poll);
  first_search_ = new QTimer(this);
  first_search_->setSingleShot(true);
  connect(first_search_, &QTimer::timeout, this, &NdiSourcePicker::search);
  first_search_->start(kNdiFirstSearchDelayMs);
  draw_sources();
}

NdiSourcePicker::~NdiSourcePicker() {
  show_busy(false);
}

void NdiSourcePicker::done(int result) {
  first_search_->stop();
  poll_->stop();
  show_busy(false);
  QDialog::done(result);
}

void NdiSourcePicker::search() {
  picker_.timeout_text = utf8_text(timeout_->text());
  picker_.search();
  draw_sources();
  show_busy(true);
  poll_->start();
}

void NdiSourcePicker::poll() {
  if (!picker_.poll()) return;
  poll_->stop();
  show_busy(false);
  draw_sources();
}

void NdiSourcePicker::draw_sources() {
  if (picker_.searching()) {
    show_lines(sources_, {kNdiSearching}, std::nullopt);
  } else {
    show_lines(sources_, picker_.source_lines(), picker_.source());
  }
}

void NdiSourcePicker::show_busy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::BusyCursor);  // the window stays usable meanwhile
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void NdiSourcePicker::select() {
  picker_.timeout_text = utf8_text(timeout_->text());
  take_answer(*this, picker_.select(), choice_);
}

}  // namespace vx
