// The editing comforts of the graph view driven with real events: undo and
// redo of every kind of edit, multi-selection and the clipboard, zoom and
// scrolling, connection targets, and the keyboard.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QUndoStack>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>

#include "caption_dialog.h"
#include "core/graph_file.h"
#include "editor_support.h"
#include "graph_view.h"
#include "graph_viewport.h"
#include "main_window.h"
#include "support/filter_harness.h"
#include "undo_commands.h"

namespace vorlan::gui {
namespace {

using namespace vorlan::gui::test;

constexpr int32_t kFileInput = 10;
constexpr int32_t kFileOutput = 20;
constexpr int32_t kSerializer = 150;
constexpr int kDataPin = 2;  // "Out" of the input stream, "In" of the output stream

std::vector<uint8_t> Bytes(host::GraphDocument& doc) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(host::SaveGraph(doc, bytes, error)) << error;
  return bytes;
}

void Click(QWidget* w, QPoint p, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(p), w->mapToGlobal(QPointF(p)), Qt::LeftButton, Qt::LeftButton,
                    modifiers);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(p), w->mapToGlobal(QPointF(p)), Qt::LeftButton,
                      Qt::NoButton, modifiers);
  QApplication::sendEvent(w, &release);
}

void BandSelect(QWidget* w, QPoint from, QPoint to) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(from), w->mapToGlobal(QPointF(from)), Qt::LeftButton,
                    Qt::LeftButton, Qt::ShiftModifier);
  QApplication::sendEvent(w, &press);
  QMouseEvent move(QEvent::MouseMove, QPointF(to), w->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                   Qt::ShiftModifier);
  QApplication::sendEvent(w, &move);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(to), w->mapToGlobal(QPointF(to)), Qt::LeftButton,
                      Qt::NoButton, Qt::ShiftModifier);
  QApplication::sendEvent(w, &release);
}

void Key(QWidget* w, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers);
  QApplication::sendEvent(w, &release);
}

void Wheel(QWidget* w, QPoint at, int notches, Qt::KeyboardModifiers modifiers) {
  QWheelEvent event(QPointF(at), w->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                    modifiers, Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &event);
}

QAction* ActionNamed(QWidget* window, const QString& prefix) {
  for (QAction* action : window->findChildren<QAction*>())
    if (action->text().remove('&').startsWith(prefix)) return action;
  return nullptr;
}

class GraphEditing : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PrototypeOf(kFileInput) < 0 || PrototypeOf(kFileOutput) < 0)
      GTEST_SKIP() << "the file stream plug-ins are not built";
    window_ = std::make_unique<MainWindow>(BuildRegistry());
    window_->SetPromptForUnsaved(false);
    window_->show();
    view_ = window_->View();
    WaitUntil([&] { return view_->width() > 400; }, 2000);
  }
  void TearDown() override { window_.reset(); }

  host::GraphDocument& Doc() { return window_->Document(); }
  host::FilterNode& NodeAt(int index) { return *Doc().Node(index); }
  // A node inserted through the window's command, placed at (x, y).
  host::FilterNode& Add(int32_t filterId, int x, int y) {
    EXPECT_TRUE(window_->InsertFilter(PrototypeOf(filterId)));
    host::FilterNode& node = NodeAt(Doc().NodeCount() - 1);
    Doc().MoveNode(node, x - node.x, y - node.y);
    return node;
  }
  // An input stream at (20, 20) feeding an output stream at (260, 40).
  void AddPair() {
    host::FilterNode& in = Add(kFileInput, 20, 20);
    ApplyBytes(in, TextSettings("in.bin"));
    host::FilterNode& out = Add(kFileOutput, 260, 40);
    ApplyBytes(out, TextSettings("out.bin"));
    ASSERT_GE(Doc().InsertEdge(in.nodeId, kDataPin, out.nodeId, kDataPin), 0);
  }
  // Makes the edit, then checks that undo gives back the bytes from before
  // it and redo those after it.
  void ExpectUndoable(const char* what, const std::function<void()>& edit) {
    SCOPED_TRACE(what);
    const std::vector<uint8_t> before = Bytes(Doc());
    const int depth = window_->History()->Stack()->count();
    edit();
    const std::vector<uint8_t> after = Bytes(Doc());
    ASSERT_NE(after, before) << "the edit changed nothing";
    EXPECT_EQ(window_->History()->Stack()->count(), depth + 1) << "one edit, one undo step";
    EXPECT_TRUE(window_->isWindowModified());
    ASSERT_TRUE(window_->Undo());
    EXPECT_EQ(Bytes(Doc()), before);
    ASSERT_TRUE(window_->Redo());
    EXPECT_EQ(Bytes(Doc()), after);
  }

  std::unique_ptr<MainWindow> window_;
  GraphView* view_ = nullptr;
};

