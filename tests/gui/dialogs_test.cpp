// The editor's small dialogs and the Progress dialog, driven as widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "about_dialog.h"
#include "app_icon.h"
#include "caption_dialog.h"
#include "dialog_title_fitter.h"
#include "insert_dialog.h"
#include "progress_dialog.h"
#include "vorlan/contract.h"

namespace vorlan::gui {
namespace {

TEST(ProgressClock, FormatsAndEstimatesWithoutGoingNegative) {
  EXPECT_EQ(FormatDuration(0), "00:00:00");
  EXPECT_EQ(FormatDuration(3723.9), "01:02:03");
  EXPECT_EQ(FormatDuration(-5), "00:00:00");
  EXPECT_EQ(FormatDuration(std::numeric_limits<double>::infinity()), "00:00:00");
  // A nearly-zero fraction must not overflow the hours column into garbage.
  EXPECT_FALSE(FormatDuration(1e300).startsWith('-'));

  // Half of the first of two filters done: a quarter overall.
  TimeEstimate t = EstimateTimes(10, 0.5, 2, 0.0);
  EXPECT_DOUBLE_EQ(t.estimated, 40);
  EXPECT_DOUBLE_EQ(t.remaining, 30);
  // One filter finished out of two, the second just started.
  t = EstimateTimes(10, 0.0, 2, 0.5);
  EXPECT_DOUBLE_EQ(t.estimated, 20);
  // Nothing done yet: the estimate is the elapsed time.
  t = EstimateTimes(7, 0, 3, 0);
  EXPECT_DOUBLE_EQ(t.estimated, 7);
  EXPECT_DOUBLE_EQ(t.remaining, 0);
  // No filter count yet: only the filter fraction counts.
  t = EstimateTimes(10, 0.25, 0, 0.9f);
  EXPECT_DOUBLE_EQ(t.estimated, 40);
  // A fraction beyond one never gives a negative remaining time.
  t = EstimateTimes(10, 1.0, 1, 1.0);
  EXPECT_GE(t.remaining, 0);
}

TEST(ProgressDialog, ShowsReportsAndHidesOnDone) {
  ProgressDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), "Progress");
  EXPECT_TRUE(dialog.CloseButton()->isDefault());
  dialog.show();
  dialog.StartClock();
  EXPECT_TRUE(dialog.ClockRunning());
  EXPECT_EQ(dialog.Elapsed(), "00:00:00");

  GraphProgress g;
  g.fraction = 0.5f;
  g.filterCount = 2;
  g.runnerState = static_cast<int>(FilterState::Running);
  g.current = {1, "Bmp decoder", 1, 0, 40, static_cast<int>(FilterState::Running)};
  dialog.ShowGraphProgress(g);
  EXPECT_EQ(dialog.FilterName(), "[1] Bmp decoder 1.0 (40)");
  EXPECT_EQ(dialog.FilterState(), "Running");
  EXPECT_EQ(dialog.GraphState(), "Running");
  EXPECT_EQ(dialog.GraphPercent(), "50.00 %");

  dialog.ShowFilterProgress(0.255f, static_cast<int>(FilterState::Running));
  EXPECT_EQ(dialog.FilterBar(), 25);
  EXPECT_EQ(dialog.FilterPercent(), "25.50 %");
  // Overall: 0.255 / 2 + 0.5.
  EXPECT_EQ(dialog.GraphBar(), 62);
  EXPECT_EQ(dialog.GraphPercent(), "62.75 %");

  dialog.ShowTimes(3661);
  EXPECT_EQ(dialog.Elapsed(), "01:01:01");

  // A stop leaves the dialog up with the state Stopped and no filter.
  g.runnerState = static_cast<int>(FilterState::Stopped);
  g.current = CurrentFilter{};
  dialog.ShowGraphProgress(g);
  EXPECT_EQ(dialog.FilterName(), "");
  EXPECT_EQ(dialog.GraphState(), "Stopped");
  EXPECT_TRUE(dialog.isVisible());

  g.fraction = 1.0f;
  g.runnerState = static_cast<int>(FilterState::Done);
  dialog.ShowGraphProgress(g);
  EXPECT_EQ(dialog.GraphState(), "Done");
  EXPECT_EQ(dialog.GraphBar(), 100);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_FALSE(dialog.ClockRunning());
}

