// Building graphs quickly: quick add from the keyboard and from a dropped
// connection, the Insert dialog's search, nodes placed where nothing is,
// Arrange, curved edges with their hit test, hover and pin tooltips.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QStatusBar>
#include <QTest>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QTreeWidget>
#include <QUrl>

#include "core/graph_file.h"
#include "core/graph_runner.h"
#include "core/placement.h"
#include "editor_support.h"
#include "graph_painter.h"
#include "graph_view.h"
#include "insert_dialog.h"
#include "main_window.h"
#include "node_previews.h"
#include "properties_panel.h"
#include "quick_add.h"
#include "undo_commands.h"
#include "support/filter_harness.h"

namespace vorlan::gui {
namespace {

using namespace vorlan::gui::test;

constexpr int32_t kFileInput = 10;
constexpr int32_t kFileOutput = 20;
constexpr int32_t kBmpDecoder = 40;
constexpr int32_t kGrayscale = 90;
constexpr int32_t kHvEncoder = 130;
constexpr int32_t kHvPacker = 1000;

bool Overlap(const host::Rect& a, const host::Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

int Overlaps(const host::GraphDocument& doc) {
  int n = 0;
  for (int32_t i = 0; i < doc.NodeCount(); ++i)
    for (int32_t j = i + 1; j < doc.NodeCount(); ++j)
      n += Overlap(doc.Node(i)->geometry.box, doc.Node(j)->geometry.box) ? 1 : 0;
  return n;
}

std::vector<uint8_t> Bytes(host::GraphDocument& doc) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(host::SaveGraph(doc, bytes, error)) << error;
  return bytes;
}

void Key(QWidget* w, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &release);
}

class ModernEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const int32_t id : {kFileInput, kFileOutput, kBmpDecoder, kGrayscale, kHvEncoder, kHvPacker})
      if (PrototypeOf(id) < 0) GTEST_SKIP() << "plug-in " << id << " is not built";
    window_ = std::make_unique<MainWindow>(BuildRegistry());
    window_->SetPromptForUnsaved(false);
    window_->resize(1000, 700);
    window_->show();
    view_ = window_->View();
    view_->SetCurvedEdges(true);
    WaitUntil([&] { return view_->width() > 600; }, 2000);
  }
  void TearDown() override { window_.reset(); }

  host::GraphDocument& Doc() { return window_->Document(); }
  host::FilterNode& Last() { return *Doc().Node(Doc().NodeCount() - 1); }

  // Types `query` into the open quick-add field and presses Enter; the
  // number of actions it took (keys, counting the query's characters).
  int Choose(const QString& query) {
    QuickAddPopup* popup = window_->QuickAdd();
    EXPECT_NE(popup, nullptr);
    if (popup == nullptr) return 0;
    EXPECT_TRUE(popup->isVisible());
    QTest::keyClicks(popup->Field(), query);
    Key(popup->Field(), Qt::Key_Return);
    return static_cast<int>(query.size()) + 1;
  }

  std::unique_ptr<MainWindow> window_;
  GraphView* view_ = nullptr;
};