TEST_F(GraphEditing, EveryEditUndoesToTheSavedBytesAndRedoes) {
  ExpectUndoable("insert", [&] { window_->InsertFilter(PrototypeOf(kFileInput)); });
  Doc().MoveNode(NodeAt(0), 20 - NodeAt(0).x, 20 - NodeAt(0).y);
  ExpectUndoable("insert a second", [&] { window_->InsertFilter(PrototypeOf(kFileOutput)); });
  Doc().MoveNode(NodeAt(1), 260 - NodeAt(1).x, 60 - NodeAt(1).y);
  // The positions set directly above are now the clean state of a save.
  const std::string path = vorlan::test::TempDir("graph_editing") + "/undo.gph";
  ASSERT_TRUE(window_->SaveGraphAs(QString::fromStdString(path)));
  const std::vector<uint8_t> saved = Bytes(Doc());

  ExpectUndoable("connect", [&] {
    Drag(view_, PinCentre(Doc(), NodeAt(0), kDataPin), PinCentre(Doc(), NodeAt(1), kDataPin));
  });
  ASSERT_EQ(Doc().EdgeCount(), 1);
  ExpectUndoable("move by dragging", [&] {
    Drag(view_, BoxPoint(Doc(), NodeAt(1)), BoxPoint(Doc(), NodeAt(1)) + QPoint(40, 70));
  });
  ExpectUndoable("caption", [&] {
    view_->SetCaptionPrompt([](QString& caption) {
      caption = QStringLiteral("renamed");
      return true;
    });
    Click(view_, BoxPoint(Doc(), NodeAt(0)));
    Key(view_, Qt::Key_F2);
    EXPECT_EQ(NodeAt(0).caption, "renamed");
  });
  ExpectUndoable("arrow keys, merged into one step", [&] {
    Click(view_, BoxPoint(Doc(), NodeAt(0)));
    const int x = NodeAt(0).x;
    Key(view_, Qt::Key_Right);
    Key(view_, Qt::Key_Right);
    Key(view_, Qt::Key_Down);
    EXPECT_EQ(NodeAt(0).x, x + 2 * GraphView::kGridSize);
  });
  ExpectUndoable("delete two nodes with their edge", [&] {
    Click(view_, BoxPoint(Doc(), NodeAt(0)));
    Click(view_, BoxPoint(Doc(), NodeAt(1)), Qt::ControlModifier);
    EXPECT_EQ(view_->SelectedIds().size(), 2u);
    Key(view_, Qt::Key_Delete);
    EXPECT_EQ(Doc().NodeCount(), 0);
  });
  // Undo everything back to the save: the bytes and the clean mark return.
  while (window_->History()->Stack()->index() > window_->History()->Stack()->cleanIndex()) window_->Undo();
  EXPECT_EQ(Bytes(Doc()), saved);
  EXPECT_FALSE(window_->isWindowModified());
  // The shortcut reaches the same command.
  QAction* redo = ActionNamed(window_.get(), "Redo");
  ASSERT_NE(redo, nullptr);
  EXPECT_TRUE(redo->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Y)));
  redo->trigger();
  EXPECT_EQ(Doc().EdgeCount(), 1);
  EXPECT_TRUE(window_->isWindowModified());

  window_->NewGraph();
  EXPECT_FALSE(window_->History()->Stack()->canUndo()) << "a new document starts a new history";
}

TEST_F(GraphEditing, ConfigureThatDropsEdgesIsUndoneWithThem) {
  if (PrototypeOf(kSerializer) < 0) GTEST_SKIP() << "serializer.so is not built";
  host::FilterNode& source = Add(kFileInput, 20, 20);
  host::FilterNode& serializer = Add(kSerializer, 300, 20);
  const int32_t four = 4;
  std::vector<uint8_t> settings(4);
  std::memcpy(settings.data(), &four, 4);
  ASSERT_TRUE(ApplyBytes(serializer, settings));
  Doc().RefreshNode(serializer);
  for (int pin = 3; pin <= 6; ++pin) ASSERT_GE(Doc().InsertEdge(source.nodeId, kDataPin, serializer.nodeId, pin), 0);
  const Filter* kept = serializer.filter;

  ExpectUndoable("configure", [&] {
    auto watcher = OnNextModal([](QWidget* modal) {
      auto* edit = modal->findChild<QLineEdit*>();
      ASSERT_NE(edit, nullptr);
      edit->setText("2");
      QMetaObject::invokeMethod(modal, "accept");
    });
    Click(view_, BoxPoint(Doc(), *Doc().NodeById(2)));
    Key(view_, Qt::Key_Return);  // Enter opens Configure
    EXPECT_EQ(Doc().EdgeCount(), 2);
  });
  window_->Undo();
  EXPECT_EQ(Doc().EdgeCount(), 4);
  EXPECT_EQ(Doc().NodeById(2)->filter, kept) << "undo reconfigures the filter, it does not replace it";
  EXPECT_EQ(Doc().NodeById(2)->filter->pinCount, 7);
}

