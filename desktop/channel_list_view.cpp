#include "desktop/channel_list_view.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImageReader>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QToolButton>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>

#include "desktop/qt_text.h"
#include "window_logic/history_sparklines.h"

// The pictures are compiled into this static library, whose object files the linker only keeps
// when something names them.
static void load_pictures() {
  Q_INIT_RESOURCE(pictures);
}

namespace vx {
namespace {

constexpr int kColumnCount = 7;
// Widths at 96 dots per inch.
constexpr std::array<int, kColumnCount> kColumnWidths = {20, 230, 40, 80, 190, 68, 132};
// Rows are tall enough for a thumbnail that can be recognised (16:9 at 60 x 34) and for two
// sparklines one above the other.
constexpr int kGlanceRowHeight = 38;
constexpr int kGlanceMargin = 2;
// The history cell: the margin around its box, and the gap between its two lines.
constexpr int kHistoryMargin = 3;
constexpr int kSparklineGap = 3;
// What the "Media Source" column leaves to the number column and the frame when it takes the
// rest of the list's width.
constexpr int kSourceColumnSlack = 38;
constexpr int kHoverButtonWidth = 20;
constexpr int kTypeCellWidth = 60;
constexpr int kBrowseCellWidth = 16;
constexpr int kIconSize = 20;
constexpr int kTextMargin = 2;
// The Status column holds at least a long run's figures; a longer text (a folder channel's file
// name) widens it up to kStatusColumnMost.
constexpr const char* kLongProgressText = "00:00:00   000fps@00000Kbps";
constexpr int kStatusColumnMost = 420;

const QColor kEvenRow(120, 120, 120);
const QColor kOddRow(100, 100, 100);
const QColor kSelectedRow(60, 90, 140);
const QColor kBelowRows(110, 110, 110);
const QColor kHistoryBox(0, 0, 0, 45);
const QColor kNoSignal(230, 40, 40, 120);
const QColor kFpsLine(150, 240, 120);
const QColor kBitrateLine(130, 200, 255);

// The tip broken into lines that fit a tip `width` pixels wide: between words where it can, else
// anywhere (an address has no spaces).
QString tip_lines(const QString& text, int width) {
  const QFont font = QToolTip::font();
  // What the tip's frame and margins take from its width.
  const int frame = 2 * (QApplication::style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth) +
                         QFontMetrics(font).horizontalAdvance(QLatin1Char(' ')));
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(std::max(1, width - frame));
    lines << text.mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  return lines.join(QLatin1Char('\n'));
}

int column_index(ChannelColumn column) {
  return static_cast<int>(column);
}

// A thumbnail decoded straight to the size it is shown at (the JPEG reader scales while it
// decodes); nothing when the bytes are no picture.
QPixmap decoded_thumbnail(const std::string& jpeg, QSize box, qreal pixel_ratio) {
  QByteArray bytes = QByteArray::fromRawData(jpeg.data(), static_cast<qsizetype>(jpeg.size()));
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer, "jpeg");
  const QSize size = reader.size();
  if (size.isEmpty()) return {};
  reader.setScaledSize(size.scaled(box * pixel_ratio, Qt::KeepAspectRatio));
  QImage image = reader.read();
  if (image.isNull()) return {};
  QPixmap picture = QPixmap::fromImage(std::move(image));
  picture.setDevicePixelRatio(pixel_ratio);
  return picture;
}

const char* status_picture(StatusIcon icon) {
  switch (icon) {
    case StatusIcon::idle:
      return ":/pictures/idle.png";
    case StatusIcon::active:
      return ":/pictures/running.png";
    case StatusIcon::stopping:
      break;
  }
  return ":/pictures/stopping.png";
}

}  // namespace

