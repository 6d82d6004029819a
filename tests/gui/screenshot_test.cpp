// What the view draws: a saved example graph rendered offscreen and
// compared with a committed reference image. Set VORLAN_UPDATE_REFERENCE=1
// to rewrite the reference after an intended change of the drawing;
// VORLAN_DOC_IMAGES=<dir> also writes the main-window picture of the manual.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <optional>

#include "core/graph_file.h"
#include "editor_support.h"
#include "graph_painter.h"
#include "graph_view.h"
#include "main_window.h"
#include "node_fonts.h"
#include "progress_dialog.h"
#include "vorlan/contract.h"

namespace vorlan::gui {
namespace {

using namespace vorlan::gui::test;

const QString kExample = QStringLiteral(VORLAN_SOURCE_DIR "/examples/copy.gph");
const QString kReference = QStringLiteral(VORLAN_SOURCE_DIR "/tests/gui/reference/copy_graph.png");

// Fonts that exist on every build machine (fonts-liberation), so the
// rendering does not depend on the desktop's default font.
void UseFixedFonts() { QApplication::setFont(QFont(QStringLiteral("Liberation Sans"), 10)); }

// Share of pixels whose colour differs by more than `threshold` in any channel.
double DifferingShare(const QImage& a, const QImage& b, int threshold) {
  long differing = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      if (std::abs(qRed(p) - qRed(q)) > threshold || std::abs(qGreen(p) - qGreen(q)) > threshold ||
          std::abs(qBlue(p) - qBlue(q)) > threshold)
        ++differing;
    }
  return static_cast<double>(differing) / (static_cast<double>(a.width()) * a.height());
}

TEST(GraphScreenshot, ExampleGraphMatchesTheReference) {
  if (PrototypeOf(10) < 0 || PrototypeOf(20) < 0) GTEST_SKIP() << "file stream plug-ins not built";
  if (!QFileInfo::exists(kExample)) GTEST_SKIP() << "examples/copy.gph is missing";
  UseFixedFonts();
  FontTextMeasure measure;
  host::GraphDocument document(BuildRegistry(), measure);
  const host::GraphLoadResult loaded = host::LoadGraphFile(document, kExample.toStdString());
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_GE(document.EdgeCount(), 1);

  GraphView view(document);
  view.resize(480, 160);
  view.SelectNode(0);  // the selected outline is part of what is checked
  const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);

  if (std::getenv("VORLAN_UPDATE_REFERENCE") != nullptr) {
    ASSERT_TRUE(shot.save(kReference));
    GTEST_SKIP() << "reference rewritten: " << kReference.toStdString();
  }
  QImage reference(kReference);
  ASSERT_FALSE(reference.isNull()) << "no reference image " << kReference.toStdString();
  reference = reference.convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), reference.size());
  const double share = DifferingShare(shot, reference, 48);
  if (share > 0.004) shot.save(QStringLiteral(VORLAN_BUILD_DIR "/copy_graph_actual.png"));
  EXPECT_LE(share, 0.004) << "the drawing differs; see copy_graph_actual.png in the build folder";

  // The drawing has the node fill, the green selection and black edges.
  EXPECT_TRUE(shot.pixelColor(document.Node(0)->geometry.box.left + 5, document.Node(0)->geometry.box.top + 5) ==
              QColor(22, 103, 170));
}

bool IsWhite(const QImage& image, int x, int y) { return image.pixel(x, y) == qRgb(255, 255, 255); }

