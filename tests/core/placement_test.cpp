// Where nodes go: the nearest free place for new and pasted nodes, room
// made for a node that grew, and Arrange's layered layout.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "core/arrange.h"
#include "core/edge_course.h"
#include "core/placement.h"
#include "core_fixture.h"

namespace vorlan::host::test {
namespace {

constexpr int32_t kIn = 2;   // "In" of the relay
constexpr int32_t kOut = 3;  // its "Out"; the source's first output is pin 2

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Pairs of nodes whose footprints overlap, as "caption/caption" texts.
std::vector<std::string> Overlapping(const GraphDocument& doc) {
  std::vector<std::string> pairs;
  for (int32_t i = 0; i < doc.NodeCount(); ++i)
    for (int32_t j = i + 1; j < doc.NodeCount(); ++j)
      if (Overlap(Footprint(*doc.Node(i)), Footprint(*doc.Node(j))))
        pairs.push_back(std::to_string(doc.Node(i)->nodeId) + "/" + std::to_string(doc.Node(j)->nodeId));
  return pairs;
}

// The arranged graph is no taller than all footprints stacked in one column
// with the row gap between them: room for passing edges never runs away.
void ExpectSaneHeight(const GraphDocument& doc) {
  int64_t stacked = 0;
  int32_t top = std::numeric_limits<int32_t>::max(), bottom = std::numeric_limits<int32_t>::min();
  for (int32_t i = 0; i < doc.NodeCount(); ++i) {
    const Rect f = Footprint(*doc.Node(i));
    stacked += f.bottom - f.top + ArrangeSpacing{}.rowGap;
    top = std::min(top, f.top);
    bottom = std::max(bottom, f.bottom);
  }
  EXPECT_LE(bottom - top, stacked);
}

void MoveTo(GraphDocument& doc, FilterNode& node, int32_t x, int32_t y) {
  doc.MoveNode(node, x - node.x, y - node.y);
  doc.MoveEdgeEndsOfNode(node, x - node.x, y - node.y);
}

void Apply(GraphDocument& doc, const std::vector<ArrangedNode>& placed) {
  for (const ArrangedNode& a : placed) {
    FilterNode* node = doc.NodeById(a.nodeId);
    ASSERT_NE(node, nullptr);
    const int32_t dx = a.x - node->x, dy = a.y - node->y;
    doc.MoveNode(*node, dx, dy);
    doc.MoveEdgeEndsOfNode(*node, dx, dy);
  }
}

// Edges whose drawn course, straight or curved, runs through the box of a
// node other than its own two, as "edge e (straight|curved) through id".
// The courses are sampled densely here, independent of how Arrange checks
// them.
// With `neighboursOnly`, only edges between neighbouring columns (no box
// lies wholly between the two ends' boxes) count.
std::vector<std::string> EdgesThroughNodes(const GraphDocument& doc, bool neighboursOnly = false) {
  std::vector<std::string> found;
  for (int32_t e = 0; e < doc.EdgeCount(); ++e) {
    const GraphEdge& edge = *doc.Edge(e);
    const EdgeCurve c = CurveOf(doc, edge);
    if (neighboursOnly) {
      const Rect& from = doc.NodeById(edge.fromNode)->geometry.box;
      const Rect& to = doc.NodeById(edge.toNode)->geometry.box;
      bool skips = false;
      for (int32_t i = 0; i < doc.NodeCount(); ++i) {
        const Rect& b = doc.Node(i)->geometry.box;
        skips |= (b.left > from.right && b.right < to.left) || (b.left > to.right && b.right < from.left);
      }
      if (skips) continue;
    }
    for (const bool curved : {false, true}) {
      for (int32_t i = 0; i < doc.NodeCount(); ++i) {
        const FilterNode& node = *doc.Node(i);
        if (node.nodeId == edge.fromNode || node.nodeId == edge.toNode) continue;
        const Rect& b = node.geometry.box;
        bool through = false;
        for (int k = 0; k <= 512 && !through; ++k) {
          const double t = k / 512.0, u = 1 - t;
          const double x = curved ? u * u * u * c.from.x + 3 * u * u * t * c.c1.x + 3 * u * t * t * c.c2.x + t * t * t * c.to.x
                                  : c.from.x + t * (c.to.x - c.from.x);
          const double y = curved ? u * u * u * c.from.y + 3 * u * u * t * c.c1.y + 3 * u * t * t * c.c2.y + t * t * t * c.to.y
                                  : c.from.y + t * (c.to.y - c.from.y);
          through = x >= b.left && x < b.right && y >= b.top && y < b.bottom;
        }
        if (through)
          found.push_back("edge " + std::to_string(e) + (curved ? " curved" : " straight") + " through " +
                          std::to_string(node.nodeId));
      }
    }
  }
  return found;
}

using Placement = DocumentTest;

TEST_F(Placement, NewNodesTakeTheNearestFreePlace) {
  FilterNode& a = AddNode(doc_, kRelayId);
  MoveTo(doc_, a, 100, 100);
  // A node put on top of another moves the shortest way off it, in whole
  // grid steps; one already free stays.
  FilterNode& b = AddNode(doc_, kRelayId);
  MoveTo(doc_, b, 110, 100);
  const Position shift = NearestFreeOffset(doc_, {b.nodeId}, 10);
  EXPECT_EQ(shift.x % 10, 0);
  EXPECT_EQ(shift.y % 10, 0);
  MoveTo(doc_, b, b.x + shift.x, b.y + shift.y);
  EXPECT_TRUE(Overlapping(doc_).empty());
  // Nearest: no further than the footprint's extent along one axis.
  const Rect fa = Footprint(a);
  const int32_t distance = std::abs(shift.x) + std::abs(shift.y);
  EXPECT_LE(distance, std::max(fa.right - fa.left, fa.bottom - fa.top) + 10);
  EXPECT_EQ(NearestFreeOffset(doc_, {b.nodeId}, 10), (Position{0, 0}));

  // A group moves as one: two pasted nodes stacked on two old ones.
  FilterNode& c = AddNode(doc_, kRelayId);
  FilterNode& d = AddNode(doc_, kRelayId);
  MoveTo(doc_, c, a.x, a.y);
  MoveTo(doc_, d, b.x, b.y);
  const Position group = NearestFreeOffset(doc_, {c.nodeId, d.nodeId}, 10);
  MoveTo(doc_, c, c.x + group.x, c.y + group.y);
  MoveTo(doc_, d, d.x + group.x, d.y + group.y);
  EXPECT_TRUE(Overlapping(doc_).empty());
  EXPECT_EQ(d.x - c.x, b.x - a.x) << "the group keeps its shape";
}

TEST_F(Placement, AGrownNodePushesItsNeighboursAway) {
  FilterNode& a = AddNode(doc_, kRelayId);
  FilterNode& right = AddNode(doc_, kRelayId);
  FilterNode& further = AddNode(doc_, kRelayId);
  FilterNode& below = AddNode(doc_, kRelayId);
  MoveTo(doc_, a, 0, 0);
  const int32_t w = Footprint(a).right - Footprint(a).left;
  const int32_t h = Footprint(a).bottom - Footprint(a).top;
  MoveTo(doc_, right, w + 10, 0);
  MoveTo(doc_, further, 2 * w + 20, 0);
  MoveTo(doc_, below, 0, h + 10);
  ASSERT_TRUE(Overlapping(doc_).empty());
  ASSERT_TRUE(doc_.InsertEdge(a.nodeId, kOut, right.nodeId, kIn) >= 0);
  ASSERT_TRUE(doc_.SetCaption(a, std::string(40, 'x')));
  ASSERT_FALSE(Overlapping(doc_).empty());
  const int32_t belowX = below.x;
  const std::vector<int32_t> moved = MakeRoomAround(doc_, a.nodeId);
  EXPECT_TRUE(Overlapping(doc_).empty());
  EXPECT_EQ(below.x, belowX) << "a node below is not pushed sideways";
  EXPECT_GE(moved.size(), 2u);
  // Edge ends follow the pushed nodes.
  const GraphEdge& e = *doc_.Edge(0);
  EXPECT_EQ(e.toX, (right.geometry.pinRects[kIn].left + right.geometry.pinRects[kIn].right) / 2);
}

TEST_F(Placement, ArrangeLayersByDataFlowAndUntanglesCrossings) {
  // Four sources feeding four relays in reverse order, all stacked at one
  // spot, and a chain relay -> worker after each relay.
  std::vector<FilterNode*> sources, relays, workers;
  for (int i = 0; i < 4; ++i) sources.push_back(&AddNode(doc_, kSourceId));
  for (int i = 0; i < 4; ++i) relays.push_back(&AddNode(doc_, kRelayId));
  for (int i = 0; i < 4; ++i) workers.push_back(&AddNode(doc_, kWorkerId));
  for (int i = 0; i < 4; ++i) {
    MoveTo(doc_, *sources[i], 10, 10 + 40 * i);
    MoveTo(doc_, *relays[i], 10, 10 + 40 * i);
    MoveTo(doc_, *workers[i], 10, 10 + 40 * i);
    ASSERT_GE(doc_.InsertEdge(sources[i]->nodeId, 2, relays[3 - i]->nodeId, kIn), 0);
    ASSERT_GE(doc_.InsertEdge(relays[i]->nodeId, kOut, workers[i]->nodeId, kIn), 0);
  }
  // A cycle (source 0 -> relay 3 -> worker 3 -> source 0) does not stop it.
  ASSERT_GE(doc_.InsertEdge(workers[3]->nodeId, 0, sources[0]->nodeId, 1), 0);
  Apply(doc_, ArrangeGraph(doc_));
  EXPECT_TRUE(Overlapping(doc_).empty());
  for (int i = 0; i < 4; ++i) {
    EXPECT_LT(sources[i]->geometry.box.right, relays[0]->geometry.box.left) << "sources form the first column";
    EXPECT_LT(relays[i]->geometry.box.right, workers[0]->geometry.box.left) << "workers come after the relays";
    EXPECT_EQ(sources[i]->x % 10, 0);
  }
  // No two edges between the same columns cross.
  for (int32_t i = 0; i < doc_.EdgeCount(); ++i)
    for (int32_t j = i + 1; j < doc_.EdgeCount(); ++j) {
      const GraphEdge& a = *doc_.Edge(i);
      const GraphEdge& b = *doc_.Edge(j);
      if (a.fromX != b.fromX || a.toX != b.toX) continue;
      EXPECT_GE((a.fromY - b.fromY) * static_cast<int64_t>(a.toY - b.toY), 0) << "edges " << i << " and " << j << " cross";
    }
  EXPECT_TRUE(ArrangeGraph(GraphDocument(TestRegistry(), measure_)).empty());
}

TEST_F(Placement, ArrangeLeavesNoOverlapsOnARandomGraphOf200Nodes) {
  std::mt19937 random(25);
  std::vector<FilterNode*> nodes;
  for (int i = 0; i < 200; ++i) {
    const int32_t kind = i < 20 ? kSourceId : (random() % 5 == 0 ? kWorkerId : kRelayId);
    FilterNode& node = AddNode(doc_, kind);
    MoveTo(doc_, node, static_cast<int32_t>(random() % 600), static_cast<int32_t>(random() % 400));
    nodes.push_back(&node);
  }
  // Edges from an earlier node's output to a later node's input, and a few
  // pointing back.
  for (int i = 20; i < 200; ++i) {
    if (nodes[static_cast<size_t>(i)]->filter->pinCount < 3) continue;
    for (int k = 0; k < 1 + static_cast<int>(random() % 2); ++k) {
      const int from = static_cast<int>(random() % static_cast<unsigned>(i));
      if (nodes[static_cast<size_t>(from)]->filter->pinCount < 3) continue;
      const int32_t fromPin = nodes[static_cast<size_t>(from)]->filter->pinCount - 1;
      doc_.InsertEdge(nodes[static_cast<size_t>(from)]->nodeId, fromPin, nodes[static_cast<size_t>(i)]->nodeId, kIn);
    }
    if (random() % 20 == 0) doc_.InsertEdge(nodes[static_cast<size_t>(i)]->nodeId, 1, nodes[5]->nodeId, 0);
  }
  ASSERT_FALSE(Overlapping(doc_).empty());
  Apply(doc_, ArrangeGraph(doc_));
  const std::vector<std::string> pairs = Overlapping(doc_);
  EXPECT_TRUE(pairs.empty()) << pairs.size() << " overlapping pairs, the first " << pairs.front();
  ExpectSaneHeight(doc_);
  // In so dense a graph (and with edges drawn from the workers' inputs)
  // edges still run through nodes: their courses go pin to pin. Counted, for
  // the record.
  RecordProperty("edges_through_nodes", static_cast<int>(EdgesThroughNodes(doc_).size()));
}

// A random graph of 200 nodes wired as pipelines are: each node fed by one
// or two of the twenty nodes before it.
TEST_F(Placement, ArrangeOfARandomPipelineOf200Nodes) {
  std::mt19937 random(2025);
  std::vector<FilterNode*> nodes;
  for (int i = 0; i < 200; ++i) {
    const int32_t kind = i < 12 ? kSourceId : (random() % 5 == 0 ? kWorkerId : kRelayId);
    FilterNode& node = AddNode(doc_, kind);
    MoveTo(doc_, node, static_cast<int32_t>(random() % 800), static_cast<int32_t>(random() % 600));
    nodes.push_back(&node);
  }
  for (int i = 12; i < 200; ++i) {
    if (nodes[static_cast<size_t>(i)]->filter->pinCount < 3) continue;
    for (int k = 0; k < 1 + static_cast<int>(random() % 2); ++k) {
      const int from = std::max(0, i - 1 - static_cast<int>(random() % 20));
      const FilterNode& producer = *nodes[static_cast<size_t>(from)];
      int32_t out = -1;  // its data output; workers have none
      for (int32_t p = 0; p < producer.filter->pinCount && out < 0; ++p)
        if (producer.filter->pins[p]->kind == static_cast<int32_t>(PinKind::Output)) out = p;
      if (out >= 0) doc_.InsertEdge(producer.nodeId, out, nodes[static_cast<size_t>(i)]->nodeId, kIn);
    }
  }
  Apply(doc_, ArrangeGraph(doc_));
  const std::vector<std::string> pairs = Overlapping(doc_);
  EXPECT_TRUE(pairs.empty()) << pairs.size() << " overlapping pairs, the first " << pairs.front();
  ExpectSaneHeight(doc_);
  const std::vector<std::string> through = EdgesThroughNodes(doc_, true);
  EXPECT_TRUE(through.empty()) << through.size() << " edges through nodes, the first " << through.front();
  RecordProperty("long_edges_through_nodes", static_cast<int>(EdgesThroughNodes(doc_).size()));
}

TEST_F(Placement, ArrangeKeepsEdgesThatSkipLayersOffTheNodesBetween) {
  // A chain of five relays, every one also feeding the one three further
  // on, and a source feeding the last: long edges pass the middle layers
  // where the chain's own nodes stand, in the row they would run along.
  std::vector<FilterNode*> chain;
  for (int i = 0; i < 6; ++i) chain.push_back(&AddNode(doc_, kRelayId));
  FilterNode& source = AddNode(doc_, kSourceId);
  for (int i = 1; i < 6; ++i) ASSERT_GE(doc_.InsertEdge(chain[static_cast<size_t>(i - 1)]->nodeId, kOut, chain[static_cast<size_t>(i)]->nodeId, kIn), 0);
  for (int i = 0; i + 3 < 6; ++i) ASSERT_GE(doc_.InsertEdge(chain[static_cast<size_t>(i)]->nodeId, kOut, chain[static_cast<size_t>(i + 3)]->nodeId, kIn), 0);
  ASSERT_GE(doc_.InsertEdge(source.nodeId, 2, chain[5]->nodeId, kIn), 0);
  ASSERT_TRUE(doc_.SetCaption(*chain[2], "a caption long enough to widen its column"));
  Apply(doc_, ArrangeGraph(doc_));
  EXPECT_TRUE(Overlapping(doc_).empty());
  const std::vector<std::string> through = EdgesThroughNodes(doc_);
  EXPECT_TRUE(through.empty()) << through.size() << " edges through nodes, the first " << through.front();
  for (int i = 1; i < 6; ++i) EXPECT_LT(chain[static_cast<size_t>(i - 1)]->geometry.box.right, chain[static_cast<size_t>(i)]->geometry.box.left);
  EXPECT_EQ(chain[0]->x % 10, 0);
  EXPECT_EQ(chain[0]->y % 10, 0);
}

}  // namespace
}  // namespace vorlan::host::test
