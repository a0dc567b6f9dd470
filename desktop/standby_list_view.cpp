#include "desktop/standby_list_view.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <string>

#include "desktop/qt_text.h"
#include "desktop/widget_kit.h"
#include "vocabulary/input_switch_report.h"

namespace vx {
namespace {

constexpr int kSpacing = 4;

QPushButton* row_button(const QString& text, const QString& tip, const std::string& name,
                        QWidget* parent) {
  QPushButton* button = push_button(text, name.c_str(), parent);
  button->setToolTip(tip);
  button->setFixedWidth(button->sizeHint().height() + kSpacing);
  return button;
}

const char* condition_word(SwitchCondition condition) {
  return switch_condition_key(condition);
}

}  // namespace

StandbyListView::StandbyListView(QWidget* parent) : QGroupBox(tr("Standby Sources"), parent) {
  setObjectName("standby_sources");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, kSpacing, 6, kSpacing);
  layout->setSpacing(kSpacing);

  rows_grid_ = new QGridLayout;
  rows_grid_->setHorizontalSpacing(kSpacing);
  rows_grid_->setVerticalSpacing(kSpacing);
  rows_grid_->setColumnStretch(2, 1);
  for (int row = 0; row < kMaxStandbySources; ++row)
    rows_.push_back(make_row(row));
  layout->addLayout(rows_grid_);
  none_ = new QLabel(tr("No standby source: only the channel's own source is played."), this);
  none_->setObjectName("standby_none");
  layout->addWidget(none_);

  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(kSpacing);
  add_ = push_button(tr("Add Standby Source"), "standby_add", this);
  add_->setToolTip(tr("Add a live source that goes on air when the one on air fails"));
  bottom->addWidget(add_);
  connect(add_, &QPushButton::clicked, this, &StandbyListView::addClicked);
  bottom->addStretch(1);
  bottom->addWidget(new QLabel(tr("Switch on"), this));
  for (const SwitchCondition condition : kSwitchConditions) {
    auto* box = new QLineEdit(this);
    box->setObjectName(qt_text(switch_on_control(condition)));
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
    box->setToolTip(tr("Seconds of %1 after which the next input goes on air; 0 = off")
                        .arg(QString::fromLatin1(condition_word(condition))));
    bottom->addSpacing(2 * kSpacing);
    bottom->addWidget(label_for(QString::fromLatin1(condition_word(condition)), box, this));
    bottom->addWidget(box);
    bottom->addWidget(new QLabel(tr("s"), this));
    seconds_[static_cast<std::size_t>(condition)] = box;
  }
  layout->addLayout(bottom);
  auto* hint = new QLabel(tr("The next input goes on air once the one on air has been black, "
                             "silent or frozen for that many seconds; 0 = off."),
                          this);
  hint->setWordWrap(true);
  hint->setEnabled(false);  // drawn as a note
  layout->addWidget(hint);
}

StandbyListView::~StandbyListView() = default;

StandbyListView::Row StandbyListView::make_row(int row) {
  const std::string number = std::to_string(row + 1);
  Row made;
  made.number = new QLabel(QString::fromStdString(number), this);
  made.type = new QComboBox(this);
  made.type->setObjectName(qt_text("standby_type_" + number));
  for (const SourceTypeEntry& entry : source_type_entries())
    made.type->addItem(QString::fromLatin1(entry.text));
  made.address = new QLineEdit(this);
  made.address->setObjectName(qt_text(standby_address_control(row + 1)));
  made.up = row_button(QStringLiteral("\u2191"), tr("Try this source earlier"),
                       "standby_up_" + number, this);
  made.down = row_button(QStringLiteral("\u2193"), tr("Try this source later"),
                         "standby_down_" + number, this);
  made.remove = row_button(QStringLiteral("\u00d7"), tr("Remove this standby source"),
                           "standby_remove_" + number, this);
  rows_grid_->addWidget(made.number, row, 0);
  rows_grid_->addWidget(made.type, row, 1);
  rows_grid_->addWidget(made.address, row, 2);
  rows_grid_->addWidget(made.up, row, 3);
  rows_grid_->addWidget(made.down, row, 4);
  rows_grid_->addWidget(made.remove, row, 5);
  connect(made.type, &QComboBox::activated, this,
          [this, row](int type) { emit typeChosen(row, type); });
  connect(made.up, &QPushButton::clicked, this, [this, row] { emit moveClicked(row, -1); });
  connect(made.down, &QPushButton::clicked, this, [this, row] { emit moveClicked(row, 1); });
  connect(made.remove, &QPushButton::clicked, this, [this, row] { emit removeClicked(row); });
  return made;
}

void StandbyListView::show_fields(const StandbyFields& fields,
                                  const StandbyListControls& controls) {
  const int count = static_cast<int>(fields.sources.size());
  for (int row = 0; row < static_cast<int>(rows_.size()); ++row) {
    const Row& shown = rows_[static_cast<std::size_t>(row)];
    const bool used = row < count;
    for (QWidget* widget : {shown.number, static_cast<QWidget*>(shown.type),
                            static_cast<QWidget*>(shown.address), static_cast<QWidget*>(shown.up),
                            static_cast<QWidget*>(shown.down), static_cast<QWidget*>(shown.remove)})
      widget->setVisible(used);
    if (!used) continue;
    const StandbyRow& source = fields.sources[static_cast<std::size_t>(row)];
    {
      const QSignalBlocker blocker(shown.type);
      shown.type->setCurrentIndex(static_cast<int>(source.type));
    }
    show_text(shown.address, source.address);
    shown.type->setEnabled(controls.editable);
    shown.address->setEnabled(controls.editable);
    shown.remove->setEnabled(controls.editable);
    const StandbyRowControls moves = row < static_cast<int>(controls.rows.size())
                                         ? controls.rows[static_cast<std::size_t>(row)]
                                         : StandbyRowControls{};
    shown.up->setEnabled(moves.up);
    shown.down->setEnabled(moves.down);
  }
  none_->setVisible(count == 0);
  add_->setEnabled(controls.add);
  for (std::size_t box = 0; box < seconds_.size(); ++box) {
    show_text(seconds_[box], fields.seconds[box]);
    seconds_[box]->setEnabled(controls.editable);
  }
}

void StandbyListView::read_fields(StandbyFields& fields) const {
  for (std::size_t row = 0; row < fields.sources.size() && row < rows_.size(); ++row)
    fields.sources[row].address = utf8_text(rows_[row].address->text());
  for (std::size_t box = 0; box < seconds_.size(); ++box)
    fields.seconds[box] = utf8_text(seconds_[box]->text());
}

bool StandbyListView::names_control(std::string_view control) const {
  return findChild<QWidget*>(qt_text(control)) != nullptr;
}

void StandbyListView::focus_control(std::string_view control) {
  auto* widget = findChild<QWidget*>(qt_text(control));
  if (widget == nullptr) return;
  widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

}  // namespace vx
