// The main window and graph view driven like a user would: inserting
// through the Insert filter dialog, dragging connections, moving, panning,
// deleting, captions, Configure, and runs with the Progress dialog.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QImage>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <cstdlib>
#include <cstring>

#include "caption_dialog.h"
#include "core/graph_file.h"
#include "core/graph_runner.h"
#include "editor_support.h"
#include "editor_settings.h"
#include "elided_label.h"
#include "graph_view.h"
#include "insert_dialog.h"
#include "main_window.h"
#include "progress_dialog.h"
#include "support/filter_harness.h"

namespace vorlan::gui {
namespace {

using namespace vorlan::gui::test;

constexpr int32_t kFileInput = 10;
constexpr int32_t kFileOutput = 20;
constexpr int32_t kBmpDecoder = 40;
constexpr int32_t kBmpEncoder = 50;
constexpr int32_t kGrayscale = 90;
constexpr int32_t kHvEncoder = 130;
constexpr int32_t kSerializer = 150;
constexpr int kDataPin = 2;  // "Out" of the input stream, "In" of the output stream

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PrototypeOf(kFileInput) < 0 || PrototypeOf(kFileOutput) < 0)
      GTEST_SKIP() << "the file stream plug-ins are not built";
    window_ = std::make_unique<MainWindow>(BuildRegistry());
    window_->SetPromptForUnsaved(false);
    window_->show();
    view_ = window_->View();
    // Straight edges and their hit test by distance; curved edges are
    // tested on their own.
    view_->SetCurvedEdges(false);
  }
  void TearDown() override { window_.reset(); }

  host::GraphDocument& Doc() { return window_->Document(); }
  host::FilterNode& NodeAt(int index) { return *Doc().Node(index); }
  host::FilterNode& Insert(int32_t filterId) {
    const int index = Doc().InsertNode(PrototypeOf(filterId));
    EXPECT_GE(index, 0);
    return NodeAt(index);
  }
  void KeyRelease(int key) {
    QKeyEvent event(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(view_, &event);
  }

  std::unique_ptr<MainWindow> window_;
  GraphView* view_ = nullptr;
};

// Finds the row of the insert list for a filter id ("... [id]").
int RowOf(InsertDialog& dialog, int32_t filterId) {
  const QString tag = QStringLiteral("[%1]").arg(filterId);
  for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i)
    if (dialog.List()->topLevelItem(i)->text(0).endsWith(tag)) return i;
  return -1;
}

