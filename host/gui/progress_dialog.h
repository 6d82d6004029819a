// The modeless "Progress" dialog of a run: the current filter, the run's
// state, two progress bars and the elapsed, estimated and remaining time.
//
// Everything here lives on the user-interface thread. The run's observer
// (on the worker thread) never touches this widget; it posts snapshots that
// arrive through ShowFilterProgress and ShowGraphProgress.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vorlan::gui {

// The display name of a FilterState code; empty for unknown codes.
QString StateName(int state);

// "%02i:%02i:%02i" of whole hours, minutes and seconds; negative or
// non-finite durations show as zero, very long ones saturate.
QString FormatDuration(double seconds);

// The clock's three figures, all in seconds.
struct TimeEstimate {
  double elapsed = 0;
  double estimated = 0;
  double remaining = 0;
};

// Estimated total time from the overall fraction done: the current filter's
// fraction spread over the filter count plus the graph fraction (only the
// filter fraction while the count is 0). With nothing done yet the estimate
// equals the elapsed time.
TimeEstimate EstimateTimes(double elapsed, double filterFraction, int filterCount,
                           double graphFraction);

// The current filter as the runner reports it; index -1 when none.
struct CurrentFilter {
  int index = -1;
  QString name;
  int major = 0;
  int minor = 0;
  int id = 0;
  int state = -1;
};

// One graph progress report of the worker.
struct GraphProgress {
  float fraction = 0;
  int filterCount = 0;
  int runnerState = 0;
  CurrentFilter current;
};

class ProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressDialog(QWidget* parent = nullptr);

  // Run command: start time = now and the 100 ms clock starts.
  void StartClock();
  void StopClock();
  bool ClockRunning() const { return timer_.isActive(); }

  // A filter progress report: the current filter's state (-1 when no
  // filter is current) and its fraction done.
  void ShowFilterProgress(float fraction, int currentState);
  // A graph progress report. A run that reached Done stops the clock and
  // hides the dialog.
  void ShowGraphProgress(const GraphProgress& progress);

  // Stop and Kill are enabled only while a run is alive.
  void SetRunAlive(bool alive);
  // The run has ended: the graph's final state, the last filter that was
  // current (name kept, its final state shown) and a line saying how it
  // ended. Stops the clock and disables Stop and Kill.
  void ShowEnded(int graphState, int lastFilterState, const QString& outcome);
  // Runner index of the last filter shown as current in this run, -1 when none.
  int LastFilterIndex() const { return lastFilterIndex_; }
  // Shows a closed dialog again during a run; the clock goes on from the
  // run's start.
  void Reopen(bool runAlive);

  // Shows the run's error box, owned by this dialog, and returns when the
  // user has closed it.
  void ShowRunError(const QString& text);

  // What the controls show, for the window's own checks and tests.
  QString FilterName() const;
  QString FilterState() const;
  QString FilterPercent() const;
  int FilterBar() const;
  QString GraphState() const;
  QString GraphPercent() const;
  int GraphBar() const;
  QString Elapsed() const;
  QString Estimated() const;
  QString Remaining() const;
  QString Outcome() const;
  QPushButton* KillButton() const { return kill_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* CloseButton() const { return close_; }

  // One clock tick with an explicit elapsed time (the timer passes the
  // monotonic clock's value).
  void ShowTimes(double elapsedSeconds);

 signals:
  void KillClicked();
  void StopClicked();

 private:
  void Tick();
  void ShowOverall();
  void OnClose();

  QLabel* filterName_;
  QLabel* filterState_;
  QProgressBar* filterBar_;
  QLabel* filterPercent_;
  QLabel* graphState_;
  QProgressBar* graphBar_;
  QLabel* graphPercent_;
  QLabel* elapsed_;
  QLabel* estimated_;
  QLabel* remaining_;
  QPushButton* kill_;
  QPushButton* stop_;
  QPushButton* close_;
  QLabel* outcome_;

  QTimer timer_;
  QElapsedTimer clock_;  // monotonic, so the figures never run backwards
  float filterFraction_ = 0;
  float previousFilterFraction_ = 0;
  float graphFraction_ = 0;
  int filterCount_ = 0;
  int lastShownState_ = -1;
  int lastFilterIndex_ = -1;
  bool ended_ = false;  // reports still queued from an ended run are dropped
  QString lastFilterName_;
};

}  // namespace vorlan::gui