// The compress chain from an empty canvas with the keyboard and four
// dropped connections: every node joined to the one before it.
TEST_F(ModernEditor, QuickAddBuildsTheCompressChainFromTheKeyboard) {
  int actions = 1;  // Tab
  Key(view_, Qt::Key_Tab);
  actions += Choose(QStringLiteral("file in"));
  ASSERT_EQ(Doc().NodeCount(), 1);
  EXPECT_EQ(Last().filter->info.id, kFileInput);
  EXPECT_FALSE(window_->QuickAdd()->isVisible());
  EXPECT_EQ(window_->History()->Stack()->count(), 1);

  const std::pair<int32_t, const char*> chain[] = {
      {kBmpDecoder, "bmp dec"}, {kGrayscale, "gray"}, {kHvEncoder, "hv enc"}, {kHvPacker, "packer"},
      {kFileOutput, "file out"}};
  for (const auto& [id, query] : chain) {
    host::FilterNode& from = Last();
    const int32_t fromId = from.nodeId;
    // The node's first output (the HV encoder: its header "HDR").
    int out = -1;
    for (int k = 0; k < from.filter->pinCount && out < 0; ++k)
      if (from.filter->pins[k]->kind == static_cast<int32_t>(PinKind::Output)) out = k;
    ASSERT_GE(out, 0);
    const QPoint start = PinCentre(Doc(), from, out);
    Drag(view_, start, start + QPoint(120, 0));  // dropped on empty canvas
    actions += 1;
    actions += Choose(QString::fromUtf8(query));
    ASSERT_EQ(Last().filter->info.id, id) << query;
    const host::GraphEdge& edge = *Doc().Edge(Doc().EdgeCount() - 1);
    EXPECT_EQ(edge.fromNode, fromId);
    EXPECT_EQ(edge.fromPin, out);
    EXPECT_EQ(edge.toNode, Last().nodeId);
    EXPECT_EQ(Last().filter->pins[edge.toPin]->kind, static_cast<int32_t>(PinKind::Input));
  }
  EXPECT_EQ(Doc().NodeCount(), 6);
  EXPECT_EQ(Doc().EdgeCount(), 5);
  EXPECT_EQ(Overlaps(Doc()), 0) << "quick add places nodes where nothing is";
  RecordProperty("actions", actions);
  EXPECT_LT(actions, 60);

  // Each quick add is one undo step: node and edge go together.
  ASSERT_TRUE(window_->Undo());
  EXPECT_EQ(Doc().NodeCount(), 5);
  EXPECT_EQ(Doc().EdgeCount(), 4);
}

TEST_F(ModernEditor, QuickAddFromADoubleClickAndEscape) {
  const QPoint empty(300, 200);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(empty), view_->mapToGlobal(QPointF(empty)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view_, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(empty), view_->mapToGlobal(QPointF(empty)), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(view_, &release);
  QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(empty), view_->mapToGlobal(QPointF(empty)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view_, &twice);
  QuickAddPopup* popup = window_->QuickAdd();
  ASSERT_NE(popup, nullptr);
  ASSERT_TRUE(popup->isVisible());
  // Searching by category, and by library.
  QTest::keyClicks(popup->Field(), QStringLiteral("displays"));
  for (int i = 0; i < popup->List()->count(); ++i)
    EXPECT_TRUE(popup->List()->item(i)->text().contains("displays")) << popup->List()->item(i)->text().toStdString();
  popup->Field()->clear();
  QTest::keyClicks(popup->Field(), QStringLiteral("no such filter at all"));
  EXPECT_EQ(popup->List()->count(), 0);
  Key(popup->Field(), Qt::Key_Return);  // nothing to add
  EXPECT_EQ(Doc().NodeCount(), 0);
  Key(popup->Field(), Qt::Key_Escape);
  EXPECT_FALSE(popup->isVisible());

  // Down picks the second match; the node lands at the double-click.
  view_->setFocus();
  QApplication::sendEvent(view_, &twice);
  QTest::keyClicks(popup->Field(), QStringLiteral("file"));
  ASSERT_GE(popup->List()->count(), 2);
  Key(popup->Field(), Qt::Key_Down);
  const int chosen = popup->Current();
  Key(popup->Field(), Qt::Key_Return);
  ASSERT_EQ(Doc().NodeCount(), 1);
  EXPECT_EQ(Last().prototypeId, chosen);
  const host::Rect& box = Last().geometry.box;
  const QPoint centre((box.left + box.right) / 2 + Doc().originX, (box.top + box.bottom) / 2 + Doc().originY);
  EXPECT_LE((centre - empty).manhattanLength(), 30);
}

TEST_F(ModernEditor, InsertDialogSearchesByNameLibraryAndCategory) {
  window_->ShowInsertDialog();
  InsertDialog* dialog = window_->Inserter();
  ASSERT_NE(dialog, nullptr);
  const int all = dialog->VisibleRows();
  EXPECT_EQ(all, BuildRegistry().PrototypeCount());
  dialog->Search()->setText(QStringLiteral("decoder"));
  EXPECT_GT(dialog->VisibleRows(), 1);
  EXPECT_LT(dialog->VisibleRows(), all);
  for (int i = 0; i < dialog->List()->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = dialog->List()->topLevelItem(i);
    if (!item->isHidden()) {
      EXPECT_TRUE((item->text(0) + item->text(1)).toLower().contains("decoder"));
    }
  }
  // The category narrows further; Enter adds the first row left.
  dialog->Category()->setCurrentIndex(dialog->Category()->findText(QStringLiteral("images")));
  ASSERT_GE(dialog->VisibleRows(), 1);
  dialog->Search()->setFocus();
  Key(dialog->Search(), Qt::Key_Return);
  ASSERT_EQ(Doc().NodeCount(), 1) << "one Enter, one node";
  EXPECT_STREQ(host::FilterCategory(Last().filter->info.id), "images");
  dialog->Search()->clear();
  dialog->Category()->setCurrentIndex(0);
  EXPECT_EQ(dialog->VisibleRows(), all);
  dialog->hide();
}

TEST_F(ModernEditor, InsertedAndPastedNodesLandWhereNothingIs) {
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kBmpDecoder)));
  EXPECT_EQ(Overlaps(Doc()), 0);
  window_->SelectAll();
  ASSERT_TRUE(window_->CopySelection());
  ASSERT_TRUE(window_->Paste());
  ASSERT_TRUE(window_->DuplicateSelection());
  EXPECT_EQ(Doc().NodeCount(), 18);
  EXPECT_EQ(Overlaps(Doc()), 0);

  // A long caption pushes the neighbour aside, in the caption's undo step.
  view_->SelectNode(0);
  view_->SetCaptionPrompt([](QString& caption) {
    caption = QString(60, QLatin1Char('w'));
    return true;
  });
  ASSERT_TRUE(view_->SetCaptionOfSelected());
  EXPECT_EQ(Overlaps(Doc()), 0);
}