TEST_F(EditorTest, InsertConnectMovePanDelete) {
  EXPECT_EQ(window_->PaneText(0), QStringLiteral("Loaded %1 Libraries with %2 Filter prototypes.")
                                      .arg(BuildRegistry().LibraryCount())
                                      .arg(BuildRegistry().PrototypeCount()));
  // The folders searched are named beside the counts until a node is selected.
  EXPECT_EQ(window_->PaneText(1),
            QStringLiteral("Plug-ins from: ") + QString::fromStdString(BuildRegistry().Folders().front().folder.path));
  window_->ShowInsertDialog();
  InsertDialog* inserter = window_->Inserter();
  ASSERT_NE(inserter, nullptr);
  EXPECT_EQ(inserter->List()->topLevelItemCount(), BuildRegistry().PrototypeCount());
  inserter->SelectRow(RowOf(*inserter, kFileInput));
  inserter->AddButton()->click();
  inserter->SelectRow(RowOf(*inserter, kFileOutput));
  inserter->AddButton()->click();
  ASSERT_EQ(Doc().NodeCount(), 2);
  EXPECT_EQ(NodeAt(0).nodeId, 1);
  EXPECT_EQ(NodeAt(1).nodeId, 2);
  // New nodes appear around the middle of the view, the second one not on
  // top of the first, and the newest is selected.
  const QPoint centre = view_->VisibleCentre();
  const host::Rect& box = NodeAt(0).geometry.box;
  EXPECT_LE(std::abs((box.left + box.right) / 2 - centre.x()), GraphView::kGridSize);
  EXPECT_LE(std::abs((box.top + box.bottom) / 2 - centre.y()), GraphView::kGridSize);
  EXPECT_NE(NodeAt(1).x, NodeAt(0).x);
  EXPECT_EQ(NodeAt(1).x % GraphView::kGridSize, 0);
  EXPECT_EQ(view_->SelectedNode(), 1);
  EXPECT_TRUE(window_->isWindowModified());
  inserter->CloseButton()->click();
  // The rest of the test works on nodes at (10,10) and (40,40).
  Doc().MoveNode(NodeAt(0), 10 - NodeAt(0).x, 10 - NodeAt(0).y);
  Doc().MoveNode(NodeAt(1), 40 - NodeAt(1).x, 40 - NodeAt(1).y);

  // Drag the second node away. The grab point (45,45) snaps to (40,40) and
  // the release point (262,158) to (260,150): a move of (220,110).
  Drag(view_, QPoint(45, 45), QPoint(262, 158), 7);
  EXPECT_EQ(NodeAt(1).x, 260);
  EXPECT_EQ(NodeAt(1).y, 150);
  EXPECT_EQ(NodeAt(1).x % 10, 0);

  // Connect "Out" of the input stream to "In" of the output stream.
  const QPoint from = PinCentre(Doc(), NodeAt(0), kDataPin);
  const QPoint to = PinCentre(Doc(), NodeAt(1), kDataPin);
  Press(view_, from);
  EXPECT_EQ(view_->Mode(), DragMode::Connect);
  MoveTo(view_, (from + to) / 2);
  MoveTo(view_, to);
  Release(view_, to);
  ASSERT_EQ(Doc().EdgeCount(), 1);
  const host::GraphEdge& edge = *Doc().Edge(0);
  EXPECT_EQ(edge.fromNode, 1);
  EXPECT_EQ(edge.fromPin, kDataPin);
  EXPECT_EQ(edge.toNode, 2);
  EXPECT_EQ(edge.toPin, kDataPin);

  // Releasing over the start pin, or over empty space, adds nothing.
  Drag(view_, from, from, 2);
  Drag(view_, from, QPoint(700, 500), 2);
  EXPECT_EQ(Doc().EdgeCount(), 1);

  // Moving the first node drags the edge's start along, in steps of 10.
  const int fromX = edge.fromX;
  const int fromY = edge.fromY;
  Drag(view_, BoxPoint(Doc(), NodeAt(0)), BoxPoint(Doc(), NodeAt(0)) + QPoint(34, 21));
  EXPECT_EQ(edge.fromX - fromX, 30);
  EXPECT_EQ(edge.fromY - fromY, 20);
  EXPECT_EQ(edge.toX, PinCentre(Doc(), NodeAt(1), kDataPin).x());

  // Panning empty space moves the origin, which goes into the file.
  Drag(view_, QPoint(700, 450), QPoint(670, 475), 3);
  EXPECT_EQ(Doc().originX, -30);
  EXPECT_EQ(Doc().originY, 25);
  const std::string path = vorlan::test::TempDir("editor_pan") + "/pan.gph";
  ASSERT_TRUE(window_->SaveGraphAs(QString::fromStdString(path)));
  EXPECT_FALSE(window_->isWindowModified());
  EXPECT_TRUE(window_->windowTitle().startsWith("pan.gph"));
  const std::vector<uint8_t> bytes = vorlan::test::ReadFile(path);
  ASSERT_GE(bytes.size(), 8u);
  int32_t origin[2];
  std::memcpy(origin, bytes.data(), 8);
  EXPECT_EQ(origin[0], -30);
  EXPECT_EQ(origin[1], 25);

  // Click the edge's middle, then Delete: only the edge goes.
  const QPoint middle((edge.fromX + edge.toX) / 2 + Doc().originX, (edge.fromY + edge.toY) / 2 + Doc().originY);
  Press(view_, middle + QPoint(0, 2));
  Release(view_, middle + QPoint(0, 2));
  EXPECT_EQ(view_->SelectedEdge(), 0);
  KeyRelease(Qt::Key_Delete);
  EXPECT_EQ(Doc().EdgeCount(), 0);
  EXPECT_EQ(Doc().NodeCount(), 2);

  // Select the first node, Delete removes it.
  Press(view_, BoxPoint(Doc(), NodeAt(0)));
  Release(view_, BoxPoint(Doc(), NodeAt(0)));
  EXPECT_EQ(view_->SelectedNode(), 0);
  KeyRelease(Qt::Key_Delete);
  ASSERT_EQ(Doc().NodeCount(), 1);
  EXPECT_EQ(NodeAt(0).nodeId, 2);
}

