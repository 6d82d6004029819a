// Redraw of a 500-node graph: the relays of test plug-ins in a grid of 25
// columns, each fed by the node before it and by one two columns back
// (about 1000 edges), painted into a 1920 x 1080 picture as the view
// paints itself: the canvas filled, the zoom's shift and scale applied.
// Two views: the whole graph fitted into the picture (every node and edge
// on screen, small) and 100 % (the top-left part on screen, the rest off
// it). Run with QT_QPA_PLATFORM=offscreen on machines without a display.
// The frame budget is 16 ms.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "core/arrange.h"
#include "core/graph_document.h"
#include "graph_painter.h"
#include "in_process_registry.h"
#include "node_fonts.h"
#include "view_zoom.h"

namespace {

using namespace vorlan;

constexpr int kNodes = 500;
constexpr int kColumns = 25;
constexpr int kWidth = 1920, kHeight = 1080;

struct Graph {
  Graph() : doc(testplugins::InProcessRegistry(), measure) {
    const host::Registry& registry = doc.registry();
    const int32_t relay = registry.FindPrototypeByFilterId(testplugins::TestRelay::kInfo.id)->id;
    std::vector<int32_t> ids;
    for (int i = 0; i < kNodes; ++i) {
      host::FilterNode& node = *doc.Node(doc.InsertNode(relay));
      const int32_t x = 20 + (i % kColumns) * 160, y = 20 + (i / kColumns) * 90;
      doc.MoveNode(node, x - node.x, y - node.y);
      ids.push_back(node.nodeId);
    }
    for (int i = 1; i < kNodes; ++i) {
      doc.InsertEdge(ids[static_cast<size_t>(i - 1)], 3, ids[static_cast<size_t>(i)], 2);
      if (i >= 2) doc.InsertEdge(ids[static_cast<size_t>(i - 2)], 3, ids[static_cast<size_t>(i)], 2);
    }
  }
  // The boxes and pins of every node, in client coordinates.
  QRectF Content() const {
    QRect all;
    for (int i = 0; i < doc.NodeCount(); ++i) {
      const host::NodeGeometry& g = doc.Node(i)->geometry;
      all |= QRect(QPoint(g.box.left, g.box.top), QPoint(g.box.right, g.box.bottom));
      for (const host::Rect& r : g.pinRects) all |= QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom));
    }
    return QRectF(all.translated(doc.originX, doc.originY));
  }
  gui::FontTextMeasure measure;
  host::GraphDocument doc;
};

Graph& TheGraph() {
  static Graph graph;
  return graph;
}

// Arguments: edges (0 straight, 1 curved), view (0 fitted, 1 at 100 %),
// display scale in per cent.
void Redraw(benchmark::State& state) {
  Graph& g = TheGraph();
  const bool curved = state.range(0) != 0;
  const bool fitted = state.range(1) == 0;
  const double scale = static_cast<double>(state.range(2)) / 100.0;
  QImage frame(static_cast<int>(kWidth * scale), static_cast<int>(kHeight * scale), QImage::Format_ARGB32_Premultiplied);
  frame.setDevicePixelRatio(scale);
  gui::ViewZoom zoom;
  if (fitted) zoom.Fit(g.Content(), QSizeF(kWidth, kHeight), 20);
  gui::GraphHighlight highlight;
  highlight.curvedEdges = curved;
  highlight.node = 3;
  for (auto _ : state) {
    QPainter painter(&frame);
    painter.fillRect(QRect(0, 0, kWidth, kHeight), Qt::white);
    painter.translate(zoom.Shift());
    painter.scale(zoom.Scale(), zoom.Scale());
    gui::PaintGraph(painter, g.doc, highlight);
  }
  state.SetLabel(std::string(curved ? "curved" : "straight") + (fitted ? ", fitted at " : ", at ") +
                 std::to_string(static_cast<int>(zoom.Scale() * 100 + 0.5)) + " %");
}
BENCHMARK(Redraw)
    ->ArgNames({"curved", "at100", "display"})
    ->ArgsProduct({{0, 1}, {0, 1}, {100, 200}})
    ->Unit(benchmark::kMillisecond);

void Arrange(benchmark::State& state) {
  Graph& g = TheGraph();
  for (auto _ : state) benchmark::DoNotOptimize(host::ArrangeGraph(g.doc));
}
BENCHMARK(Arrange)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
