#include "gui_handoff.h"

#include <QMetaObject>
#include <QThread>

#include "vorlan/gui/gui_support.h"

namespace vorlan {

GuiHandoff::GuiHandoff(QObject* parent) : QObject(parent) {}

void GuiHandoff::Run(std::function<void()> call) {
  if (!call || !gui::GuiAvailable()) return;
  if (QThread::currentThread() == thread()) {
    call();
    return;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    pending_ = std::move(call);
  }
  QMetaObject::invokeMethod(this, "RunPending", Qt::BlockingQueuedConnection);
  // Pairs with the release at the end of RunPending: whatever the call
  // changed is visible from here on.
  std::lock_guard<std::mutex> guard(lock_);
  pending_ = nullptr;
}

void GuiHandoff::RunPending() {
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> guard(lock_);
    call = std::move(pending_);
    pending_ = nullptr;
  }
  if (call) call();
  call = nullptr;
  std::lock_guard<std::mutex> guard(lock_);
}

}  // namespace vorlan