TEST_F(EditorTest, EdgeHitTestsStayOnTheSegment) {
  host::FilterNode& a = Insert(kFileInput);
  host::FilterNode& b = Insert(kFileOutput);
  Doc().MoveNode(b, 300, -30);  // level with the first node: a horizontal edge
  ASSERT_GE(Doc().InsertEdge(a.nodeId, kDataPin, b.nodeId, kDataPin), 0);
  const host::GraphEdge& e = *Doc().Edge(0);
  const QPoint from(e.fromX, e.fromY);
  const QPoint to(e.toX, e.toY);
  EXPECT_EQ(view_->HitEdge((from + to) / 2 + QPoint(0, 3)), 0);
  EXPECT_EQ(view_->HitEdge((from + to) / 2 + QPoint(0, 4)), -1);
  // Beyond the end points, even on the line's extension.
  const QPoint beyond = to + (to - from) / 10;
  EXPECT_EQ(view_->HitEdge(beyond), -1);

  // An edge joining a pin to itself has no length: it is hit near its
  // point and must not divide by zero.
  ASSERT_EQ(e.fromY, e.toY);
  ASSERT_GE(Doc().InsertEdge(a.nodeId, 0, a.nodeId, 0), 0);
  const host::GraphEdge& loop = *Doc().Edge(1);
  EXPECT_EQ(view_->HitEdge(QPoint(loop.fromX + 2, loop.fromY + 1)), 1);
  EXPECT_EQ(view_->HitEdge(QPoint(loop.fromX + 5, loop.fromY)), -1);
  // Drawing it is fine too (no arrowhead).
  EXPECT_FALSE(view_->grab().isNull());
}

TEST_F(EditorTest, OutlinesShowSelectionAndUnusableFilters) {
  host::FilterNode& node = Insert(kFileInput);
  const host::Rect box = node.geometry.box;
  auto outline = [&] {
    const QImage shot = view_->grab().toImage();
    return shot.pixelColor(box.left + (box.right - box.left) / 2, box.top);
  };
  EXPECT_EQ(outline(), QColor(Qt::black));
  node.filter->state = FilterState::Error;  // as a filter that could not build its pins
  EXPECT_EQ(outline(), QColor(255, 0, 0));
  view_->SelectNode(0);
  EXPECT_EQ(outline(), QColor(0, 255, 0)) << "selection wins over the error outline";
  // Such a graph does not run.
  window_->RunGraph();
  EXPECT_FALSE(Doc().Run().IsBusy());
  EXPECT_TRUE(window_->statusBar()->currentMessage().startsWith("Run refused"));
  window_->Progress()->CloseButton()->click();
  node.filter->state = FilterState::Ready;
}

TEST_F(EditorTest, ManualFailuresGiveTheReasonAndThePath) {
  const QString here = QDir::currentPath();
  const QString dir = QString::fromStdString(vorlan::test::TempDir("editor_manual"));
  QDir(dir).remove(QStringLiteral("manual.pdf"));
  QDir::setCurrent(dir);
  QString shown, details;
  auto answer = [&shown, &details](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      shown = box->text();
      details = box->informativeText();
    }
    QMetaObject::invokeMethod(modal, "reject");
  };
  bool opened = false;
  window_->SetDocumentOpener([&opened](const QString&, QString&) { return opened = true; });
  {
    auto watcher = OnNextModal(answer);
    window_->OpenManual();  // the test program's folder holds no manual either
  }
  EXPECT_FALSE(opened);
  EXPECT_EQ(shown, "Cannot load manual!");
  EXPECT_TRUE(details.contains("manual.pdf was not found")) << details.toStdString();
  EXPECT_TRUE(details.contains(QDir(dir).absoluteFilePath("manual.pdf"))) << details.toStdString();

  // Found, but nothing can show it: the viewer's reason and the file's path.
  vorlan::test::WriteFile((dir + "/manual.pdf").toStdString(), {'%', 'P', 'D', 'F'});
  window_->SetDocumentOpener([](const QString&, QString& reason) {
    reason = QStringLiteral("No PDF viewer is installed.");
    return false;
  });
  shown.clear();
  {
    auto watcher = OnNextModal(answer);
    window_->OpenManual();
  }
  QDir::setCurrent(here);
  EXPECT_EQ(shown, "Cannot load manual!");
  EXPECT_TRUE(details.startsWith("No PDF viewer is installed.")) << details.toStdString();
  EXPECT_TRUE(details.contains(QDir(dir).absoluteFilePath("manual.pdf"))) << details.toStdString();
}

