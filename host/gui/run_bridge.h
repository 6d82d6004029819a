// Carries a run's reports from the worker thread to the Progress dialog.
//
// The worker calls the RunObserver members; they only store and post. Filter
// progress is coalesced (the newest status wins, at most one post in
// flight), graph progress is posted in order, and a failure is shown through
// a blocking queued call so the worker waits until the box is closed.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <mutex>

#include "core/graph_runner.h"

namespace vorlan::gui {

class ProgressDialog;

class RunBridge final : public QObject, public host::RunObserver {
  Q_OBJECT

 public:
  // Lives on the user-interface thread; `controller` must outlive it.
  RunBridge(host::RunController& controller, ProgressDialog& dialog, QObject* parent = nullptr);

  void OnFilterProgress(const host::RunStatus& status) override;
  void OnGraphProgress(const host::RunStatus& status) override;
  void OnRunError(const host::RunError& error) override;
  void OnRunFinished(int32_t result) override;

  // [ui thread] From now on failures are not shown (the program is leaving).
  void Silence() { silent_ = true; }

 signals:
  // [ui thread] A run ended by itself (not killed); `result` is its code.
  void RunFinished(int result);
  // [ui thread] Filter states changed (the view repaints red outlines).
  void StatesChanged();
  // [ui thread] The run failed on the node with this id (-1: no filter to
  // blame); sent before the error box shows.
  void RunFailed(int nodeId);
  // [ui thread] The node in Process (-1: none) and its fraction done.
  void NodeProgress(int nodeId, float fraction);

 private:
  void ApplyFilterProgress();
  void ApplyGraphProgress(const host::RunStatus& status);
  void ShowError(const host::RunError& error);

  host::RunController& controller_;
  QPointer<ProgressDialog> dialog_;
  std::mutex mutex_;
  host::RunStatus latest_;  // guarded by mutex_
  std::atomic<bool> filterPostPending_{false};
  bool silent_ = false;  // ui thread only
};

}  // namespace vorlan::gui
