// Exit ends the program: with a run going and filter windows on screen,
// Ctrl+Q or closing the main window stops the run, destroys every filter
// with its windows and returns from the event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "core/graph_runner.h"
#include "editor.h"
#include "editor_support.h"
#include "main_window.h"
#include "progress_dialog.h"
#include "support/filter_harness.h"

namespace vorlan::gui {
namespace {

using namespace vorlan::gui::test;

constexpr int32_t kFileInput = 10;
constexpr int32_t kRgbDisplay = 30;
constexpr int32_t kBmpDecoder = 40;
constexpr int32_t kBmpEncoder = 50;
constexpr int32_t kTextDisplay = 70;
constexpr int32_t kGrayscale = 90;
constexpr int32_t kHvEncoder = 130;

// Visible top-level windows that belong to filters.
int VisibleFilterWindows(MainWindow& window) {
  int count = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w != &window && w != window.Progress() && w->parent() == nullptr) ++count;
  return count;
}

QStringList LeftOver() {
  QStringList names;
  for (QWidget* w : QApplication::topLevelWidgets())
    names << QStringLiteral("%1 \"%2\"").arg(QString::fromUtf8(w->metaObject()->className()), w->windowTitle());
  return names;
}

// Runs the editor's loop with `setUp` inside it; the watchdog ends a loop
// that Exit failed to end with code 99.
int RunEditorLoop(const std::function<void(MainWindow&)>& setUp) {
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  watchdog.start(90000);
  const int code = RunMainWindow(BuildRegistry(), QString(), setUp);
  watchdog.stop();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return code;
}

bool Have(std::initializer_list<int32_t> ids) {
  for (int32_t id : ids)
    if (PrototypeOf(id) < 0) return false;
  return true;
}

host::FilterNode& Add(host::GraphDocument& doc, int32_t filterId) {
  return *doc.Node(doc.InsertNode(PrototypeOf(filterId)));
}

TEST(EditorExit, CtrlQDuringAnEncodeWithDisplayAndFeedbackWindowsEndsTheLoop) {
  if (!Have({kFileInput, kBmpDecoder, kRgbDisplay, kGrayscale, kHvEncoder})) GTEST_SKIP() << "plug-ins not built";
  bool sawWindows = false;
  bool runWasAlive = false;
  const int code = RunEditorLoop([&](MainWindow& window) {
    window.SetPromptForUnsaved(false);
    host::GraphDocument& doc = window.Document();
    // source -> BMP -> RGB display (shown at once), then grey -> HV encoder,
    // whose feedback window shows while it searches.
    host::FilterNode& source = Add(doc, kFileInput);
    host::FilterNode& bmp = Add(doc, kBmpDecoder);
    host::FilterNode& rgb = Add(doc, kRgbDisplay);
    host::FilterNode& grey = Add(doc, kGrayscale);
    host::FilterNode& encoder = Add(doc, kHvEncoder);
    ApplyBytes(source, TextSettings(vorlan::test::SharedDataPath("camera.bmp")));
    doc.InsertEdge(source.nodeId, 2, bmp.nodeId, 2);
    for (int pin = 3; pin <= 5; ++pin) {
      doc.InsertEdge(bmp.nodeId, pin, rgb.nodeId, pin - 1);
      doc.InsertEdge(bmp.nodeId, pin, grey.nodeId, pin - 1);
    }
    doc.InsertEdge(grey.nodeId, 5, encoder.nodeId, 2);
    window.RunGraph();
    sawWindows = WaitUntil([&] { return VisibleFilterWindows(window) >= 2; }, 60000);
    runWasAlive = doc.Run().IsBusy();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window)) << "Ctrl+Q needs the main window active";
    QTimer::singleShot(0, &window, [&window] { QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier); });
  });
  EXPECT_TRUE(sawWindows) << "the RGB display and the feedback window were not both shown";
  EXPECT_TRUE(runWasAlive) << "the encoder ended before Exit; the stop path went untested";
  EXPECT_EQ(code, 0) << "Exit did not end the event loop";
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << LeftOver().join(", ").toStdString();
}

TEST(EditorExit, ClosingTheWindowKillsARunThatOutlastsTheGracePeriod) {
  if (!Have({kTextDisplay, kFileInput, kBmpDecoder, kGrayscale, kHvEncoder})) GTEST_SKIP() << "plug-ins not built";
  bool sawWindow = false;
  const int code = RunEditorLoop([&](MainWindow& window) {
    window.SetPromptForUnsaved(false);
    window.SetExitGrace(0);
    host::GraphDocument& doc = window.Document();
    Add(doc, kTextDisplay);  // shows its window with an empty text
    // An encode of camera.bmp keeps the run alive for seconds.
    host::FilterNode& source = Add(doc, kFileInput);
    host::FilterNode& bmp = Add(doc, kBmpDecoder);
    host::FilterNode& grey = Add(doc, kGrayscale);
    host::FilterNode& encoder = Add(doc, kHvEncoder);
    ApplyBytes(source, TextSettings(vorlan::test::SharedDataPath("camera.bmp")));
    doc.InsertEdge(source.nodeId, 2, bmp.nodeId, 2);
    for (int pin = 3; pin <= 5; ++pin) doc.InsertEdge(bmp.nodeId, pin, grey.nodeId, pin - 1);
    doc.InsertEdge(grey.nodeId, 5, encoder.nodeId, 2);
    window.RunGraph();
    sawWindow = WaitUntil([&] { return VisibleFilterWindows(window) >= 1 && doc.Run().IsRunning(); });
    window.Progress()->hide();
    QTimer::singleShot(0, &window, [&window] { window.close(); });
  });
  EXPECT_TRUE(sawWindow);
  EXPECT_EQ(code, 0) << "closing the main window did not end the event loop";
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << LeftOver().join(", ").toStdString();
}

}  // namespace
}  // namespace vorlan::gui
