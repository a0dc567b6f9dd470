#include <QFontDatabase>
#include <QPainter>
#include <QShowEvent>

#include "desktop/channel_list.h"
#include "vocabulary/product.h"

namespace vx {
namespace {

constexpr int kColourStepMs = 20;
// Degrees of hue between neighbouring letters, and how far the colours move on each step.
constexpr int kLetterHueSpacing = 45;
constexpr int kHueStep = 4;

// The name is drawn in Impact where it is installed; elsewhere the closest look the system has:
// its own family at its heaviest and narrowest.
QFont name_font(const QFont& base) {
  QFont font = base;
  if (QFontDatabase::families().contains(QStringLiteral("Impact"))) {
    font.setFamily(QStringLiteral("Impact"));
  } else {
    font.setWeight(QFont::Black);
    font.setStretch(QFont::Condensed);
  }
  font.setPixelSize(30);
  return font;
}

}  // namespace

AboutBox::AboutBox(QWidget* parent) : QWidget(parent), name_font_(name_font(font())) {}

QSize AboutBox::sizeHint() const {
  return {300, 70};
}

void AboutBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.fillRect(rect(), QColor(40, 44, 52));

  const QString name = QString::fromLatin1(kProductName);
  const QFontMetrics name_metrics(name_font_);
  painter.setFont(name_font_);
  const int left = (width() - name_metrics.horizontalAdvance(name)) / 2;
  const int baseline = 4 + name_metrics.ascent();
  for (qsizetype i = 0; i < name.size(); ++i) {
    const int hue = (static_cast<int>(i) * kLetterHueSpacing + step_ * kHueStep) % 360;
    painter.setPen(QColor::fromHsv(hue, 190, 255));
    painter.drawText(left + name_metrics.horizontalAdvance(name.left(i)), baseline,
                     QString(name[i]));
  }

  QFont small = font();
  small.setPixelSize(11);
  painter.setFont(small);
  painter.setPen(QColor(200, 200, 200));
  const int line = QFontMetrics(small).height();
  const QRect lines(0, baseline + name_metrics.descent() + 2, width(), 2 * line);
  painter.drawText(lines, Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromLatin1(kVendorName) + '\n' + QStringLiteral("Version ") +
                       QString::fromLatin1(version_text()));
}

void AboutBox::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (timer_ == 0) timer_ = startTimer(kColourStepMs);
}

void AboutBox::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (timer_ != 0) killTimer(timer_);
  timer_ = 0;
}

void AboutBox::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_) return QWidget::timerEvent(event);
  step_ = (step_ + 1) % (360 / kHueStep);
  update();
}

}  // namespace vx
