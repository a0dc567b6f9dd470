// The decorative logo panel above the editor.
#pragma once

#include <QFont>
#include <QSize>
#include <QStaticText>
#include <QWidget>

#include <utility>
#include <vector>

namespace vx {

// The decorative panel above the editor: the product name with its letters in moving colours,
// the vendor and version under it. The colours move only while the panel is visible.
class LogoPanel final : public QWidget {
  Q_OBJECT

 public:
  explicit LogoPanel(QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  // Where the product name is drawn: all that changes while the colours move.
  QRect name_area() const;
  void lay_out_name();
  std::vector<std::pair<int, QStaticText>> letters_;  // each letter's offset and its layout
  QSize name_size_;
  QFont name_font_;
  int step_ = 0;
  int timer_ = 0;
};

}  // namespace vx