// Arrange on every example graph: no overlaps, no edge through a node
// other than its own two, one undo step.
TEST_F(ModernEditor, ArrangeEveryExample) {
  const QDir examples(QStringLiteral(VORLAN_SOURCE_DIR "/examples"));
  int arranged = 0;
  for (const QString& name : examples.entryList({QStringLiteral("*.gph")})) {
    SCOPED_TRACE(name.toStdString());
    if (!window_->OpenGraph(examples.absoluteFilePath(name))) continue;  // a plug-in not built
    const std::vector<uint8_t> before = Bytes(Doc());
    ASSERT_TRUE(window_->ArrangeGraph());
    EXPECT_EQ(Overlaps(Doc()), 0);
    for (int32_t e = 0; e < Doc().EdgeCount(); ++e) {
      const host::GraphEdge& edge = *Doc().Edge(e);
      const host::FilterNode* from = Doc().NodeById(edge.fromNode);
      const host::FilterNode* to = Doc().NodeById(edge.toNode);
      ASSERT_TRUE(from != nullptr && to != nullptr);
      // Every edge, those that skip columns too.
      for (const bool curved : {false, true}) {
        const QPainterPath path = EdgePath(Doc(), edge, curved);
        for (int32_t i = 0; i < Doc().NodeCount(); ++i) {
          const host::FilterNode& node = *Doc().Node(i);
          if (node.nodeId == edge.fromNode || node.nodeId == edge.toNode) continue;
          const host::Rect& b = node.geometry.box;
          const QRectF box(b.left + Doc().originX, b.top + Doc().originY, b.right - b.left, b.bottom - b.top);
          bool crosses = false;
          for (int k = 0; k <= 256; ++k) crosses |= box.contains(path.pointAtPercent(k / 256.0));
          EXPECT_FALSE(crosses) << (curved ? "curved" : "straight") << " edge " << e << " crosses " << node.caption;
        }
      }
    }
    const std::vector<uint8_t> after = Bytes(Doc());
    ASSERT_TRUE(window_->Undo());
    EXPECT_EQ(Bytes(Doc()), before);
    ASSERT_TRUE(window_->Redo());
    EXPECT_EQ(Bytes(Doc()), after);
    ++arranged;
  }
  EXPECT_GE(arranged, 3);
}

