#include "vorlan/gui/gui_support.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QStyle>
#include <QVariant>
#include <algorithm>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace vorlan::gui {

bool GuiAvailable() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

Result ShowNothingToConfigure(const char* title) {
  if (!GuiAvailable()) return Failed;
  QMessageBox box(QMessageBox::Information, QString::fromUtf8(title),
                  QStringLiteral("There is nothing to configure..."), QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  return Ok;
}

void RunOnGuiThread(const std::function<void()>& call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || !GuiAvailable()) return;
  if (QThread::currentThread() == app->thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(app, [&call] { call(); }, Qt::BlockingQueuedConnection);
}

namespace {

constexpr int kCascadeStep = 30;
constexpr int kCascadeSteps = 8;
constexpr int kBesideEditor = 40;
const char* const kPlacedProperty = "vorlanPlaced";

// The editor's main window, when there is one to open windows beside.
QWidget* EditorWindow(const QWidget& except) {
  QWidget* active = QApplication::activeWindow();
  if (active != nullptr && active != &except && qobject_cast<QMainWindow*>(active) != nullptr) return active;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != &except && w->isVisible() && qobject_cast<QMainWindow*>(w) != nullptr) return w;
  return nullptr;
}

}  // namespace

QRect KeepInside(const QRect& frame, const QRect& work) {
  QRect r(frame.topLeft(), QSize(std::min(frame.width(), work.width()), std::min(frame.height(), work.height())));
  if (r.right() > work.right()) r.moveRight(work.right());
  if (r.bottom() > work.bottom()) r.moveBottom(work.bottom());
  if (r.left() < work.left()) r.moveLeft(work.left());
  if (r.top() < work.top()) r.moveTop(work.top());
  return r;
}

QSize FrameExtra(const QWidget& window) {
  if (window.isVisible()) return window.frameGeometry().size() - window.geometry().size();
  // Not shown yet: a title bar and thin borders, as common window managers draw them.
  const int border = std::max(window.style()->pixelMetric(QStyle::PM_DefaultFrameWidth), 4);
  const int title = std::max(window.style()->pixelMetric(QStyle::PM_TitleBarHeight), 30);
  return QSize(2 * border, title + 2 * border);
}

void PlaceOnScreen(QWidget& window) {
  static int cascade = 0;
  QWidget* editor = EditorWindow(window);
  const QScreen* screen = editor != nullptr ? editor->screen() : window.screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect work = screen->availableGeometry();
  const QSize extra = FrameExtra(window);
  QPoint topLeft = window.frameGeometry().topLeft();
  if (!window.property(kPlacedProperty).toBool()) {
    window.setProperty(kPlacedProperty, true);
    const QPoint base = editor != nullptr ? editor->frameGeometry().topLeft() : work.topLeft();
    const int step = kCascadeStep * (cascade++ % kCascadeSteps);
    topLeft = base + QPoint(kBesideEditor + step, kBesideEditor + step);
  }
  const QRect frame = KeepInside(QRect(topLeft, window.size() + extra), work);
  const QSize client = frame.size() - extra;
  if (client != window.size()) window.resize(client.expandedTo(window.minimumSize()));
  window.move(frame.topLeft());
}

}  // namespace vorlan::gui