TEST(ProgressDialog, ButtonsSignalAndCloseKeepsTheRun) {
  ProgressDialog dialog;
  QSignalSpy kills(&dialog, &ProgressDialog::KillClicked);
  QSignalSpy stops(&dialog, &ProgressDialog::StopClicked);
  dialog.show();
  dialog.StartClock();
  // Without a live run Stop and Kill do nothing.
  QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
  QTest::mouseClick(dialog.KillButton(), Qt::LeftButton);
  EXPECT_EQ(stops.count() + kills.count(), 0);
  dialog.SetRunAlive(true);
  QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
  EXPECT_EQ(stops.count(), 1);
  EXPECT_FALSE(dialog.ClockRunning());
  EXPECT_TRUE(dialog.isVisible());
  dialog.StartClock();
  dialog.SetRunAlive(true);
  QTest::mouseClick(dialog.KillButton(), Qt::LeftButton);
  EXPECT_EQ(kills.count(), 1);
  EXPECT_FALSE(dialog.ClockRunning());
  dialog.StartClock();
  QTest::mouseClick(dialog.CloseButton(), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_FALSE(dialog.ClockRunning());
  EXPECT_EQ(kills.count() + stops.count(), 2);
}

TEST(CaptionDialog, EditsAndCapsTheCaption) {
  CaptionDialog dialog(QStringLiteral("HV encoder"));
  EXPECT_EQ(dialog.windowTitle(), "Set Caption");
  EXPECT_EQ(dialog.Edit()->text(), "HV encoder");
  dialog.Edit()->setText(QString(300, 'x'));
  EXPECT_EQ(dialog.Caption().size(), CaptionDialog::kMaxLength);
}

TEST(InsertDialog, AddsTheSelectedPrototypeOnly) {
  InsertDialog dialog;
  dialog.SetRows({{7, "Bmp decoder 1.0 [40]", "Bmp Decoder Library 1.0 (dibreader.so)", "images"},
                  {9, "HV encoder 1.0 [130]", "HV Encoder Library 1.0 (collage.so)", "fractal"}});
  ASSERT_EQ(dialog.List()->topLevelItemCount(), 2);
  EXPECT_EQ(dialog.List()->headerItem()->text(0), "Filter");
  EXPECT_EQ(dialog.List()->headerItem()->text(1), "Library");
  EXPECT_EQ(dialog.List()->columnWidth(0), 265);
  QSignalSpy adds(&dialog, &InsertDialog::AddRequested);
  dialog.show();
  QTest::mouseClick(dialog.AddButton(), Qt::LeftButton);
  EXPECT_EQ(adds.count(), 0) << "no row selected, nothing to add";
  dialog.SelectRow(1);
  QTest::mouseClick(dialog.AddButton(), Qt::LeftButton);
  QTest::mouseClick(dialog.AddButton(), Qt::LeftButton);
  ASSERT_EQ(adds.count(), 2);
  EXPECT_EQ(adds.at(0).at(0).toInt(), 9);
  EXPECT_TRUE(dialog.isVisible()) << "Add keeps the dialog open";
  QTest::mouseClick(dialog.CloseButton(), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace vorlan::gui

namespace vorlan::gui {
namespace {

TEST(DialogTitleFitter, WidensADialogToItsTitle) {
  DialogTitleFitter fitter;
  qApp->installEventFilter(&fitter);
  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("Grayscale Conversion settings with a long title"));
  dialog.resize(60, 40);
  dialog.show();
  EXPECT_GE(dialog.width(), TitleBarWidth(dialog.windowTitle()));
  EXPECT_GT(TitleBarWidth(dialog.windowTitle()), TitleBarWidth(QStringLiteral("Short")));
  dialog.hide();
  qApp->removeEventFilter(&fitter);
}

TEST(AboutDialog, ShowsTheProgramIcon) {
  ASSERT_FALSE(ApplicationIcon().isNull());
  AboutDialog about;
  auto* icon = about.findChild<QLabel*>(QStringLiteral("icon"));
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About vorlan"));
}

}  // namespace
}  // namespace vorlan::gui