TEST_F(ModernEditor, CurvedEdgesAreHitAlongTheCurveAndHighlightedUnderTheMouse) {
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kFileInput)));
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kFileOutput)));
  host::FilterNode& in = *Doc().Node(0);
  host::FilterNode& out = *Doc().Node(1);
  Doc().MoveNode(in, 40 - in.x, 40 - in.y);
  Doc().MoveNode(out, 400 - out.x, 240 - out.y);
  ASSERT_GE(Doc().InsertEdge(in.nodeId, 2, out.nodeId, 2), 0);
  const host::GraphEdge& edge = *Doc().Edge(0);
  const QPainterPath path = EdgePath(Doc(), edge, true);
  // The curve leaves the output to the right and enters the input from the left.
  EXPECT_GT(path.pointAtPercent(0.05).x(), edge.fromX + Doc().originX);
  EXPECT_LT(path.pointAtPercent(0.95).x(), edge.toX + Doc().originX);
  const QPoint onCurve = path.pointAtPercent(0.3).toPoint();
  EXPECT_EQ(view_->HitEdge(onCurve), 0);
  // A point well off the curve is no hit.
  EXPECT_EQ(view_->HitEdge(onCurve + QPoint(0, 12)), -1);

  MoveTo(view_, onCurve, Qt::NoButton);
  EXPECT_EQ(view_->HoverEdge(), 0);
  const QImage shot = view_->grab().toImage();
  bool orange = false;
  for (int dx = -2; dx <= 2; ++dx)
    for (int dy = -2; dy <= 2; ++dy) orange |= shot.pixelColor(onCurve + QPoint(dx, dy)).red() > 200 &&
                                                shot.pixelColor(onCurve + QPoint(dx, dy)).blue() < 80;
  EXPECT_TRUE(orange) << "the edge under the mouse is drawn highlighted";
  MoveTo(view_, QPoint(5, 400), Qt::NoButton);
  EXPECT_EQ(view_->HoverEdge(), -1);

  // The pin's tooltip names it and what it is connected to.
  const QString tip = view_->PinToolTip(PinCentre(Doc(), in, 2));
  EXPECT_TRUE(tip.contains("output")) << tip.toStdString();
  EXPECT_TRUE(tip.contains(QString::fromStdString(out.caption))) << tip.toStdString();
  EXPECT_TRUE(view_->PinToolTip(PinCentre(Doc(), out, 0)).contains("not connected"));
}

