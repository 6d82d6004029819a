#include "progress_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "vorlan/contract.h"

namespace vorlan::gui {

namespace {

constexpr int kClockPeriodMs = 100;
// 99:59:59 would wrap the hours column at 100; cap far beyond any real run
// so a near-zero fraction cannot overflow the integer conversion.
constexpr double kLongestShown = 1.0e7;

QString Percent(double value) { return QString::asprintf("%.2f %%", value); }

int BarPosition(double percent) {
  if (!std::isfinite(percent) || percent < 0) return 0;
  if (percent > 100) return 100;
  return static_cast<int>(percent);
}

QLabel* ValueLabel() {
  auto* label = new QLabel;
  label->setMinimumWidth(220);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

QString StateName(int state) {
  switch (state) {
    case 0: return QStringLiteral("None");
    case 1: return QStringLiteral("Ready");
    case 2: return QStringLiteral("Running");
    case 3: return QStringLiteral("Stopped");
    case 4: return QStringLiteral("Done");
    case 5: return QStringLiteral("Error");
    default: return QString();
  }
}

QString FormatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  if (seconds > kLongestShown) seconds = kLongestShown;
  const int hours = static_cast<int>(seconds / 3600);
  seconds -= hours * 3600.0;
  const int minutes = static_cast<int>(seconds / 60);
  seconds -= minutes * 60.0;
  return QString::asprintf("%02i:%02i:%02i", hours, minutes, static_cast<int>(seconds));
}

TimeEstimate EstimateTimes(double elapsed, double filterFraction, int filterCount,
                           double graphFraction) {
  if (!std::isfinite(elapsed) || elapsed < 0) elapsed = 0;
  const double done =
      filterCount > 0 ? filterFraction / filterCount + graphFraction : filterFraction;
  TimeEstimate t;
  t.elapsed = elapsed;
  t.estimated = (done > 0 && std::isfinite(done)) ? elapsed / done : elapsed;
  // An overall fraction above one (a filter reporting past its end) would
  // make the estimate shorter than what already went by.
  if (t.estimated < elapsed) t.estimated = elapsed;
  t.remaining = t.estimated - t.elapsed;
  return t;
}

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Progress"));
  setModal(false);

  auto* filterGroup = new QGroupBox(QStringLiteral("Filter"));
  auto* filterForm = new QFormLayout;
  filterName_ = ValueLabel();
  filterState_ = ValueLabel();
  filterForm->addRow(QStringLiteral("Name :"), filterName_);
  filterForm->addRow(QStringLiteral("State :"), filterState_);
  auto* filterBarRow = new QHBoxLayout;
  filterBar_ = new QProgressBar;
  filterBar_->setRange(0, 100);
  filterBar_->setTextVisible(false);
  filterPercent_ = new QLabel(Percent(0));
  filterPercent_->setMinimumWidth(70);
  filterBarRow->addWidget(filterBar_, 1);
  filterBarRow->addWidget(filterPercent_);
  auto* filterBox = new QVBoxLayout(filterGroup);
  filterBox->addLayout(filterForm);
  filterBox->addLayout(filterBarRow);

  auto* graphGroup = new QGroupBox(QStringLiteral("Graph"));
  auto* graphForm = new QFormLayout;
  graphState_ = ValueLabel();
  graphForm->addRow(QStringLiteral("State :"), graphState_);
  auto* graphBarRow = new QHBoxLayout;
  graphBar_ = new QProgressBar;
  graphBar_->setRange(0, 100);
  graphBar_->setTextVisible(false);
  graphPercent_ = new QLabel(Percent(0));
  graphPercent_->setMinimumWidth(70);
  graphBarRow->addWidget(graphBar_, 1);
  graphBarRow->addWidget(graphPercent_);
  auto* graphBox = new QVBoxLayout(graphGroup);
  graphBox->addLayout(graphForm);
  graphBox->addLayout(graphBarRow);

  auto* timeGroup = new QGroupBox(QStringLiteral("Time"));
  auto* timeForm = new QFormLayout(timeGroup);
  elapsed_ = ValueLabel();
  estimated_ = ValueLabel();
  remaining_ = ValueLabel();
  elapsed_->setText(FormatDuration(0));
  estimated_->setText(FormatDuration(0));
  remaining_->setText(FormatDuration(0));
  timeForm->addRow(QStringLiteral("Elapsed :"), elapsed_);
  timeForm->addRow(QStringLiteral("Estimated :"), estimated_);
  timeForm->addRow(QStringLiteral("Remainning :"), remaining_);

  outcome_ = new QLabel;
  outcome_->setObjectName(QStringLiteral("outcome"));
  outcome_->setWordWrap(true);
  outcome_->hide();

