// The CPU and GPU load meters below the channel list.
#pragma once

#include <QWidget>

#include <vector>

#include "window_logic/channel_rows.h"

namespace vx {

// The CPU or GPU load meter below the list: one 40-pixel cell per figure, coloured by
// load_cell_colour with its percentage in the middle.
class LoadMeter final : public QWidget {
  Q_OBJECT

 public:
  explicit LoadMeter(QWidget* parent = nullptr);
  // Repaints only when a figure changed.
  void set_loads(const std::vector<int>& percents);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<int> loads_;
};

}  // namespace vx