// The whole window, driven by the mouse: a connection drawn from the File
// Input Stream's bytes to the Grayscale conversion's "R" plane is refused
// while it is drawn, the reason (what each pin carries) in the status bar
// as soon as its end is over the pin and again when it is dropped there;
// no edge, no undo step. The same bytes dropped on the Bmp decoder join.
TEST_F(ModernEditor, ConnectionsBetweenPinsThatCannotMeetAreRefusedWhileDrawn) {
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kFileInput)));
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kGrayscale)));
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kBmpDecoder)));
  host::FilterNode& file = *Doc().Node(0);
  host::FilterNode& grey = *Doc().Node(1);
  host::FilterNode& decoder = *Doc().Node(2);
  auto moveTo = [&](host::FilterNode& node, int x, int y) {
    Doc().MoveNode(node, x - node.x, y - node.y);
    Doc().MoveEdgeEndsOfNode(node, x - node.x, y - node.y);
  };
  moveTo(file, 40, 60);
  moveTo(grey, 400, 40);
  moveTo(decoder, 400, 300);
  view_->update();
  auto firstPin = [](const host::FilterNode& node, PinKind kind) {
    for (int k = 0; k < node.filter->pinCount; ++k)
      if (node.filter->pins[k]->kind == static_cast<int32_t>(kind)) return k;
    return -1;
  };
  const int bytes = firstPin(file, PinKind::Output);
  const int red = firstPin(grey, PinKind::Input);
  const int encoded = firstPin(decoder, PinKind::Input);
  ASSERT_TRUE(bytes >= 0 && red >= 0 && encoded >= 0);
  const int steps = window_->History()->Stack()->count();

  const QPoint start = PinCentre(Doc(), file, bytes);
  const QPoint refused = PinCentre(Doc(), grey, red);
  window_->statusBar()->clearMessage();
  QTest::mousePress(view_, Qt::LeftButton, Qt::NoModifier, start);
  for (int k = 1; k <= 5; ++k) QTest::mouseMove(view_, start + (refused - start) * k / 5);
  const QString shown = window_->statusBar()->currentMessage();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("Connect refused: "))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("publishes Bytes"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("accepts Plane"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QString::fromStdString(grey.caption))) << shown.toStdString();
  // Off the pin and back: the reason is given again.
  QTest::mouseMove(view_, refused + QPoint(60, 80));
  window_->statusBar()->clearMessage();
  QTest::mouseMove(view_, refused);
  EXPECT_EQ(window_->statusBar()->currentMessage(), shown);
  window_->statusBar()->clearMessage();
  QTest::mouseRelease(view_, Qt::LeftButton, Qt::NoModifier, refused);
  EXPECT_EQ(window_->statusBar()->currentMessage(), shown) << "dropping on the pin gives the reason too";
  EXPECT_EQ(Doc().EdgeCount(), 0);
  EXPECT_EQ(window_->History()->Stack()->count(), steps);
  EXPECT_EQ(window_->QuickAdd() != nullptr && window_->QuickAdd()->isVisible(), false)
      << "a refused drop on a pin opens no quick add";

  const QPoint accepted = PinCentre(Doc(), decoder, encoded);
  window_->statusBar()->clearMessage();
  Drag(view_, start, accepted);
  EXPECT_TRUE(window_->statusBar()->currentMessage().isEmpty()) << window_->statusBar()->currentMessage().toStdString();
  ASSERT_EQ(Doc().EdgeCount(), 1);
  EXPECT_EQ(Doc().Edge(0)->toNode, decoder.nodeId);
  EXPECT_EQ(Doc().Edge(0)->toPin, encoded);
  EXPECT_EQ(window_->History()->Stack()->count(), steps + 1);
}

TEST_F(ModernEditor, PropertiesPanelEditsWithUndoAndRefusesBadValues) {
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kHvEncoder)));
  PropertiesPanel* panel = window_->Properties();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->NodeId(), Last().nodeId) << "the panel follows the selection";
  auto* field = qobject_cast<QLineEdit*>(panel->Editor(QStringLiteral("maxRangeFactor")));
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->text(), "3");
  EXPECT_FALSE(field->toolTip().isEmpty());
  const std::vector<uint8_t> fresh = Bytes(Doc());
  const int depth = window_->History()->Stack()->count();

  // Out of the field's range, and against the filter's own check.
  EXPECT_FALSE(panel->Edit(QStringLiteral("minRangeFactor"), QStringLiteral("1")));
  EXPECT_FALSE(panel->Message().isEmpty());
  EXPECT_FALSE(panel->Edit(QStringLiteral("minRangeFactor"), QStringLiteral("4")));
  EXPECT_TRUE(panel->Message().contains("maxRangeFactor")) << panel->Message().toStdString();
  EXPECT_FALSE(panel->Edit(QStringLiteral("maxRangeFactor"), QStringLiteral("three")));
  EXPECT_EQ(Bytes(Doc()), fresh) << "refused values leave the settings as they were";
  EXPECT_EQ(window_->History()->Stack()->count(), depth);

  // Typed into the field as a user would: one undo step.
  field = qobject_cast<QLineEdit*>(panel->Editor(QStringLiteral("maxRangeFactor")));
  ASSERT_NE(field, nullptr);
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, QStringLiteral("5"));
  Key(field, Qt::Key_Return);
  const std::vector<uint8_t> changed = Bytes(Doc());
  EXPECT_NE(changed, fresh);
  EXPECT_EQ(window_->History()->Stack()->count(), depth + 1);
  EXPECT_TRUE(window_->isWindowModified());
  ASSERT_TRUE(window_->Undo());
  EXPECT_EQ(Bytes(Doc()), fresh);
  field = qobject_cast<QLineEdit*>(panel->Editor(QStringLiteral("maxRangeFactor")));
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->text(), "3") << "the panel shows the undone value";
  ASSERT_TRUE(window_->Redo());
  EXPECT_EQ(Bytes(Doc()), changed);
}