// The rows as the window last described them. The Status cell remembers what it shows so that
// the supervision tick, which repeats every row ten times a second, repaints only real changes.
class ChannelListModel final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : kColumnCount;
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<ChannelColumn>(index.column());
    if (role == Qt::DisplayRole) {
      if (column == ChannelColumn::source && covered_row_ == index.row()) return QString();
      return qt_text(cell_text(row, column));
    }
    if (role == Qt::DecorationRole && column == ChannelColumn::status) {
      return status_pixmap(row.icon);
    }
    if (role == Qt::TextAlignmentRole) return alignment(column);
    return {};
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    static const std::array<const char*, kColumnCount> titles = {
        "#", "Media Source", "Bind", "Memo", "Status", "Picture", "Last 10 Minutes"};
    if (role == Qt::DisplayRole) return QString::fromLatin1(titles[section]);
    if (role == Qt::TextAlignmentRole) return alignment(static_cast<ChannelColumn>(section));
    return {};
  }

  void clear() {
    beginResetModel();
    rows_.clear();
    covered_row_.reset();
    endResetModel();
  }

  void append(const ChannelRowTexts& texts) {
    const int at = rowCount();
    beginInsertRows({}, at, at);
    Row row;
    row.texts = texts;
    row.status = channel_state_word(ChannelState::idle);
    rows_.push_back(std::move(row));
    endInsertRows();
  }

  // The sparklines are repainted only when the samples differ from those shown: a channel idle
  // for the whole ten minutes costs nothing.
  void set_history(int row, std::vector<HistorySample> history) {
    if (!valid(row)) return;
    Row& shown = rows_[static_cast<std::size_t>(row)];
    if (shown.history == history) return;
    shown.history = std::move(history);
    changed(row, ChannelColumn::history);
  }

  // Only a picture with another tag is decoded; one that is no JPEG leaves the cell empty until
  // the next picture.
  void set_picture(int row, const std::optional<Thumbnail>& picture, QSize box, qreal pixel_ratio) {
    if (!valid(row)) return;
    Row& shown = rows_[static_cast<std::size_t>(row)];
    const std::string tag = picture ? picture->tag : std::string();
    if (shown.picture_tag == tag) return;
    shown.picture_tag = tag;
    shown.picture = picture ? decoded_thumbnail(picture->jpeg, box, pixel_ratio) : QPixmap();
    changed(row, ChannelColumn::picture);
  }

  const std::vector<HistorySample>& history(int row) const {
    static const std::vector<HistorySample> none;
    return valid(row) ? rows_[static_cast<std::size_t>(row)].history : none;
  }

  const QPixmap& picture(int row) const {
    static const QPixmap none;
    return valid(row) ? rows_[static_cast<std::size_t>(row)].picture : none;
  }

  void remove(int row) {
    if (!valid(row)) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
    // A row's number is its place in the list, counted from 1.
    for (int i = row; i < rowCount(); ++i) {
      rows_[static_cast<std::size_t>(i)].texts.number = std::to_string(i + 1);
    }
    if (row < rowCount()) emit dataChanged(index(row, 0), index(rowCount() - 1, 0));
  }

  void set_texts(int row, const ChannelRowTexts& texts) {
    if (!valid(row)) return;
    rows_[static_cast<std::size_t>(row)].texts = texts;
    emit dataChanged(index(row, column_index(ChannelColumn::number)),
                     index(row, column_index(ChannelColumn::memo)));
  }

  // Returns whether the state changed (the text alone may change on every tick).
  bool set_status(int row, ChannelState state, const std::string& text) {
    if (!valid(row)) return false;
    Row& shown = rows_[static_cast<std::size_t>(row)];
    const bool state_changed = shown.state != state;
    shown.state = state;
    const StatusIcon icon = status_icon(state);
    const std::string status = text.empty() ? std::string(channel_state_word(state)) : text;
    if (shown.icon == icon && shown.status == status) return state_changed;
    shown.icon = icon;
    shown.status = status;
    const QModelIndex cell = index(row, column_index(ChannelColumn::status));
    emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::DecorationRole});
    return state_changed;
  }

  // The source cells lie over this row's "Media Source" text, so it is not painted under them.
  void cover_source(std::optional<int> row) {
    if (covered_row_ == row) return;
    const std::optional<int> was = std::exchange(covered_row_, row);
    for (const std::optional<int>& changed : {was, row}) {
      if (!changed || !valid(*changed)) continue;
      const QModelIndex cell = index(*changed, column_index(ChannelColumn::source));
      emit dataChanged(cell, cell, {Qt::DisplayRole});
    }
  }

  std::string source_text(int row) const {
    return valid(row) ? rows_[static_cast<std::size_t>(row)].texts.source : std::string();
  }

 private:
  struct Row {
    ChannelRowTexts texts;
    ChannelState state = ChannelState::idle;
    StatusIcon icon = StatusIcon::idle;
    std::string status;
    std::vector<HistorySample> history;
    std::string picture_tag;  // "" while there is no picture
    QPixmap picture;
  };

  void changed(int row, ChannelColumn column) {
    const QModelIndex cell = index(row, column_index(column));
    emit dataChanged(cell, cell);
  }

  static const std::string& cell_text(const Row& row, ChannelColumn column) {
    switch (column) {
      case ChannelColumn::number:
        return row.texts.number;
      case ChannelColumn::source:
        return row.texts.source;
      case ChannelColumn::bind:
        return row.texts.bind;
      case ChannelColumn::memo:
        return row.texts.memo;
      case ChannelColumn::picture:
      case ChannelColumn::history: {
        static const std::string drawn;  // pictures, no text
        return drawn;
      }
      case ChannelColumn::status:
        break;
    }
    return row.status;
  }

  static QVariant alignment(ChannelColumn column) {
    const Qt::Alignment horizontal =
        column == ChannelColumn::bind ? Qt::AlignHCenter : Qt::AlignLeft;
    return QVariant::fromValue(horizontal | Qt::AlignVCenter);
  }

  static QPixmap status_pixmap(StatusIcon icon) {
    static const std::array<QPixmap, 3> pictures = {QPixmap(status_picture(StatusIcon::idle)),
                                                    QPixmap(status_picture(StatusIcon::active)),
                                                    QPixmap(status_picture(StatusIcon::stopping))};
    return pictures[static_cast<std::size_t>(icon)];
  }

  bool valid(int row) const { return row >= 0 && row < rowCount(); }

  std::vector<Row> rows_;
  std::optional<int> covered_row_;
};

