#include "dialog_title_fitter.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QMessageBox>

namespace vorlan::gui {

namespace {

// Window icon, close, minimise and maximise buttons and the margins around
// them, as common window managers draw them.
constexpr int kTitleBarDecoration = 140;

}  // namespace

int TitleBarWidth(const QString& title) {
  QFont font = QApplication::font();
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(title) + kTitleBarDecoration;
}

void FitToTitle(QWidget& window) {
  const int needed = TitleBarWidth(window.windowTitle());
  if (window.minimumWidth() < needed) window.setMinimumWidth(needed);
  if (window.width() < needed) window.resize(needed, window.height());
}

bool DialogTitleFitter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched->isWidgetType()) {
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (dialog != nullptr && dialog->isWindow() && qobject_cast<QMessageBox*>(dialog) == nullptr)
      FitToTitle(*dialog);
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace vorlan::gui
