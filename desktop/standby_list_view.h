// The standby list and the switch-on boxes in Qt, under the channel list: a row per standby
// source (its number, type, address, up, down and remove buttons), the Add button and the three
// boxes of seconds. It draws the StandbyList record and its controls, hands back what the
// operator typed, and reports every button and type choice through a signal; the window passes
// them to the toolkit-free StandbyList and draws it again. The view decides nothing.
#pragma once

#include <QGroupBox>

#include <array>
#include <string_view>
#include <vector>

#include "settings/standby_sources.h"
#include "window_logic/standby_list.h"

class QComboBox;
class QGridLayout;
class QLineEdit;
class QPushButton;

namespace vx {

class StandbyListView final : public QGroupBox {
  Q_OBJECT

 public:
  explicit StandbyListView(QWidget* parent = nullptr);
  ~StandbyListView() override;

  // Shows the rows and boxes and which controls are usable; no signal is raised by it.
  void show_fields(const StandbyFields& fields, const StandbyListControls& controls);
  // The typed addresses and seconds into the record (the types and rows reach it through the
  // signals only).
  void read_fields(StandbyFields& fields) const;
  // Whether a refusal's focus name is one of the list's, and putting the focus there.
  bool names_control(std::string_view control) const;
  void focus_control(std::string_view control);

 signals:
  void addClicked();
  void removeClicked(int row);
  // The row moves `by` places (-1 up, 1 down).
  void moveClicked(int row, int by);
  void typeChosen(int row, int type);

 private:
  struct Row {
    QWidget* number = nullptr;
    QComboBox* type = nullptr;
    QLineEdit* address = nullptr;
    QPushButton* up = nullptr;
    QPushButton* down = nullptr;
    QPushButton* remove = nullptr;
  };
  Row make_row(int row);

  QGridLayout* rows_grid_ = nullptr;
  std::vector<Row> rows_;
  QWidget* none_ = nullptr;
  QPushButton* add_ = nullptr;
  std::array<QLineEdit*, kSwitchConditionCount> seconds_{};
};

}  // namespace vx