namespace {

// Rows in alternating greys with bold light text, cut with an ellipsis, "&" shown as it is.
class ChannelRowDelegate final : public QStyledItemDelegate {
 public:
  ChannelRowDelegate(int row_height, QObject* parent)
      : QStyledItemDelegate(parent), row_height_(row_height) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    painter->fillRect(option.rect, selected               ? kSelectedRow
                                   : index.row() % 2 == 0 ? kEvenRow
                                                          : kOddRow);
    const auto& rows = static_cast<const ChannelListModel&>(*index.model());
    const auto column = static_cast<ChannelColumn>(index.column());
    if (column == ChannelColumn::picture) {
      paint_picture(*painter, option.rect, rows.picture(index.row()));
      return;
    }
    if (column == ChannelColumn::history) {
      paint_history(*painter, option.rect, rows.history(index.row()));
      return;
    }
    QRect area = option.rect.adjusted(kTextMargin, 0, 0, 0);
    const QVariant picture = index.data(Qt::DecorationRole);
    if (picture.canConvert<QPixmap>()) {
      const QPixmap pixmap = picture.value<QPixmap>();
      const QRect place(area.left(), area.top() + (area.height() - kIconSize) / 2, kIconSize,
                        kIconSize);
      painter->drawPixmap(place, pixmap);
      area.setLeft(place.right() + 1 + kTextMargin);
    }
    QFont font = option.font;
    font.setWeight(QFont::Black);
    painter->save();
    painter->setFont(font);
    painter->setPen(option.palette.color(QPalette::Normal, QPalette::HighlightedText));
    const QString text = QFontMetrics(font).elidedText(index.data(Qt::DisplayRole).toString(),
                                                       Qt::ElideRight, area.width());
    const auto alignment = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
    painter->drawText(area, static_cast<int>(alignment | Qt::TextSingleLine), text);
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), row_height_};
  }

 private:
  static void paint_picture(QPainter& painter, const QRect& cell, const QPixmap& picture) {
    if (picture.isNull()) return;
    const QSizeF size = picture.deviceIndependentSize();
    const QRectF place(cell.left() + (cell.width() - size.width()) / 2,
                       cell.top() + (cell.height() - size.height()) / 2, size.width(),
                       size.height());
    painter.drawPixmap(place, picture, QRectF(picture.rect()));
  }

  // The frame rate above, the bit rate below, each in its own band of a darker box that spans
  // the ten minutes; the seconds without a signal in red across both.
  static void paint_history(QPainter& painter, const QRect& cell,
                            const std::vector<HistorySample>& history) {
    const QRectF box =
        QRectF(cell).adjusted(kHistoryMargin, kHistoryMargin, -kHistoryMargin, -kHistoryMargin);
    painter.fillRect(box, kHistoryBox);
    const double band = (box.height() - kSparklineGap) / 2;
    const HistorySparklines lines = history_sparklines(history, box.width(), band);
    for (const SparkSpan& span : lines.no_signal) {
      painter.fillRect(QRectF(box.left() + span.from, box.top(), span.to - span.from, box.height()),
                       kNoSignal);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    paint_sparkline(painter, lines.fps, box.topLeft(), kFpsLine);
    paint_sparkline(painter, lines.bitrate, box.topLeft() + QPointF(0, band + kSparklineGap),
                    kBitrateLine);
    painter.restore();
  }

  // A one-pixel line: Qt's raster engine draws it on its fast path, where a wider antialiased
  // pen over a long history would cost milliseconds a cell every second.
  static void paint_sparkline(QPainter& painter, const Sparkline& line, QPointF origin,
                              const QColor& colour) {
    QPen pen(colour, 1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    QPolygonF points;
    for (const std::vector<SparkPoint>& run : line.runs) {
      points.clear();
      for (const SparkPoint& point : run)
        points << origin + QPointF(point.x, point.y);
      if (points.size() == 1) {
        painter.drawPoint(points.front());
      } else {
        painter.drawPolyline(points);
      }
    }
  }

  int row_height_;
};

// A hover button draws its picture on a dark chip at its right end, so the stop button, which
// lies over the whole Status cell, leaves the state readable, puts its picture where start would
// be, and no status text runs through a picture.
class HoverButton final : public QToolButton {
 public:
  HoverButton(const QIcon& icon, const QString& tip, QWidget* parent) : QToolButton(parent) {
    setIcon(icon);
    setToolTip(tip);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown()) {
      painter.fillRect(rect(), QColor(0, 0, 0, 70));
    } else if (underMouse()) {
      painter.fillRect(rect(), QColor(255, 255, 255, 50));
    }
    const int chip_width = std::min(width(), kIconSize);
    const QRectF chip(width() - chip_width, 1, chip_width, height() - 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(60, 60, 60));
    painter.drawRoundedRect(chip.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    const int side = std::min(chip_width, height()) - 4;
    const QRect place(width() - (chip_width + side) / 2, (height() - side) / 2, side, side);
    icon().paint(&painter, place);
  }
};

// Stepping through a folder: a triangle against a bar, pointing forward or back.
QIcon file_step_icon(bool forward) {
  QPixmap picture(kIconSize, kIconSize);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  if (!forward) {
    painter.translate(kIconSize, 0);
    painter.scale(-1, 1);
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(235, 235, 235));
  painter.drawPolygon(QPolygonF({QPointF(4, 4), QPointF(14, 10), QPointF(4, 16)}));
  painter.drawRect(QRectF(14, 4, 2.5, 12));
  return QIcon(picture);
}

}  // namespace