bool Inside(const host::Rect& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// Every node box covers exactly right - left columns and bottom - top rows,
// every pin square exactly 7 x 7: the corners are drawn, the pixels
// diagonally beyond them are not (unless they fall inside the box). A frame
// drawn one pixel too large shows up here even where the reference
// comparison's tolerance would let it pass.
TEST(GraphScreenshot, BoxesAndPinSquaresHaveTheirExactSize) {
  if (PrototypeOf(10) < 0 || PrototypeOf(20) < 0) GTEST_SKIP() << "file stream plug-ins not built";
  UseFixedFonts();
  FontTextMeasure measure;
  host::GraphDocument document(BuildRegistry(), measure);
  ASSERT_TRUE(host::LoadGraphFile(document, kExample.toStdString()).ok);
  GraphView view(document);
  view.resize(480, 160);
  view.SelectNode(0);
  const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);

  for (int i = 0; i < document.NodeCount(); ++i) {
    const host::FilterNode& node = *document.Node(i);
    const host::Rect& b = node.geometry.box;
    SCOPED_TRACE(node.caption);
    EXPECT_FALSE(IsWhite(shot, b.left, b.top));
    EXPECT_FALSE(IsWhite(shot, b.right - 1, b.bottom - 1));
    EXPECT_TRUE(IsWhite(shot, b.right, b.top)) << "box one column too wide";
    EXPECT_TRUE(IsWhite(shot, b.left, b.top - 1)) << "box one row too high";
    EXPECT_TRUE(IsWhite(shot, b.left - 1, b.top)) << "box one column too wide";
    EXPECT_TRUE(IsWhite(shot, b.right - 1, b.bottom)) << "box one row too high";
    for (size_t k = 0; k < node.geometry.pinRects.size(); ++k) {
      const host::Rect& p = node.geometry.pinRects[k];
      SCOPED_TRACE("pin " + std::to_string(k));
      ASSERT_EQ(p.right - p.left, 7);
      ASSERT_EQ(p.bottom - p.top, 7);
      EXPECT_FALSE(IsWhite(shot, p.left, p.top));
      EXPECT_FALSE(IsWhite(shot, p.right - 1, p.bottom - 1));
      bool edgeEnd = false;  // edges and arrowheads are drawn over their pins
      for (int e = 0; e < document.EdgeCount(); ++e) {
        const host::GraphEdge& edge = *document.Edge(e);
        edgeEnd |= (edge.fromNode == node.nodeId && edge.fromPin == static_cast<int>(k)) ||
                   (edge.toNode == node.nodeId && edge.toPin == static_cast<int>(k));
      }
      if (!edgeEnd) {
        EXPECT_EQ(shot.pixel(p.left + 3, p.top + 3), qRgb(22, 103, 170)) << "pin fill";
      }
      for (const QPoint beyond : {QPoint(p.left - 1, p.top - 1), QPoint(p.right, p.top - 1),
                                  QPoint(p.left - 1, p.bottom), QPoint(p.right, p.bottom)}) {
        if (Inside(b, beyond.x(), beyond.y())) continue;
        EXPECT_TRUE(IsWhite(shot, beyond.x(), beyond.y()))
            << "pixel (" << beyond.x() << ", " << beyond.y() << ") beyond the 7 x 7 square is drawn";
      }
    }
  }
}

// Where the view writes a pin's name (as the painter places it): beside
// data pins, inside the box above configuration pins.
QRect PinLabel(const host::Rect& r, const Pin& pin, const QFontMetrics& m) {
  const QString name = QString::fromUtf8(pin.name != nullptr ? pin.name : "");
  const int w = m.horizontalAdvance(name);
  const int h = m.height();
  const int centreY = (r.top + r.bottom) / 2;
  switch (static_cast<PinKind>(pin.kind)) {
    case PinKind::Input: return QRect(r.right + 4, centreY - h / 2, w, h);
    case PinKind::Output: return QRect(r.left - 4 - w, centreY - h / 2, w, h);
    default: return QRect((r.left + r.right) / 2 - w / 2, r.top - 4 - h, w, h);
  }
}

