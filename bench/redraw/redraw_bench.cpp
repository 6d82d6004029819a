// Redraw of a 500-node graph: the relays of test plug-ins in a grid of 25
// columns, each fed by the node before it and by one two columns back
// (about 1000 edges), painted into a 1920 x 1080 picture as the view
// paints itself. Run with QT_QPA_PLATFORM=offscreen on machines without a
// display. The frame budget is 16 ms.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cstdlib>

#include "core/arrange.h"
#include "core/graph_document.h"
#include "graph_painter.h"
#include "in_process_registry.h"
#include "node_fonts.h"

namespace {

using namespace vorlan;

constexpr int kNodes = 500;
constexpr int kColumns = 25;

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
  gui::FontTextMeasure measure;
  host::GraphDocument doc;
};

Graph& TheGraph() {
  static Graph graph;
  return graph;
}

void Redraw(benchmark::State& state) {
  Graph& g = TheGraph();
  const double scale = static_cast<double>(state.range(1)) / 100.0;
  QImage frame(static_cast<int>(1920 * scale), static_cast<int>(1080 * scale), QImage::Format_ARGB32_Premultiplied);
  frame.setDevicePixelRatio(scale);
  gui::GraphHighlight highlight;
  highlight.curvedEdges = state.range(0) != 0;
  highlight.node = 3;
  for (auto _ : state) {
    QPainter painter(&frame);
    painter.fillRect(QRect(0, 0, 1920, 1080), Qt::white);
    gui::PaintGraph(painter, g.doc, highlight);
  }
  state.SetLabel(highlight.curvedEdges ? "curved" : "straight");
}
BENCHMARK(Redraw)->ArgsProduct({{0, 1}, {100, 200}})->Unit(benchmark::kMillisecond);

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
