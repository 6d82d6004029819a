#include "node_fonts.h"

#include <QApplication>
#include <QFontMetrics>
#include <QString>

namespace vorlan::gui {

QFont CaptionFont() { return QApplication::font(); }

QFont PinFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(14);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

FontTextMeasure::FontTextMeasure() : caption_(CaptionFont()), pin_(PinFont()) {}

host::Size FontTextMeasure::Measure(std::string_view text, host::FontRole role) const {
  const QFontMetrics metrics(role == host::FontRole::Pin ? pin_ : caption_);
  const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  return host::Size{metrics.horizontalAdvance(s), metrics.height()};
}

}  // namespace vorlan::gui