// Files dropped on the window, through Qt's drop events: a picture becomes
// a reader and an Image decoder, a graph file opens.
TEST_F(ModernEditor, DroppedPicturesAndGraphs) {
  constexpr int32_t kImageDecoder = 1020;
  if (PrototypeOf(kImageDecoder) < 0) GTEST_SKIP() << "the Image decoder is not built";
  const QString picture = QString::fromStdString(vorlan::test::SharedDataPath("camera.bmp"));
  QMimeData pictureData;
  pictureData.setUrls({QUrl::fromLocalFile(picture)});
  const QPoint where = view_->mapTo(window_.get(), QPoint(200, 150));
  QDragEnterEvent enter(where, Qt::CopyAction, &pictureData, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(where), Qt::CopyAction, &pictureData, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &drop);
  ASSERT_EQ(Doc().NodeCount(), 2);
  ASSERT_EQ(Doc().EdgeCount(), 1);
  const host::FilterNode& reader = *Doc().Node(0);
  EXPECT_EQ(reader.filter->info.id, kFileInput);
  EXPECT_EQ(reader.caption, "camera.bmp");
  EXPECT_EQ(Doc().Node(1)->filter->info.id, kImageDecoder);
  EXPECT_EQ(Doc().Edge(0)->fromNode, reader.nodeId);
  EXPECT_TRUE(view_->NodeToolTip(BoxPoint(Doc(), reader)).endsWith(QFileInfo(picture).absoluteFilePath()))
      << "the reader reads the dropped file";
  EXPECT_EQ(window_->History()->Stack()->count(), 1) << "one undo step";

  // Something else is not taken.
  QMimeData text;
  text.setUrls({QUrl::fromLocalFile(QStringLiteral("/etc/hostname"))});
  QDragEnterEvent refused(where, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  refused.setAccepted(false);
  QApplication::sendEvent(window_.get(), &refused);
  EXPECT_FALSE(refused.isAccepted());

  // A graph file replaces the document.
  const QString graph = QStringLiteral(VORLAN_SOURCE_DIR "/examples/copy.gph");
  QMimeData graphData;
  graphData.setUrls({QUrl::fromLocalFile(graph)});
  QDragEnterEvent offer(where, Qt::CopyAction, &graphData, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &offer);
  EXPECT_TRUE(offer.isAccepted());
  QDropEvent open(QPointF(where), Qt::CopyAction, &graphData, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &open);
  EXPECT_EQ(window_->CurrentFile(), QFileInfo(graph).absoluteFilePath());
  // As File > Open does: the picture's undo step gone with the document it
  // belonged to, the graph unmodified and first in Recent Files.
  EXPECT_EQ(window_->History()->Stack()->count(), 0);
  EXPECT_FALSE(window_->isWindowModified());
  EXPECT_EQ(window_->RecentFiles().value(0), QFileInfo(graph).absoluteFilePath());
}

// The view takes the desktop's colours and stays sharp at 200 %.
TEST_F(ModernEditor, DarkPaletteAndDoubleScale) {
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kFileInput)));
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kFileOutput)));
  host::FilterNode& in = *Doc().Node(0);
  host::FilterNode& out = *Doc().Node(1);
  Doc().MoveNode(in, 40 - in.x, 40 - in.y);
  Doc().MoveNode(out, 300 - out.x, 0);
  Doc().MoveNode(out, 0, in.geometry.pinRects[2].top - out.geometry.pinRects[2].top);  // a level edge
  ASSERT_GE(Doc().InsertEdge(in.nodeId, 2, out.nodeId, 2), 0);
  view_->SetCurvedEdges(false);
  QPalette dark = view_->palette();
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, QColor(230, 230, 230));
  view_->setPalette(dark);
  const QImage shot = view_->grab().toImage();
  EXPECT_EQ(shot.pixelColor(5, view_->height() - 5), QColor(30, 30, 30));
  const host::GraphEdge& e = *Doc().Edge(0);
  const QPoint middle((e.fromX + e.toX) / 2 + Doc().originX, (e.fromY + e.toY) / 2 + Doc().originY);
  EXPECT_GT(shot.pixelColor(middle).lightness(), 180) << "wires in the text colour";
  view_->setPalette(QPalette());

  // At twice the scale the 2-pixel node frame is 4 device pixels of one
  // colour with no blended edge.
  QImage doubled(view_->size() * 2, QImage::Format_RGB32);
  doubled.setDevicePixelRatio(2);
  doubled.fill(Qt::white);
  {
    QPainter painter(&doubled);
    GraphHighlight highlight;
    PaintGraph(painter, Doc(), highlight);
  }
  const host::Rect& b = in.geometry.box;
  const int y = 2 * (b.top + b.bottom) / 2 + 2 * Doc().originY;
  const int x = 2 * (b.left + Doc().originX);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(doubled.pixelColor(x + k, y), QColor(Qt::black)) << "frame column " << k;
  EXPECT_EQ(doubled.pixelColor(x + 4, y), QColor(22, 103, 170));
  EXPECT_EQ(doubled.pixelColor(x - 1, y).rgb(), QColor(Qt::white).rgb());
}