TEST_F(GraphEditing, PasteOfTwoConnectedNodesRecreatesTheirEdge) {
  AddPair();
  Add(kFileInput, 20, 300);  // outside the band
  BandSelect(view_, QPoint(5, 5), QPoint(500, 150));
  ASSERT_EQ(view_->SelectedIds(), (std::set<int32_t>{1, 2}));
  ASSERT_TRUE(window_->CopySelection());

  // The clipboard holds graph file bytes that load on their own.
  const QMimeData* data = QApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  const QByteArray bytes = data->data(QString::fromLatin1(MainWindow::kGraphMimeType));
  FontTextMeasure measure;
  host::GraphDocument loose(BuildRegistry(), measure);
  ASSERT_TRUE(host::LoadGraph(loose, reinterpret_cast<const uint8_t*>(bytes.constData()),
                              static_cast<size_t>(bytes.size()))
                  .ok);
  EXPECT_EQ(loose.NodeCount(), 2);
  EXPECT_EQ(loose.EdgeCount(), 1);

  ExpectUndoable("paste", [&] {
    ASSERT_TRUE(window_->Paste());
    EXPECT_EQ(view_->SelectedIds(), (std::set<int32_t>{4, 5})) << "the pasted nodes are selected";
  });
  ASSERT_EQ(Doc().NodeCount(), 5);
  ASSERT_EQ(Doc().EdgeCount(), 2);
  const host::GraphEdge& edge = *Doc().Edge(1);
  EXPECT_EQ(edge.fromNode, 4);
  EXPECT_EQ(edge.toNode, 5);
  EXPECT_EQ(edge.toPin, kDataPin);
  EXPECT_EQ(Doc().NodeById(4)->caption, Doc().NodeById(1)->caption);
  EXPECT_NE(Doc().NodeById(4)->x, Doc().NodeById(1)->x);

  // A second paste does not land on the first.
  ASSERT_TRUE(window_->Paste());
  EXPECT_NE(Doc().NodeById(6)->x, Doc().NodeById(4)->x);
  view_->SelectNodeIds({4, 5});

  // Duplicate and cut act on the selection; cut is undone like a delete.
  ExpectUndoable("duplicate", [&] { ASSERT_TRUE(window_->DuplicateSelection()); });
  EXPECT_EQ(Doc().EdgeCount(), 4);
  ExpectUndoable("cut", [&] { ASSERT_TRUE(window_->CutSelection()); });

  // Junk on the clipboard is refused with a message, the graph untouched.
  auto* junk = new QMimeData;
  junk->setData(QString::fromLatin1(MainWindow::kGraphMimeType), QByteArray("\x01\x02\x03", 3));
  QApplication::clipboard()->setMimeData(junk);
  const std::vector<uint8_t> before = Bytes(Doc());
  EXPECT_FALSE(window_->Paste());
  EXPECT_EQ(Bytes(Doc()), before);
}

