#include "run_bridge.h"

#include <QMetaObject>

#include "progress_dialog.h"

namespace vorlan::gui {

namespace {

GraphProgress ToGraphProgress(const host::RunStatus& status) {
  GraphProgress g;
  g.fraction = status.graphFraction;
  g.filterCount = status.filterCount;
  g.runnerState = static_cast<int>(status.graphState);
  if (status.current != -1) {
    g.current.index = status.current;
    g.current.name = QString::fromUtf8(status.currentInfo.name != nullptr ? status.currentInfo.name : "");
    g.current.major = status.currentInfo.major;
    g.current.minor = status.currentInfo.minor;
    g.current.id = status.currentInfo.id;
    g.current.state = static_cast<int>(status.currentState);
  }
  return g;
}

}  // namespace

RunBridge::RunBridge(host::RunController& controller, ProgressDialog& dialog, QObject* parent)
    : QObject(parent), controller_(controller), dialog_(&dialog) {}

void RunBridge::OnFilterProgress(const host::RunStatus& status) {
  {
    std::lock_guard lock(mutex_);
    latest_ = status;
  }
  if (!filterPostPending_.exchange(true))
    QMetaObject::invokeMethod(this, &RunBridge::ApplyFilterProgress, Qt::QueuedConnection);
}

void RunBridge::OnGraphProgress(const host::RunStatus& status) {
  QMetaObject::invokeMethod(
      this, [this, status] { ApplyGraphProgress(status); }, Qt::QueuedConnection);
}

void RunBridge::OnRunError(const host::RunError& error) {
  // Blocks the worker until the box is closed; never called on the UI thread.
  QMetaObject::invokeMethod(
      this, [this, error] { ShowError(error); }, Qt::BlockingQueuedConnection);
}

void RunBridge::OnRunFinished(int32_t result) {
  QMetaObject::invokeMethod(
      this, [this, result] { emit RunFinished(result); }, Qt::QueuedConnection);
}

void RunBridge::ApplyFilterProgress() {
  filterPostPending_.store(false);
  host::RunStatus status;
  {
    std::lock_guard lock(mutex_);
    status = latest_;
  }
  if (dialog_)
    dialog_->ShowFilterProgress(status.filterFraction,
                                status.current != -1 ? static_cast<int>(status.currentState) : -1);
  emit NodeProgress(status.current != -1 ? status.currentNodeId : -1, status.filterFraction);
}

void RunBridge::ApplyGraphProgress(const host::RunStatus& status) {
  if (dialog_) dialog_->ShowGraphProgress(ToGraphProgress(status));
  emit NodeProgress(status.current != -1 ? status.currentNodeId : -1, status.filterFraction);
  emit StatesChanged();
}

void RunBridge::ShowError(const host::RunError& error) {
  // A run killed since the failure was reported shows nothing.
  if (silent_ || !controller_.IsCurrentRun(error.generation)) return;
  emit StatesChanged();
  emit RunFailed(error.nodeId);
  if (!dialog_) return;
  // The run has failed already, the worker only waits for the box: the
  // dialog says so and its clock stops while the user reads the message.
  // A failing filter leaves its Process in Stopped.
  const QString outcome = error.caption.empty()
                              ? QStringLiteral("Failed.")
                              : QStringLiteral("Failed on filter : %1").arg(QString::fromStdString(error.caption));
  dialog_->ShowEnded(static_cast<int>(FilterState::Error), static_cast<int>(FilterState::Stopped), outcome);
  dialog_->ShowRunError(QString::fromStdString(error.message));
}

}  // namespace vorlan::gui
