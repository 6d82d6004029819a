#include "elided_label.h"

#include <QFontMetrics>
#include <QPainter>

namespace vorlan::gui {

ElidedLabel::ElidedLabel(int preferredWidth, QWidget* parent)
    : QFrame(parent), preferredWidth_(preferredWidth) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  Elide();
  updateGeometry();
}

QSize ElidedLabel::sizeHint() const {
  const QFontMetrics metrics(font());
  const int width = preferredWidth_ > 0 ? preferredWidth_ : metrics.horizontalAdvance(text_);
  return QSize(width, metrics.height()).grownBy(contentsMargins());
}

QSize ElidedLabel::minimumSizeHint() const {
  const QFontMetrics metrics(font());
  // Room for an ellipsis, no more.
  return QSize(metrics.horizontalAdvance(QStringLiteral("...")), metrics.height()).grownBy(contentsMargins());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Elide();
}

void ElidedLabel::Elide() {
  const QFontMetrics metrics(font());
  shown_ = metrics.elidedText(text_, Qt::ElideRight, contentsRect().width());
  setToolTip(shown_ != text_ ? text_ : QString());
  update();
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  painter.setClipRect(contentsRect());
  painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, shown_);
}

}  // namespace vorlan::gui