ChannelListView::ChannelListView(QWidget* parent) : QTreeView(parent) {
  load_pictures();
  model_ = new ChannelListModel(this);
  setModel(model_);
  row_height_ =
      std::max({scaled(kIconSize + 4), fontMetrics().height() + 8, scaled(kGlanceRowHeight)});
  setItemDelegate(new ChannelRowDelegate(row_height_, this));
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setMouseTracking(true);

  QHeaderView* columns = header();
  columns->setStretchLastSection(false);
  columns->setSectionsMovable(false);
  for (int column = 0; column < kColumnCount; ++column) {
    columns->resizeSection(column, scaled(kColumnWidths[static_cast<std::size_t>(column)]));
  }
  widen_status_column(QString::fromLatin1(kLongProgressText));
  columns->viewport()->installEventFilter(this);
  connect(columns, &QHeaderView::sectionResized, this, [this] { place_cells(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { emit_selection(); });

  make_hover_buttons();
  make_cells();
}

ChannelListView::~ChannelListView() = default;

void ChannelListView::set_hover_rule(std::function<HoverButtons(int row)> rule) {
  hover_rule_ = std::move(rule);
  place_hover_buttons();
}

void ChannelListView::clear_rows() {
  hover_over(-1);
  model_->clear();
  place_cells();
}

void ChannelListView::add_row(const ChannelRowTexts& texts) {
  model_->append(texts);
}

void ChannelListView::remove_row(int row) {
  model_->remove(row);
  hover_row_ = -1;
  hide_hover_buttons();
  if (cells_row_ == row) {
    hide_cells();
  } else if (cells_row_ && *cells_row_ > row) {
    --*cells_row_;
    model_->cover_source(cells_row_);
  }
  place_cells();
}

void ChannelListView::set_row_texts(int row, const ChannelRowTexts& texts) {
  model_->set_texts(row, texts);
}

void ChannelListView::set_row_history(int row, std::vector<HistorySample> history) {
  model_->set_history(row, std::move(history));
}

// The picture fills the cell inside a small margin, its shape kept.
void ChannelListView::set_row_picture(int row, const std::optional<Thumbnail>& picture) {
  const int width = header()->sectionSize(column_index(ChannelColumn::picture));
  const QSize box(std::max(1, width - 2 * kGlanceMargin),
                  std::max(1, row_height_ - 2 * kGlanceMargin));
  model_->set_picture(row, picture, box, devicePixelRatioF());
}

// The buttons on the row under the pointer follow its state (start while idle, stop else), never
// its text, which changes on every tick while it runs.
void ChannelListView::set_row_state(int row, ChannelState state, const std::string& text) {
  const bool state_changed = model_->set_status(row, state, text);
  widen_status_column(model_->index(row, column_index(ChannelColumn::status)).data().toString());
  if (state_changed && row == hover_row_) place_hover_buttons();
}

// Rows draw their text in the list's font at its heaviest weight, after the state picture.
int ChannelListView::status_width(const QString& text) const {
  QFont heavy = font();
  heavy.setWeight(QFont::Black);
  return kIconSize + 4 * kTextMargin + 1 + QFontMetrics(heavy).horizontalAdvance(text);
}

void ChannelListView::widen_status_column(const QString& text) {
  QHeaderView* columns = header();
  const int status = column_index(ChannelColumn::status);
  const int wanted = std::min(status_width(text), scaled(kStatusColumnMost));
  if (wanted <= columns->sectionSize(status)) return;
  columns->resizeSection(status, wanted);
  fit_source_column();
}

int ChannelListView::row_count() const {
  return model_->rowCount();
}

int ChannelListView::glance_width() const {
  return header()->sectionSize(column_index(ChannelColumn::picture)) +
         header()->sectionSize(column_index(ChannelColumn::history));
}

std::optional<int> ChannelListView::selected_row() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  return rows.first().row();
}

void ChannelListView::select_row(std::optional<int> row) {
  if (!row || *row < 0 || *row >= row_count()) {
    clearSelection();
    return;
  }
  const QModelIndex first = model_->index(*row, 0);
  selectionModel()->setCurrentIndex(
      first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(first);
}

void ChannelListView::refresh_hover_buttons() {
  place_hover_buttons();
}

void ChannelListView::show_cells(std::optional<int> row, const SourceCells& cells) {
  if (!row || *row < 0 || *row >= row_count()) {
    hide_cells();
    return;
  }
  const auto& entries = source_type_entries();
  const auto entry = std::find_if(entries.begin(), entries.end(),
                                  [&](const SourceTypeEntry& e) { return e.type == cells.type(); });
  {
    const QSignalBlocker blocker(type_);
    type_->setCurrentIndex(static_cast<int>(entry - entries.begin()));
  }
  // Each box shows the start of its text, as a list cell would.
  for (const auto& [box, text] : {std::pair{address_, &cells.address},
                                  std::pair{bind_, &cells.bind}, std::pair{memo_, &cells.memo}}) {
    box->setText(qt_text(*text));
    box->setCursorPosition(0);
  }
  cells_browse_ = cells.browse() != SourceBrowse::none;
  cells_row_ = row;
  model_->cover_source(cells_row_);
  if (hover_row_ == *row) hide_hover_buttons();
  place_cells();
}

void ChannelListView::read_cells(SourceCells& cells) const {
  cells.address = utf8_text(address_->text());
  cells.bind = utf8_text(bind_->text());
  cells.memo = utf8_text(memo_->text());
}

void ChannelListView::focus_cell(std::string_view control) {
  QLineEdit* cell = control == kSourceAddressControl ? address_
                    : control == kSourceBindControl  ? bind_
                                                     : nullptr;
  if (cell == nullptr) return;
  cell->setFocus(Qt::OtherFocusReason);
  cell->selectAll();
}

// ----- input -----

void ChannelListView::mouseMoveEvent(QMouseEvent* event) {
  QTreeView::mouseMoveEvent(event);
  hover_over(row_at(event->position().toPoint()));
}

void ChannelListView::leaveEvent(QEvent* event) {
  QTreeView::leaveEvent(event);
  hover_over(-1);
}

void ChannelListView::wheelEvent(QWheelEvent* event) {
  hide_start_and_stop();
  QTreeView::wheelEvent(event);
  if (!cells_row_) hover_over(row_at(event->position().toPoint()));
}

void ChannelListView::scrollContentsBy(int dx, int dy) {
  QTreeView::scrollContentsBy(dx, dy);
  if (dy != 0) hide_start_and_stop();
  place_cells();
}

void ChannelListView::resizeEvent(QResizeEvent* event) {
  QTreeView::resizeEvent(event);
  fit_source_column();
  place_cells();
}

void ChannelListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  const int row = row_at(event->position().toPoint());
  if (row >= 0 && !cells_row_) emit editRequested(row);
}

bool ChannelListView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    show_tip(static_cast<const QHelpEvent&>(*event));
    return true;
  }
  return QTreeView::viewportEvent(event);
}