TEST_F(GraphEditing, ZoomIsAViewPropertyAndScrollingMovesTheOrigin) {
  AddPair();
  const std::string dir = vorlan::test::TempDir("graph_zoom");
  ASSERT_TRUE(window_->SaveGraphAs(QString::fromStdString(dir + "/a.gph")));
  const std::vector<uint8_t> saved = vorlan::test::ReadFile(dir + "/a.gph");

  Wheel(view_, QPoint(100, 100), 2, Qt::ControlModifier);
  EXPECT_NEAR(view_->Zoom().Scale(), ViewZoom::kStep * ViewZoom::kStep, 1e-9);
  // Zooming at a point keeps the graph point under it.
  EXPECT_NEAR(view_->Zoom().ToClient(QPointF(100, 100)).x(), 100, 1e-6);
  // Hits follow the zoom: the node is found where it is drawn.
  const host::Rect& box = NodeAt(1).geometry.box;
  const QPoint drawn = view_->Zoom().ToWidget(QPointF(box.left + 6, box.top + 6)).toPoint();
  Click(view_, drawn);
  EXPECT_EQ(view_->SelectedNode(), 1);
  ActionNamed(window_.get(), "Zoom to Fit")->trigger();
  EXPECT_LE(view_->Zoom().Scale(), 1.0);
  const QRect content = view_->ContentRect();
  EXPECT_TRUE(QRectF(view_->rect()).contains(view_->Zoom().ToWidget(content.topLeft())));
  EXPECT_TRUE(QRectF(view_->rect()).contains(view_->Zoom().ToWidget(content.bottomRight())));
  ActionNamed(window_.get(), "Zoom Out")->trigger();
  EXPECT_FALSE(window_->isWindowModified()) << "zoom is no change of the document";
  ASSERT_TRUE(window_->SaveGraphAs(QString::fromStdString(dir + "/b.gph")));
  EXPECT_EQ(vorlan::test::ReadFile(dir + "/b.gph"), saved);
  ActionNamed(window_.get(), "Actual Size")->trigger();
  EXPECT_EQ(view_->Zoom().Scale(), 1.0);

  // The wheel scrolls: the origin moves, which the file stores.
  const int steps = window_->History()->Stack()->count();
  Wheel(view_, QPoint(100, 100), -1, Qt::NoModifier);
  EXPECT_EQ(Doc().originY, -40);
  EXPECT_TRUE(window_->isWindowModified());
  EXPECT_EQ(window_->History()->Stack()->count(), steps) << "scrolling is not an edit";

  // Far away nodes bring the scroll bars; moving a bar scrolls like panning.
  Doc().MoveNode(NodeAt(1), 3000, 0);
  GraphViewport* port = window_->Viewport();
  port->UpdateBars();
  ASSERT_TRUE(port->Horizontal()->isVisibleTo(port));
  port->Horizontal()->setValue(port->Horizontal()->maximum());
  EXPECT_EQ(Doc().originX, -port->Horizontal()->maximum());
  EXPECT_LT(Doc().originX, -2000);
}

TEST_F(GraphEditing, ConnectionTargetsAndKeyboard) {
  AddPair();
  host::FilterNode& second = Add(kFileInput, 20, 200);
  // From "Out" of the first stream: the inputs of the others light up.
  const QPoint from = PinCentre(Doc(), NodeAt(0), kDataPin);
  Press(view_, from);
  MoveTo(view_, from + QPoint(50, 30));
  ASSERT_EQ(view_->Mode(), DragMode::Connect);
  const std::vector<PinHit> targets = view_->ConnectTargets();
  auto has = [&](int node, int pin) {
    return std::any_of(targets.begin(), targets.end(), [&](const PinHit& t) { return t.node == node && t.pin == pin; });
  };
  EXPECT_TRUE(has(1, kDataPin));
  EXPECT_FALSE(has(2, kDataPin)) << "another output is no target";
  EXPECT_FALSE(has(0, kDataPin));
  // Escape drops the connection: releasing over a target adds nothing.
  Key(view_, Qt::Key_Escape);
  EXPECT_EQ(view_->Mode(), DragMode::Idle);
  const QPoint to = PinCentre(Doc(), NodeAt(1), kDataPin);
  MoveTo(view_, to);
  Release(view_, to);
  EXPECT_EQ(Doc().EdgeCount(), 1);

  // Arrow keys move every selected node by the grid step; Menu opens the
  // context menu.
  Click(view_, BoxPoint(Doc(), NodeAt(0)));
  Click(view_, BoxPoint(Doc(), second), Qt::ControlModifier);
  const int x0 = NodeAt(0).x, y2 = second.y;
  Key(view_, Qt::Key_Left);
  Key(view_, Qt::Key_Up);
  EXPECT_EQ(NodeAt(0).x, x0 - GraphView::kGridSize);
  EXPECT_EQ(second.y, y2 - GraphView::kGridSize);
  EXPECT_EQ(NodeAt(1).x, 260) << "an unselected node stays";
  // Ctrl-click again drops a node from the selection.
  Click(view_, BoxPoint(Doc(), second), Qt::ControlModifier);
  EXPECT_EQ(view_->SelectedIds(), (std::set<int32_t>{1}));
  Key(view_, Qt::Key_Menu);
  EXPECT_TRUE(WaitUntil([&] { return view_->ContextMenu()->isVisible(); }, 2000));
  view_->ContextMenu()->hide();
}

}  // namespace
}  // namespace vorlan::gui