TEST_F(EditorTest, CaptionThroughTheContextMenu) {
  host::FilterNode& node = Insert(kFileInput);
  const QPoint p = BoxPoint(Doc(), node);
  Press(view_, p, Qt::RightButton);
  Release(view_, p, Qt::RightButton);
  EXPECT_EQ(view_->SelectedNode(), 0);
  QMenu* menu = view_->ContextMenu();
  ASSERT_EQ(menu->actions().size(), 3);
  EXPECT_EQ(menu->actions()[0]->text(), "Set Caption");
  EXPECT_EQ(menu->actions()[1]->text(), "Remove Filter");
  EXPECT_EQ(menu->actions()[2]->text(), "Configure");
  menu->hide();
  const int oldRight = node.geometry.box.right;

  // Cancel keeps the old caption.
  auto watcher1 = OnNextModal([](QWidget* modal) {
    auto* dialog = qobject_cast<CaptionDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->Edit()->setText("ignored");
    dialog->reject();
  });
  menu->actions()[0]->trigger();
  EXPECT_EQ(node.caption, "File Input Stream");

  auto watcher2 = OnNextModal([](QWidget* modal) {
    auto* dialog = qobject_cast<CaptionDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->Edit()->setText("A much longer caption for the source");
    dialog->accept();
  });
  menu->actions()[0]->trigger();
  EXPECT_EQ(node.caption, "A much longer caption for the source");
  EXPECT_GT(node.geometry.box.right, oldRight) << "the box grows with its caption";
  EXPECT_EQ(window_->PaneText(0), "(A much longer caption for the source) File Input Stream 1.0 [10]");
  EXPECT_EQ(window_->PaneText(1), "State : Ready");
}

TEST_F(EditorTest, ConfiguringASerializerDropsEdgesOfVanishedPins) {
  if (PrototypeOf(kSerializer) < 0) GTEST_SKIP() << "serializer.so is not built";
  host::FilterNode& source = Insert(kFileInput);
  host::FilterNode& serializer = Insert(kSerializer);
  const int32_t four = 4;
  std::vector<uint8_t> settings(4);
  std::memcpy(settings.data(), &four, 4);
  ASSERT_TRUE(ApplyBytes(serializer, settings));
  Doc().RefreshNode(serializer);
  ASSERT_EQ(serializer.filter->pinCount, 7);
  Doc().MoveNode(serializer, 200, 0);
  for (int pin = 3; pin <= 6; ++pin)  // numbered inputs "1" .. "4"
    ASSERT_GE(Doc().InsertEdge(source.nodeId, kDataPin, serializer.nodeId, pin), 0);

  auto watcher3 = OnNextModal([](QWidget* modal) {
    auto* edit = modal->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->setText("2");
    QMetaObject::invokeMethod(modal, "accept");
  });
  const QPoint p = BoxPoint(Doc(), serializer);
  Press(view_, p);
  Release(view_, p);
  QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(p), view_->mapToGlobal(QPointF(p)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view_, &twice);
  Release(view_, p);

  EXPECT_EQ(serializer.filter->pinCount, 5);
  ASSERT_EQ(Doc().EdgeCount(), 2);
  for (int i = 0; i < Doc().EdgeCount(); ++i) EXPECT_LE(Doc().Edge(i)->toPin, 4);
  EXPECT_TRUE(window_->isWindowModified());
}

