// The channel list of the main window: one row per channel (number, source, bind, memo, status,
// the live thumbnail and the sparklines of the last ten minutes) painted from the records of
// window_logic/channel_rows.h, channel_glance.h and history_sparklines.h, the hover buttons over
// the Status cell of the row under the pointer, and the in-place source cells of the row being
// edited, which follow the row when the list scrolls. It decides nothing: the window tells it what
// to show and hears what the operator did through its signals.
#pragma once

#include <QTreeView>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vocabulary/channel_state.h"
#include "window_logic/channel_glance.h"
#include "window_logic/channel_rows.h"
#include "window_logic/source_cells.h"

class QComboBox;
class QHelpEvent;
class QLineEdit;
class QToolButton;

namespace vx {

class ChannelListModel;

// What a hover button asks for.
enum class HoverCommand { start, stop, previous_file, next_file };

class ChannelListView final : public QTreeView {
  Q_OBJECT

 public:
  explicit ChannelListView(QWidget* parent = nullptr);
  ~ChannelListView() override;

  // Which hover buttons a row offers now (the window asks the supervisor); asked whenever the
  // buttons are placed on a row.
  void set_hover_rule(std::function<HoverButtons(int row)> rule);

  // ----- rows -----
  void clear_rows();
  // Appends a row showing the texts and "IDLE".
  void add_row(const ChannelRowTexts& texts);
  // Deletes the row; the rows after it get their new numbers.
  void remove_row(int row);
  void set_row_texts(int row, const ChannelRowTexts& texts);
  // The Status cell: the state's picture and the text. Nothing is repainted when both are what
  // the row shows already; a change of state places the hover buttons again.
  void set_row_state(int row, ChannelState state, const std::string& text);
  int row_count() const;
  // The row's last ten minutes as sparklines; repainted only when the samples changed.
  void set_row_history(int row, std::vector<HistorySample> history);
  // The row's live thumbnail, decoded only when its tag differs from the picture shown; nothing
  // clears the cell.
  void set_row_picture(int row, const std::optional<Thumbnail>& picture);
  std::optional<int> selected_row() const;
  // The width of the picture and history columns together.
  int glance_width() const;
  // Selects the row (none: clears the selection) and scrolls it into view. Emits rowSelected
  // only when the selection changes.
  void select_row(std::optional<int> row);
  // The hover buttons are placed again on the row under the pointer (its state changed).
  void refresh_hover_buttons();

  // ----- the source cells -----
  // Shows the cells on `row` filled from the record (type, address, bind, memo), or hides them
  // when `row` is nullopt. The browse button shows for the record's browse() kinds.
  void show_cells(std::optional<int> row, const SourceCells& cells);
  // What the operator typed (address, bind, memo) into the record.
  void read_cells(SourceCells& cells) const;
  // Puts the keyboard focus on a cell by its refusal name (kSourceAddressControl,
  // kSourceBindControl).
  void focus_cell(std::string_view control);

 signals:
  // The selected row changed; -1 when none is selected.
  void rowSelected(int row);
  // A double click asks to edit the row.
  void editRequested(int row);
  void hoverCommand(vx::HoverCommand command, int row);
  // The operator chose another source type in the cells (an index of source_type_entries()).
  void sourceTypeChosen(int type);
  // The cells' "..." was pressed; `below_left` is the button's lower left corner on the screen,
  // where its menu opens.
  void browseRequested(QPoint below_left);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  void paintEvent(QPaintEvent* event) override;
  // The header's own mouse moves hide the hover buttons.
  bool eventFilter(QObject* watched, QEvent* event) override;

  int scaled(int pixels) const;
  int row_at(QPoint viewport_position) const;
  void make_hover_buttons();
  void make_cells();
  void fit_source_column();
  // Pixels the Status cell needs to show `text` whole.
  int status_width(const QString& text) const;
  // Widens the Status column (never narrows it) so `text` shows whole, up to a limit.
  void widen_status_column(const QString& text);
  void emit_selection();

  void hover_over(int row);
  void place_hover_buttons();
  void hide_hover_buttons();
  void hide_start_and_stop();

  void place_cells();
  void hide_cells();
  void show_tip(const QHelpEvent& event);

  ChannelListModel* model_ = nullptr;
  int row_height_ = 0;
  std::function<HoverButtons(int row)> hover_rule_;
  int hover_row_ = -1;
  std::optional<int> cells_row_;
  bool cells_browse_ = false;

  QToolButton* start_ = nullptr;
  QToolButton* stop_ = nullptr;
  QToolButton* previous_ = nullptr;
  QToolButton* next_ = nullptr;

  QComboBox* type_ = nullptr;
  QLineEdit* address_ = nullptr;
  QToolButton* browse_ = nullptr;
  QLineEdit* bind_ = nullptr;
  QLineEdit* memo_ = nullptr;
};

}  // namespace vx
