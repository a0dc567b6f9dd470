#include <QPainter>

#include <algorithm>

#include "desktop/load_meter.h"
#include "desktop/qt_text.h"

namespace vx {
namespace {

constexpr int kCellWidth = 40;

int scaled(const QWidget& widget, int pixels) {
  return pixels * widget.logicalDpiX() / 96;
}

}  // namespace

LoadMeter::LoadMeter(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void LoadMeter::set_loads(const std::vector<int>& percents) {
  if (percents == loads_) return;
  const bool resized = percents.size() != loads_.size();
  loads_ = percents;
  if (resized) updateGeometry();
  update();
}

QSize LoadMeter::sizeHint() const {
  const int cells = std::max<int>(1, static_cast<int>(loads_.size()));
  return {cells * scaled(*this, kCellWidth), std::max(18, fontMetrics().height() + 4)};
}

void LoadMeter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(Qt::black);
  const int width = scaled(*this, kCellWidth);
  for (std::size_t i = 0; i < loads_.size(); ++i) {
    const QRect cell(static_cast<int>(i) * width, 0, width, height());
    const QRect frame = cell.adjusted(1, 0, -1, 0);
    painter.fillRect(frame, Qt::black);
    const LoadCellColour colour = load_cell_colour(loads_[i]);
    painter.fillRect(frame.adjusted(1, 1, -1, -1), QColor(colour.red, colour.green, colour.blue));
    painter.drawText(cell, Qt::AlignCenter, qt_text(load_cell_text(loads_[i])));
  }
}

}  // namespace vx