// No data pin's name runs into the "Cfg in" / "Cfg out" row, on any built
// filter: by the names' rectangles, and by the pixels drawn in that row,
// which all belong to the configuration names.
TEST(GraphScreenshot, DataPinNamesStayClearOfTheConfigurationRow) {
  UseFixedFonts();
  FontTextMeasure measure;
  host::GraphDocument document(BuildRegistry(), measure);
  const QFontMetrics metrics(PinFont());
  int checked = 0;
  for (int32_t p = 0; p < BuildRegistry().PrototypeCount(); ++p) {
    document.Clear();
    const int index = document.InsertNode(BuildRegistry().Prototype(p).id);
    if (index < 0) continue;
    const host::FilterNode& node = *document.Node(index);
    SCOPED_TRACE(node.caption);
    std::vector<QRect> data, config;
    for (int i = 0; i < node.filter->pinCount; ++i) {
      const Pin& pin = *node.filter->pins[i];
      const QRect label = PinLabel(node.geometry.pinRects[static_cast<size_t>(i)], pin, metrics);
      const bool isData = pin.kind == static_cast<int32_t>(PinKind::Input) ||
                          pin.kind == static_cast<int32_t>(PinKind::Output);
      (isData ? data : config).push_back(label);
    }
    if (data.empty() || config.empty()) continue;
    for (const QRect& d : data)
      for (const QRect& c : config) EXPECT_FALSE(d.intersects(c)) << "a data pin name overlaps a configuration name";

    const host::Rect& b = node.geometry.box;
    QImage shot(b.right + 20, b.bottom + 20, QImage::Format_RGB32);
    shot.fill(Qt::white);
    {
      QPainter painter(&shot);
      PaintGraph(painter, document, GraphHighlight{});
    }
    int strays = 0;
    const int rowTop = config.front().top();
    for (int y = rowTop; y <= config.front().bottom(); ++y)
      for (int x = b.left + 2; x < b.right - 2; ++x) {
        if (!IsWhite(shot, x, y)) continue;
        bool inConfigName = false;
        for (const QRect& c : config) inConfigName |= x >= c.left() - 1 && x <= c.right() + 1;
        if (!inConfigName) ++strays;
      }
    EXPECT_EQ(strays, 0) << "white pixels in the configuration row outside the configuration names";
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no plug-ins built";
}

// A grid of file streams, each input feeding the output beside it and
// one long edge from the first input to the last output, across the whole.
void StreamGrid(host::GraphDocument& document) {
  std::vector<int32_t> inputs, outputs;
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 3; ++column) {
      host::FilterNode& in = *document.Node(document.InsertNode(10));
      host::FilterNode& out = *document.Node(document.InsertNode(20));
      document.MoveNode(in, 20 + column * 330 - in.x, 20 + row * 110 - in.y);
      document.MoveNode(out, 200 + column * 330 - out.x, 50 + row * 110 - out.y);
      inputs.push_back(in.nodeId);
      outputs.push_back(out.nodeId);
      ASSERT_GE(document.InsertEdge(in.nodeId, 2, out.nodeId, 2), 0);
    }
  ASSERT_GE(document.InsertEdge(inputs.front(), 2, outputs.back(), 2), 0);
}

struct ViewCase {
  double zoom, ratio;
  QPointF shift;
  bool curved;
};