void ChannelListView::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), kBelowRows);
  }
  QTreeView::paintEvent(event);
}

bool ChannelListView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == header()->viewport() &&
      (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove)) {
    hover_over(-1);
  }
  return QTreeView::eventFilter(watched, event);
}

// ----- helpers -----

int ChannelListView::scaled(int pixels) const {
  return pixels * logicalDpiX() / 96;
}

int ChannelListView::row_at(QPoint viewport_position) const {
  return indexAt(viewport_position).row();
}

void ChannelListView::make_hover_buttons() {
  const auto make = [this](const QIcon& icon, const char* name, const char* tip,
                           HoverCommand command) {
    auto* button = new HoverButton(icon, QString::fromLatin1(tip), viewport());
    button->setObjectName(QString::fromLatin1(name));
    connect(button, &QToolButton::clicked, this,
            [this, command] { emit hoverCommand(command, hover_row_); });
    return button;
  };
  start_ = make(QIcon(":/pictures/start.png"), "hover_start", "Start", HoverCommand::start);
  stop_ = make(QIcon(":/pictures/stop.png"), "hover_stop", "Stop", HoverCommand::stop);
  previous_ =
      make(file_step_icon(false), "hover_previous", "Previous file", HoverCommand::previous_file);
  next_ = make(file_step_icon(true), "hover_next", "Next file", HoverCommand::next_file);
}