// During a run every node shows its state; after it, a node that
// published planes shows them.
TEST_F(ModernEditor, RunStatusAndPreviews) {
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kFileInput)));
  ASSERT_TRUE(window_->InsertFilter(PrototypeOf(kBmpDecoder)));
  host::FilterNode& reader = *Doc().Node(0);
  host::FilterNode& decoder = *Doc().Node(1);
  ASSERT_TRUE(ApplyBytes(reader, TextSettings(vorlan::test::SharedDataPath("astronaut.bmp"))));
  ASSERT_GE(Doc().InsertEdge(reader.nodeId, 2, decoder.nodeId, 2), 0);
  window_->RunGraph();
  EXPECT_TRUE(view_->Run().active);
  ASSERT_TRUE(WaitUntil([&] { return !Doc().Run().IsBusy() && !view_->Run().active; }));
  ASSERT_EQ(Doc().Run().LastResult(), Ok);
  ASSERT_EQ(view_->Previews().count(decoder.nodeId), 1u) << "the decoder published R, G and B";
  EXPECT_EQ(view_->Previews().count(reader.nodeId), 0u) << "bytes have no picture";
  const QImage& preview = view_->Previews().at(decoder.nodeId);
  EXPECT_EQ(preview.size(), QSize(kPreviewSide, kPreviewSide));
  const QColor c = preview.pixelColor(kPreviewSide / 2, kPreviewSide / 2);
  EXPECT_FALSE(c.red() == c.green() && c.green() == c.blue()) << "three planes make a colour picture";
  // Drawn above the node's box.
  const QImage shot = view_->grab().toImage();
  const QPoint above = BoxPoint(Doc(), decoder, decoder.geometry.box.right - decoder.geometry.box.left - kPreviewSide / 2,
                                -3 - kPreviewSide / 2);
  EXPECT_EQ(shot.pixelColor(above), preview.pixelColor(kPreviewSide / 2, kPreviewSide / 2));
  ASSERT_TRUE(window_->ResetGraph());
  EXPECT_TRUE(view_->Previews().empty());
}

// A malformed plane record gives no picture rather than a read out of bounds.
TEST(NodePreviews, PlanesThatDoNotHoldTogetherGiveNone) {
  std::vector<double> samples(6, 128.0);
  Plane plane{3, 2, 0.0, 255.0, 48, samples.data()};
  EXPECT_EQ(PlanePreview(plane).size(), QSize(3, 2));
  Plane shortSamples = plane;
  shortSamples.size = 40;
  EXPECT_TRUE(PlanePreview(shortSamples).isNull());
  Plane negative = plane;
  negative.width = -3;
  EXPECT_TRUE(PlanePreview(negative).isNull());
  Plane huge = plane;
  huge.width = huge.height = 1 << 20;
  EXPECT_TRUE(PlanePreview(huge).isNull());
  Plane other = plane;
  other.width = 2;
  other.size = 32;
  EXPECT_TRUE(ColourPreview(plane, plane, other).isNull());
}

}  // namespace
}  // namespace vorlan::gui