// A File Input Stream feeding a File Output Stream: copies a file.
void BuildCopy(host::GraphDocument& doc, const std::string& in, const std::string& out) {
  host::FilterNode& source = *doc.Node(doc.InsertNode(PrototypeOf(kFileInput)));
  host::FilterNode& target = *doc.Node(doc.InsertNode(PrototypeOf(kFileOutput)));
  doc.SetCaption(source, "source");
  doc.SetCaption(target, "target");
  if (!in.empty()) ApplyBytes(source, TextSettings(in));
  ApplyBytes(target, TextSettings(out));
  doc.InsertEdge(source.nodeId, kDataPin, target.nodeId, kDataPin);
}

TEST_F(EditorTest, RunReachesDoneAndHidesTheProgressDialog) {
  // An empty graph is done at once.
  window_->RunGraph();
  ASSERT_TRUE(WaitUntil([&] { return !Doc().Run().IsBusy() && !window_->Progress()->isVisible(); }));
  EXPECT_EQ(window_->Progress()->GraphState(), "Done");
  EXPECT_EQ(window_->Progress()->GraphBar(), 100);

  const std::string input = vorlan::test::SharedDataPath("camera.bmp");
  const std::string output = vorlan::test::TempDir("editor_run") + "/copy.bmp";
  BuildCopy(Doc(), input, output);
  window_->RunGraph();
  EXPECT_TRUE(window_->Progress()->isVisible());
  ASSERT_TRUE(WaitUntil([&] { return !Doc().Run().IsBusy() && !window_->Progress()->isVisible(); }));
  EXPECT_EQ(window_->Progress()->GraphState(), "Done");
  EXPECT_EQ(window_->Progress()->GraphPercent(), "100.00 %");
  EXPECT_EQ(Doc().Run().LastResult(), Ok);
  EXPECT_EQ(vorlan::test::ReadFile(output), vorlan::test::ReadFile(input));
}

TEST_F(EditorTest, FailingRunNamesTheNodeInTheErrorBox) {
  BuildCopy(Doc(), "", vorlan::test::TempDir("editor_fail") + "/never.bin");
  QString shown;
  ProgressDialog* progress = window_->Progress();
  auto watcher4 = OnNextModal([&shown, progress](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Error");
    shown = box->text();
    // While the box is open the dialog already shows the failure, and its
    // clock stands still.
    EXPECT_EQ(progress->GraphState(), "Error");
    EXPECT_EQ(progress->FilterState(), "Stopped");
    EXPECT_EQ(progress->Outcome(), "Failed on filter : source");
    EXPECT_FALSE(progress->ClockRunning());
    box->accept();
  });
  window_->RunGraph();
  ASSERT_TRUE(WaitUntil([&] { return !Doc().Run().IsBusy(); }));
  EXPECT_TRUE(shown.startsWith("Error on filter : source")) << shown.toStdString();
  EXPECT_EQ(window_->Progress()->GraphState(), "Error");
  EXPECT_EQ(Doc().Run().LastResult(), Failed);
  ASSERT_TRUE(WaitUntil([&] { return !window_->Progress()->ClockRunning(); }, 2000))
      << "the clock stops when the run has ended";
  EXPECT_TRUE(window_->Progress()->isVisible()) << "a failed run leaves the dialog up";
  EXPECT_EQ(window_->Progress()->Outcome(), "Failed on filter : source");

  // The failed node keeps a red frame until the next edit.
  const host::FilterNode& source = NodeAt(0);
  EXPECT_EQ(view_->FailedNode(), source.nodeId);
  view_->ClearInteraction();
  const QImage shot = view_->grab().toImage();
  EXPECT_EQ(shot.pixelColor(BoxPoint(Doc(), source, 0, 5)), QColor(255, 0, 0));
  Drag(view_, BoxPoint(Doc(), source), BoxPoint(Doc(), source) + QPoint(30, 0));
  EXPECT_EQ(view_->FailedNode(), -1);
}