QImage Draw(const host::GraphDocument& document, const ViewCase& view, std::optional<QRect> part) {
  const QSize size(700, 420);
  QImage image(size * view.ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(view.ratio);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.translate(view.shift);
  painter.scale(view.zoom, view.zoom);
  GraphHighlight highlight;
  highlight.curvedEdges = view.curved;
  highlight.exposed = part;
  PaintGraph(painter, document, highlight);
  return image;
}

// Drawing only the exposed part of the view leaves out what lies outside
// it, never what lies inside: the part drawn alone is the same part of the
// whole drawing, with nodes cut by its border and an edge whose ends both
// lie outside it, at several zooms, display scales and both kinds of edge.
// Below a legible size the text goes, the boxes stay.
TEST(GraphScreenshot, ThePartDrawnAloneMatchesTheWholeDrawing) {
  if (PrototypeOf(10) < 0 || PrototypeOf(20) < 0) GTEST_SKIP() << "file stream plug-ins not built";
  UseFixedFonts();
  FontTextMeasure measure;
  host::GraphDocument document(BuildRegistry(), measure);
  StreamGrid(document);
  const QRect part(230, 110, 240, 160);
  for (const ViewCase& view : {ViewCase{1, 1, {}, false}, ViewCase{1, 1, {}, true}, ViewCase{0.6, 2, {40, 30}, true},
                               ViewCase{1.7, 1, {-300, -120}, false}, ViewCase{1.3, 2, {-100, -60}, true}}) {
    SCOPED_TRACE(testing::Message() << "zoom " << view.zoom << ", display " << view.ratio << ", "
                                    << (view.curved ? "curved" : "straight"));
    const QImage whole = Draw(document, view, std::nullopt);
    const QImage alone = Draw(document, view, part);
    const QRect pixels(part.topLeft() * view.ratio, part.size() * view.ratio);
    const QImage a = whole.copy(pixels), b = alone.copy(pixels);
    EXPECT_EQ(DifferingShare(a, b, 0), 0.0);
    int inked = 0;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x) inked += a.pixel(x, y) != QColor(Qt::white).rgb() ? 1 : 0;
    EXPECT_GT(inked, a.width() * a.height() / 20) << "the part shows some of the graph";
  }

  // Text inside the first box: white pixels at 100 %, none at 40 %.
  const host::Rect& b = document.Node(0)->geometry.box;
  for (const double zoom : {1.0, 0.4}) {
    const QImage image = Draw(document, ViewCase{zoom, 1, {}, false}, std::nullopt);
    int white = 0;
    for (int y = static_cast<int>((b.top + 3) * zoom); y < static_cast<int>((b.bottom - 3) * zoom); ++y)
      for (int x = static_cast<int>((b.left + 3) * zoom); x < static_cast<int>((b.right - 3) * zoom); ++x)
        white += IsWhite(image, x, y) ? 1 : 0;
    if (zoom == 1.0) {
      EXPECT_GT(white, 20) << "names drawn at 100 %";
    } else {
      EXPECT_EQ(white, 0) << "names too small to read are left out";
    }
  }
}

// The picture of the main window with the Progress dialog for the manual.
TEST(GraphScreenshot, ManualPicture) {
  const char* dir = std::getenv("VORLAN_DOC_IMAGES");
  if (dir == nullptr) GTEST_SKIP() << "set VORLAN_DOC_IMAGES to write the manual's picture";
  UseFixedFonts();
  QString graph = QStringLiteral(VORLAN_SOURCE_DIR "/examples/compress.gph");
  if (!QFileInfo::exists(graph)) graph = kExample;
  MainWindow window(BuildRegistry());
  window.SetPromptForUnsaved(false);
  window.resize(1280, 720);
  window.show();
  ASSERT_TRUE(window.OpenGraph(graph));
  window.View()->SelectNode(0);

  ProgressDialog* progress = window.Progress();
  progress->adjustSize();
  progress->StartClock();
  GraphProgress g;
  g.fraction = 0.5f;
  g.filterCount = window.Document().NodeCount();
  g.runnerState = static_cast<int>(FilterState::Running);
  g.current = {2, QStringLiteral("HV encoder"), 1, 0, 130, static_cast<int>(FilterState::Running)};
  progress->ShowGraphProgress(g);
  progress->ShowFilterProgress(0.42f, static_cast<int>(FilterState::Running));
  progress->ShowTimes(12.4);
  progress->StopClock();

  QImage picture = window.grab().toImage();
  const QImage dialog = progress->grab().toImage();
  QPainter painter(&picture);
  const QPoint at(24, picture.height() - dialog.height() - 40);  // below the graph
  painter.drawImage(at, dialog);
  painter.setPen(QPen(Qt::darkGray, 1));
  painter.drawRect(QRect(at, dialog.size()).adjusted(0, 0, -1, -1));
  painter.end();
  ASSERT_TRUE(picture.save(QString::fromLocal8Bit(dir) + QStringLiteral("/main_window.png")));
}

}  // namespace
}  // namespace vorlan::gui
