#include "vorlan/gui/gui_support.h"

#include <QApplication>
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

}  // namespace vorlan::gui