TEST_F(EditorTest, RelativePathsAreTakenFromTheGraphsFolder) {
  // The graph and its files live in a folder that is not the current one.
  const std::string dir = vorlan::test::TempDir("editor_relative");
  const std::vector<uint8_t> bytes = {'v', 'o', 'r', 'l', 'a', 'n', 0, 1, 2};
  vorlan::test::WriteFile(dir + "/in.bin", bytes);
  std::remove((dir + "/out.bin").c_str());
  ASSERT_NE(QDir::currentPath().toStdString(), dir);
  BuildCopy(Doc(), "in.bin", "out.bin");
  // Unsaved, the names are taken from the current folder.
  EXPECT_EQ(view_->NodeToolTip(BoxPoint(Doc(), NodeAt(0))),
            QStringLiteral("source: ") + QDir::current().absoluteFilePath("in.bin"));
  const QString graph = QString::fromStdString(dir + "/copy.gph");
  ASSERT_TRUE(window_->SaveGraphAs(graph));
  ASSERT_TRUE(window_->NewGraph());
  ASSERT_TRUE(window_->OpenGraph(graph));
  EXPECT_EQ(view_->NodeToolTip(BoxPoint(Doc(), NodeAt(1))), QString::fromStdString("target: " + dir + "/out.bin"));
  EXPECT_TRUE(view_->NodeToolTip(QPoint(-1000, -1000)).isEmpty());

  window_->RunGraph();
  ASSERT_TRUE(WaitUntil([&] { return !Doc().Run().IsBusy(); }));
  EXPECT_EQ(Doc().Run().LastResult(), Ok);
  EXPECT_EQ(vorlan::test::ReadFile(dir + "/out.bin"), bytes);
  // The stored names stay relative.
  const std::vector<uint8_t> saved = vorlan::test::ReadFile(graph.toStdString());
  const std::string text(saved.begin(), saved.end());
  EXPECT_NE(text.find("in.bin"), std::string::npos);
  EXPECT_EQ(text.find(dir), std::string::npos);
}

TEST_F(EditorTest, StatusPanesElideInANarrowWindow) {
  host::FilterNode& node = Insert(kFileInput);
  Doc().SetCaption(node, std::string(120, 'c'));
  window_->resize(320, 240);
  view_->SelectNode(0);
  ASSERT_TRUE(WaitUntil([&] { return window_->width() <= 400; }, 2000));
  QApplication::processEvents();
  auto* pane0 = window_->findChild<ElidedLabel*>("pane0");
  auto* pane1 = window_->findChild<ElidedLabel*>("pane1");
  auto* pane2 = window_->findChild<ElidedLabel*>("pane2");
  ASSERT_TRUE(pane0 && pane1 && pane2);
  EXPECT_TRUE(pane0->isElided());
  EXPECT_EQ(pane0->toolTip(), window_->PaneText(0));
  EXPECT_LT(pane0->geometry().right(), pane1->geometry().left());
  EXPECT_LT(pane1->geometry().right(), pane2->geometry().left());
  EXPECT_LE(pane2->geometry().right(), window_->statusBar()->width());
  // Wide enough again, the whole text shows and the tooltip goes.
  Doc().SetCaption(node, "in");
  view_->SelectNode(0);
  EXPECT_FALSE(pane0->isElided());
  EXPECT_TRUE(pane0->toolTip().isEmpty());
}

// A Bmp decoder and a Bmp encoder feeding each other: each waits for the
// other, so the run loops until it is stopped or killed.
// A run that works for seconds: the fractal encoder over the grey camera
// picture. (A cycle of waiting filters no longer runs: it fails at once.)
void BuildLongRun(host::GraphDocument& doc) {
  host::FilterNode& source = *doc.Node(doc.InsertNode(PrototypeOf(kFileInput)));
  host::FilterNode& decoder = *doc.Node(doc.InsertNode(PrototypeOf(kBmpDecoder)));
  host::FilterNode& grey = *doc.Node(doc.InsertNode(PrototypeOf(kGrayscale)));
  host::FilterNode& encoder = *doc.Node(doc.InsertNode(PrototypeOf(kHvEncoder)));
  ApplyBytes(source, TextSettings(vorlan::test::SharedDataPath("camera.bmp")));
  doc.InsertEdge(source.nodeId, kDataPin, decoder.nodeId, 2);
  for (int pin = 3; pin <= 5; ++pin) doc.InsertEdge(decoder.nodeId, pin, grey.nodeId, pin - 1);
  doc.InsertEdge(grey.nodeId, 5, encoder.nodeId, 2);
}