void ChannelListView::make_cells() {
  type_ = new QComboBox(viewport());
  type_->setObjectName("source_type");
  for (const SourceTypeEntry& entry : source_type_entries()) {
    type_->addItem(QString::fromLatin1(entry.text));
  }
  connect(type_, &QComboBox::activated, this, [this](int index) { emit sourceTypeChosen(index); });

  address_ = new QLineEdit(viewport());
  address_->setObjectName("source_address");
  browse_ = new QToolButton(viewport());
  browse_->setObjectName("source_browse");
  browse_->setText("...");
  connect(browse_, &QToolButton::clicked, this,
          [this] { emit browseRequested(browse_->mapToGlobal(browse_->rect().bottomLeft())); });
  bind_ = new QLineEdit(viewport());
  bind_->setObjectName("bind");
  bind_->setAlignment(Qt::AlignHCenter);
  memo_ = new QLineEdit(viewport());
  memo_->setObjectName("memo");
  hide_cells();
}

void ChannelListView::fit_source_column() {
  QHeaderView* columns = header();
  int others = scaled(kSourceColumnSlack);
  for (const ChannelColumn column :
       {ChannelColumn::bind, ChannelColumn::memo, ChannelColumn::status, ChannelColumn::picture,
        ChannelColumn::history}) {
    others += columns->sectionSize(column_index(column));
  }
  const int least = scaled(kTypeCellWidth + kBrowseCellWidth + 40);
  columns->resizeSection(column_index(ChannelColumn::source), std::max(least, width() - others));
}