  kill_ = new QPushButton(QStringLiteral("Kill"));
  stop_ = new QPushButton(QStringLiteral("Stop"));
  close_ = new QPushButton(QStringLiteral("Close"));
  kill_->setAutoDefault(false);
  stop_->setAutoDefault(false);
  close_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(kill_);
  buttons->addWidget(stop_);
  buttons->addWidget(close_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(filterGroup);
  layout->addWidget(graphGroup);
  layout->addWidget(timeGroup);
  layout->addWidget(outcome_);
  layout->addLayout(buttons);
  SetRunAlive(false);

  connect(kill_, &QPushButton::clicked, this, [this] {
    emit KillClicked();
    StopClock();
    update();
  });
  connect(stop_, &QPushButton::clicked, this, [this] {
    emit StopClicked();
    StopClock();
    update();
  });
  connect(close_, &QPushButton::clicked, this, &ProgressDialog::OnClose);
  // Escape and the window's close box act as Close: the run goes on.
  connect(this, &QDialog::rejected, this, &ProgressDialog::OnClose);

  timer_.setInterval(kClockPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &ProgressDialog::Tick);
}

void ProgressDialog::StartClock() {
  filterFraction_ = previousFilterFraction_ = graphFraction_ = 0;
  filterCount_ = 0;
  lastShownState_ = -1;
  filterName_->clear();
  filterState_->clear();
  graphState_->clear();
  filterBar_->setValue(0);
  graphBar_->setValue(0);
  filterPercent_->setText(Percent(0));
  graphPercent_->setText(Percent(0));
  lastFilterIndex_ = -1;
  lastFilterName_.clear();
  ended_ = false;
  outcome_->clear();
  outcome_->hide();
  clock_.start();
  ShowTimes(0);
  timer_.start();
}

void ProgressDialog::StopClock() { timer_.stop(); }

void ProgressDialog::ShowFilterProgress(float fraction, int currentState) {
  if (ended_) return;
  previousFilterFraction_ = filterFraction_;
  filterFraction_ = fraction;
  if (currentState != -1 && currentState != lastShownState_) {
    lastShownState_ = currentState;
    filterState_->setText(StateName(currentState));
  }
  const double percent = static_cast<double>(fraction) * 100;
  filterBar_->setValue(BarPosition(percent));
  filterPercent_->setText(Percent(percent));
  ShowOverall();
}

void ProgressDialog::ShowOverall() {
  const double overall =
      filterCount_ > 0
          ? (static_cast<double>(filterFraction_) / filterCount_ + graphFraction_) * 100
          : static_cast<double>(graphFraction_) * 100;
  graphBar_->setValue(BarPosition(overall));
  graphPercent_->setText(Percent(overall));
}

void ProgressDialog::ShowGraphProgress(const GraphProgress& progress) {
  if (ended_) return;
  graphFraction_ = progress.fraction;
  filterCount_ = progress.filterCount;
  if (progress.current.index == -1) {
    filterName_->clear();
    filterState_->clear();
  } else {
    const CurrentFilter& c = progress.current;
    lastFilterIndex_ = c.index;
    lastFilterName_ = QStringLiteral("[%1] %2 %3.%4 (%5)")
                          .arg(c.index)
                          .arg(c.name)
                          .arg(c.major)
                          .arg(c.minor)
                          .arg(c.id);
    filterName_->setText(lastFilterName_);
    filterState_->setText(StateName(c.state));
    lastShownState_ = c.state;
  }
  graphState_->setText(StateName(progress.runnerState));
  const double percent = static_cast<double>(progress.fraction) * 100;
  graphBar_->setValue(BarPosition(percent));
  graphPercent_->setText(Percent(percent));
  if (progress.runnerState == static_cast<int>(FilterState::Done)) {
    lastShownState_ = -1;
    StopClock();
    hide();
  }
  repaint();
}

void ProgressDialog::SetRunAlive(bool alive) {
  kill_->setEnabled(alive);
  stop_->setEnabled(alive);
}

void ProgressDialog::ShowEnded(int graphState, int lastFilterState, const QString& outcome) {
  StopClock();
  SetRunAlive(false);
  ended_ = true;
  graphState_->setText(StateName(graphState));
  if (lastFilterIndex_ >= 0) {
    filterName_->setText(lastFilterName_);
    filterState_->setText(StateName(lastFilterState));
  }
  outcome_->setText(outcome);
  outcome_->setVisible(!outcome.isEmpty());
}

void ProgressDialog::Reopen(bool runAlive) {
  SetRunAlive(runAlive);
  if (runAlive && !timer_.isActive()) {
    Tick();
    timer_.start();
  }
  show();
  raise();
  activateWindow();
}

void ProgressDialog::ShowRunError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, this);
  box.exec();
}

void ProgressDialog::Tick() { ShowTimes(static_cast<double>(clock_.elapsed()) / 1000.0); }

void ProgressDialog::ShowTimes(double elapsedSeconds) {
  const TimeEstimate t =
      EstimateTimes(elapsedSeconds, filterFraction_, filterCount_, graphFraction_);
  elapsed_->setText(FormatDuration(t.elapsed));
  estimated_->setText(FormatDuration(t.estimated));
  remaining_->setText(FormatDuration(t.remaining));
}

void ProgressDialog::OnClose() {
  lastShownState_ = -1;
  StopClock();
  hide();
}

QString ProgressDialog::FilterName() const { return filterName_->text(); }
QString ProgressDialog::FilterState() const { return filterState_->text(); }
QString ProgressDialog::FilterPercent() const { return filterPercent_->text(); }
int ProgressDialog::FilterBar() const { return filterBar_->value(); }
QString ProgressDialog::GraphState() const { return graphState_->text(); }
QString ProgressDialog::GraphPercent() const { return graphPercent_->text(); }
int ProgressDialog::GraphBar() const { return graphBar_->value(); }
QString ProgressDialog::Elapsed() const { return elapsed_->text(); }
QString ProgressDialog::Estimated() const { return estimated_->text(); }
QString ProgressDialog::Remaining() const { return remaining_->text(); }
QString ProgressDialog::Outcome() const { return outcome_->isHidden() ? QString() : outcome_->text(); }

}  // namespace vorlan::gui