TEST_F(EditorTest, StopAndKillALongRun) {
  for (int32_t id : {kFileInput, kBmpDecoder, kGrayscale, kHvEncoder}) {
    if (PrototypeOf(id) < 0) GTEST_SKIP() << "plug-in of filter " << id << " not built";
  }
  BuildLongRun(Doc());
  window_->RunGraph();
  ASSERT_TRUE(WaitUntil([&] { return window_->Progress()->GraphState() == "Running"; }));

  // A second Run while it runs changes nothing.
  window_->RunGraph();
  EXPECT_TRUE(Doc().Run().IsRunning());
  // While it runs the graph cannot change, but nodes still move.
  EXPECT_FALSE(window_->InsertFilter(PrototypeOf(kFileInput)));
  EXPECT_EQ(window_->statusBar()->currentMessage(), "Insert Filter refused: a run is in progress");
  EXPECT_FALSE(window_->ResetGraph());
  EXPECT_EQ(window_->statusBar()->currentMessage(), "Reset refused: a run is in progress");
  view_->SelectNode(0);
  KeyRelease(Qt::Key_Delete);
  EXPECT_EQ(window_->statusBar()->currentMessage(), "Delete refused: a run is in progress");
  window_->statusBar()->clearMessage();
  EXPECT_FALSE(window_->Undo());
  EXPECT_FALSE(window_->statusBar()->currentMessage().isEmpty()) << "undo is refused, not silently ignored";
  view_->SelectNode(0);
  EXPECT_FALSE(window_->CopySelection()) << "settings are not read during a run";
  EXPECT_FALSE(view_->RemoveSelected());
  EXPECT_EQ(Doc().NodeCount(), 4);
  const int x = NodeAt(0).x;
  Drag(view_, BoxPoint(Doc(), NodeAt(0)), BoxPoint(Doc(), NodeAt(0)) + QPoint(20, 0));
  EXPECT_EQ(NodeAt(0).x, x + 20);
  QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
  QApplication::sendEvent(view_, &right);
  EXPECT_EQ(NodeAt(0).x, x + 30) << "arrow keys move nodes during a run as the mouse does";
  EXPECT_TRUE(window_->isWindowModified());

  // Save waits for the run to end: settings are not read during Process.
  const std::string saved = vorlan::test::TempDir("editor_saved") + "/long.gph";
  EXPECT_FALSE(window_->SaveGraphAs(QString::fromStdString(saved)));
  EXPECT_TRUE(window_->SavePending());

  QString unexpected;
  auto watcher5 = OnNextModal([&unexpected](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) unexpected = box->text();
    QMetaObject::invokeMethod(modal, "reject");
  });
  window_->Progress()->StopButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return !Doc().Run().IsBusy(); }));
  WaitUntil([&] { return window_->Progress()->GraphState() == "Stopped"; }, 2000);
  EXPECT_EQ(window_->Progress()->GraphState(), "Stopped");
  EXPECT_TRUE(window_->Progress()->isVisible()) << "a stopped run leaves the dialog up";
  EXPECT_EQ(Doc().Run().LastResult(), Stopped);
  // The dialog tells how the run ended and which filter it was on.
  ASSERT_TRUE(WaitUntil([&] { return !window_->Progress()->Outcome().isEmpty(); }, 3000));
  EXPECT_EQ(window_->Progress()->Outcome(), "Stopped by the user.");
  EXPECT_FALSE(window_->Progress()->FilterName().isEmpty());
  EXPECT_FALSE(window_->Progress()->StopButton()->isEnabled());
  EXPECT_FALSE(window_->Progress()->KillButton()->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return !window_->SavePending(); }, 3000));
  ASSERT_TRUE(unexpected.isEmpty()) << unexpected.toStdString();
  EXPECT_FALSE(vorlan::test::ReadFile(saved).empty());

  window_->RunGraph();
  ASSERT_TRUE(WaitUntil([&] { return Doc().Run().IsRunning(); }));
  EXPECT_TRUE(window_->Progress()->Outcome().isEmpty());
  // Closed during the run, the dialog comes back from the Graph menu with
  // its clock going and Kill within reach.
  window_->Progress()->CloseButton()->click();
  EXPECT_FALSE(window_->Progress()->isVisible());
  window_->ShowProgress();
  EXPECT_TRUE(window_->Progress()->isVisible());
  EXPECT_TRUE(window_->Progress()->ClockRunning());
  ASSERT_TRUE(window_->Progress()->KillButton()->isEnabled());
  window_->Progress()->KillButton()->click();
  EXPECT_FALSE(Doc().Run().IsRunning()) << "Kill returns to idle at once";
  EXPECT_TRUE(window_->Progress()->Outcome().startsWith("Killed")) << window_->Progress()->Outcome().toStdString();
  EXPECT_EQ(window_->Progress()->GraphState(), "Stopped");
  EXPECT_FALSE(window_->Progress()->ClockRunning());
  EXPECT_EQ(Doc().Run().LastResult(), -1);
  window_->WaitForWorker();
  EXPECT_TRUE(window_->LockReason().isEmpty());
  EXPECT_TRUE(window_->InsertFilter(PrototypeOf(kFileInput)));
  // The next run starts cleanly after a kill.
  window_->KillGraph();
  EXPECT_TRUE(window_->NewGraph());
  EXPECT_EQ(Doc().NodeCount(), 0);
}

