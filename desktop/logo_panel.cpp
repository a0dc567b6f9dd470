#include <QFontDatabase>
#include <QPainter>
#include <QShowEvent>
#include <QStaticText>

#include "desktop/logo_panel.h"
#include "vocabulary/product.h"

namespace vx {
namespace {

// The colours move 4 degrees of hue every 20 ms, drawn every 40 ms (8 degrees a step): the same
// speed to the eye, at half the repaints, which are most of what the idle window costs.
constexpr int kColourStepMs = 40;
// Degrees of hue between neighbouring letters, and how far the colours move on each step.
constexpr int kLetterHueSpacing = 45;
constexpr int kHueStep = 8;

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

LogoPanel::LogoPanel(QWidget* parent) : QWidget(parent), name_font_(name_font(font())) {
  // The panel paints every pixel of itself; nothing behind it needs painting first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  lay_out_name();
}

QSize LogoPanel::sizeHint() const {
  return {300, 70};
}

void LogoPanel::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.fillRect(rect(), QColor(40, 44, 52));

  painter.setFont(name_font_);
  const QRect area = name_area();
  for (std::size_t i = 0; i < letters_.size(); ++i) {
    const int hue = (static_cast<int>(i) * kLetterHueSpacing + step_ * kHueStep) % 360;
    painter.setPen(QColor::fromHsv(hue, 190, 255));
    painter.drawStaticText(area.left() + letters_[i].first, area.top(), letters_[i].second);
  }
  // While the colours move only the name is repainted.
  if (event->rect().bottom() <= area.bottom()) return;
  QFont small = font();
  small.setPixelSize(11);
  painter.setFont(small);
  painter.setPen(QColor(200, 200, 200));
  const QRect lines(0, area.bottom() + 2, width(), 2 * QFontMetrics(small).height());
  painter.drawText(lines, Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromLatin1(kVendorName) + '\n' + QStringLiteral("Version ") +
                       QString::fromLatin1(version_text()));
}

// Laid out once: fifty repaints a second must not shape the name's text again each time.
void LogoPanel::lay_out_name() {
  const QString name = QString::fromLatin1(kProductName);
  const QFontMetrics metrics(name_font_);
  name_size_ = QSize(metrics.horizontalAdvance(name), metrics.height());
  for (qsizetype i = 0; i < name.size(); ++i) {
    QStaticText letter{QString(name[i])};
    letter.prepare(QTransform(), name_font_);
    letters_.emplace_back(metrics.horizontalAdvance(name.left(i)), std::move(letter));
  }
}

QRect LogoPanel::name_area() const {
  return {QPoint((width() - name_size_.width()) / 2, 4), name_size_};
}

void LogoPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (timer_ == 0) timer_ = startTimer(kColourStepMs);
}

void LogoPanel::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (timer_ != 0) killTimer(timer_);
  timer_ = 0;
}

void LogoPanel::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_) return QWidget::timerEvent(event);
  step_ = (step_ + 1) % (360 / kHueStep);
  // Only the name changes: fifty repaints a second of the whole panel would cost the program
  // more than everything else it draws.
  update(name_area());
}

}  // namespace vx