void ChannelListView::emit_selection() {
  emit rowSelected(selected_row().value_or(-1));
}

void ChannelListView::hover_over(int row) {
  if (row == hover_row_) return;
  hover_row_ = row;
  place_hover_buttons();
}

void ChannelListView::place_hover_buttons() {
  if (hover_row_ < 0 || hover_row_ >= row_count() || hover_row_ == cells_row_ || !hover_rule_) {
    hide_hover_buttons();
    return;
  }
  const HoverButtons offered = hover_rule_(hover_row_);
  const QRect cell = visualRect(model_->index(hover_row_, column_index(ChannelColumn::status)));
  const int width = scaled(kHoverButtonWidth);
  const QRect start_place(cell.right() + 1 - width, cell.top(), width, cell.height());
  const QRect next_place = start_place.translated(-width, 0);
  stop_->setGeometry(cell);
  start_->setGeometry(start_place);
  next_->setGeometry(next_place);
  previous_->setGeometry(next_place.translated(-width, 0));
  stop_->setVisible(offered.stop);
  start_->setVisible(offered.start);
  previous_->setVisible(offered.previous);
  next_->setVisible(offered.next);
  // The file steps lie inside the stop button's cell and must stay clickable.
  previous_->raise();
  next_->raise();
}

void ChannelListView::hide_hover_buttons() {
  for (QToolButton* button : {start_, stop_, previous_, next_})
    button->hide();
}

void ChannelListView::hide_start_and_stop() {
  start_->hide();
  stop_->hide();
}

void ChannelListView::place_cells() {
  if (!cells_row_ || *cells_row_ >= row_count()) {
    for (QWidget* cell : std::initializer_list<QWidget*>{type_, address_, browse_, bind_, memo_}) {
      cell->hide();
    }
    return;
  }
  const int row = *cells_row_;
  const QRect source = visualRect(model_->index(row, column_index(ChannelColumn::source)));
  const bool in_view = source.top() >= 0 && source.bottom() < viewport()->height();
  // Wide enough for the longest entry beside the drop arrow: a narrower choice cuts the schemes
  // operators tell the sources apart by.
  const int type_width = std::min(
      std::max(scaled(kTypeCellWidth),
               type_->fontMetrics().horizontalAdvance(QStringLiteral("newtek ndi")) + scaled(30)),
      source.width() / 2);
  const int browse_width = scaled(kBrowseCellWidth);
  const int address_right_gap = cells_browse_ ? scaled(kBrowseCellWidth + 2) : 1;
  type_->setGeometry(source.left(), source.top(), type_width, source.height());
  address_->setGeometry(source.left() + type_width, source.top(),
                        std::max(0, source.width() - type_width - address_right_gap),
                        source.height());
  browse_->setGeometry(source.right() + 1 - browse_width, source.top(), browse_width,
                       source.height());
  bind_->setGeometry(visualRect(model_->index(row, column_index(ChannelColumn::bind))));
  memo_->setGeometry(visualRect(model_->index(row, column_index(ChannelColumn::memo))));
  for (QWidget* cell : std::initializer_list<QWidget*>{type_, address_, bind_, memo_}) {
    cell->setVisible(in_view);
  }
  browse_->setVisible(in_view && cells_browse_);
}

void ChannelListView::hide_cells() {
  cells_row_.reset();
  model_->cover_source(std::nullopt);
  place_cells();
}

void ChannelListView::show_tip(const QHelpEvent& event) {
  const QModelIndex cell = indexAt(event.pos());
  const auto column =
      cell.isValid() ? static_cast<ChannelColumn>(cell.column()) : ChannelColumn::number;
  const std::string tip =
      channel_list_tip(column, model_->source_text(cell.row()), model_->history(cell.row()));
  QToolTip::showText(event.globalPos(), tip_lines(qt_text(tip), scaled(kChannelListTipWidth)),
                     viewport(), cell.isValid() ? visualRect(cell) : QRect(),
                     kChannelListTipMilliseconds);
}

}  // namespace vx