TEST_F(EditorTest, OpenRefusesBadFilesAndKeepsAnEmptyDocument) {
  const std::string dir = vorlan::test::TempDir("editor_open");
  vorlan::test::WriteFile(dir + "/bad.gph", {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x39, 0x30, 0, 0});
  Insert(kFileInput);
  QString shown;
  auto watcher6 = OnNextModal([&shown](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    shown = box->text();
    box->accept();
  });
  EXPECT_FALSE(window_->OpenGraph(QString::fromStdString(dir + "/bad.gph")));
  EXPECT_TRUE(shown.startsWith("Failed to load graph.")) << shown.toStdString();
  EXPECT_EQ(Doc().NodeCount(), 0);
  EXPECT_TRUE(window_->CurrentFile().isEmpty());

  // A good file round-trips and lands in the recent list.
  BuildCopy(Doc(), "in.bin", "out.bin");
  ASSERT_TRUE(window_->SaveGraphAs(QString::fromStdString(dir + "/good.gph")));
  ASSERT_TRUE(window_->NewGraph());
  ASSERT_TRUE(window_->OpenGraph(QString::fromStdString(dir + "/good.gph")));
  EXPECT_EQ(Doc().NodeCount(), 2);
  EXPECT_EQ(Doc().EdgeCount(), 1);
  EXPECT_EQ(window_->RecentFiles().value(0), QString::fromStdString(dir + "/good.gph"));
}

TEST_F(EditorTest, RecentFilesAndTheLastFolderSurviveARestart) {
  const std::string dir = vorlan::test::TempDir("editor_recent");
  BuildCopy(Doc(), "in.bin", "out.bin");
  QStringList saved;
  for (int i = 0; i < 6; ++i) {
    const QString path = QString::fromStdString(dir + "/g" + std::to_string(i) + ".gph");
    ASSERT_TRUE(window_->SaveGraphAs(path));
    saved.prepend(path);
  }
  // Saving the second newest again moves it to the top.
  ASSERT_TRUE(window_->SaveGraphAs(saved[1]));
  saved.move(1, 0);
  const QStringList expected = saved.mid(0, 4);
  EXPECT_EQ(window_->RecentFiles(), expected);

  window_.reset();
  window_ = std::make_unique<MainWindow>(BuildRegistry());
  window_->SetPromptForUnsaved(false);
  EXPECT_EQ(window_->RecentFiles(), expected);
  // The menu offers them, newest first, and opens them.
  QMenu* recent = nullptr;
  for (QMenu* menu : window_->findChildren<QMenu*>())
    if (menu->title() == "Recent &Files") recent = menu;
  ASSERT_NE(recent, nullptr);
  ASSERT_EQ(recent->actions().size(), 4);
  EXPECT_TRUE(recent->actions()[0]->text().endsWith(expected[0]));
  recent->actions()[2]->trigger();
  EXPECT_EQ(window_->CurrentFile(), expected[2]);
  EXPECT_EQ(EditorSettings::LastFolder(), QString::fromStdString(dir));
  view_ = window_->View();
}

}  // namespace
}  // namespace vorlan::gui
