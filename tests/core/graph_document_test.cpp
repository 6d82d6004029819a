#include <gtest/gtest.h>

#include <climits>

#include "core/graph_runner.h"
#include "core/pointer_list.h"
#include "core_fixture.h"

namespace vorlan::host::test {
namespace {

TEST(PointerList, GrowsBySixteenAndMovesTheLastItemIntoAHole) {
  PointerList list;
  int items[40];
  for (int i = 0; i < 17; ++i) EXPECT_EQ(list.Append(&items[i]), i);
  EXPECT_EQ(list.Capacity(), 32);
  EXPECT_EQ(list.RemoveAt(0), 1);
  EXPECT_EQ(list.Get(0), &items[16]);  // the last item took the freed slot
  EXPECT_EQ(list.Count(), 16);
  EXPECT_EQ(list.RemoveAt(16), 0);
  EXPECT_EQ(list.RemoveAt(-1), 0);
  EXPECT_EQ(list.Get(16), nullptr);
  EXPECT_EQ(list.Get(-1), nullptr);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 32);
  // Room made at once comes in whole steps; appends then grow as before.
  EXPECT_TRUE(list.Reserve(33));
  EXPECT_EQ(list.Capacity(), 48);
  EXPECT_TRUE(list.Reserve(10));
  EXPECT_EQ(list.Capacity(), 48) << "never shrinks";
  for (int i = 0; i < 40; ++i) list.Append(&items[i]);
  EXPECT_EQ(list.Capacity(), 48);
  for (int i = 0; i < 9; ++i) list.Append(&items[i]);
  EXPECT_EQ(list.Capacity(), 64);
  EXPECT_FALSE(list.Reserve(INT32_MAX)) << "more than the steps can reach";
  EXPECT_EQ(list.Capacity(), 64);
}

using GraphModel = DocumentTest;

TEST_F(GraphModel, IdsAndCascadePositions) {
  for (int i = 0; i < 3; ++i) AddNode(doc_, kSourceId);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(doc_.Node(i)->nodeId, i + 1);
    EXPECT_EQ(doc_.Node(i)->x, 10 + 30 * i);
    EXPECT_EQ(doc_.Node(i)->y, 10 + 30 * i);
    EXPECT_EQ(doc_.Node(i)->caption, "Test source");
  }
  EXPECT_EQ(doc_.RemoveNode(2), 1);
  EXPECT_EQ(AddNode(doc_, kSourceId).nodeId, 4);
  EXPECT_EQ(doc_.RemoveNode(4), 1);
  EXPECT_EQ(doc_.RemoveNode(3), 1);
  EXPECT_EQ(AddNode(doc_, kSourceId).nodeId, 2);  // ids of removed nodes come back
  EXPECT_EQ(doc_.RemoveNode(99), 0);
  EXPECT_EQ(doc_.InsertNode(77), -1);  // no such prototype
}

TEST_F(GraphModel, CascadeWrapsAfterFiveHundred) {
  for (int i = 0; i < 17; ++i) AddNode(doc_, kSourceId);
  EXPECT_EQ(doc_.Node(16)->x, 490);
  EXPECT_EQ(AddNode(doc_, kSourceId).x, 10);
}

TEST_F(GraphModel, RemovingTheFirstNodeChangesTheRunOrder) {
  for (int i = 0; i < 3; ++i) AddNode(doc_, kSourceId);
  doc_.RemoveNode(1);
  ASSERT_EQ(doc_.NodeCount(), 2);
  EXPECT_EQ(doc_.Node(0)->nodeId, 3);
  EXPECT_EQ(doc_.Node(1)->nodeId, 2);
}

TEST_F(GraphModel, EdgesAreCheckedAgainstNodesAndPins) {
  FilterNode& source = AddNode(doc_, kSourceId);
  FilterNode& relay = AddNode(doc_, kRelayId);
  const int32_t index = doc_.InsertEdge(source.nodeId, 2, relay.nodeId, 2);
  ASSERT_EQ(index, 0);
  const GraphEdge& e = *doc_.Edge(index);
  EXPECT_EQ(e.edgeId, 1);
  const Rect& from = source.geometry.pinRects[2];
  const Rect& to = relay.geometry.pinRects[2];
  EXPECT_EQ(e.fromX, (from.left + from.right) / 2);
  EXPECT_EQ(e.toY, (to.top + to.bottom) / 2);
  EXPECT_EQ(doc_.InsertEdge(source.nodeId, 3, relay.nodeId, 2), -1);  // no pin 3
  EXPECT_EQ(doc_.InsertEdge(source.nodeId, -1, relay.nodeId, 2), -1);
  EXPECT_EQ(doc_.InsertEdge(42, 2, relay.nodeId, 2), -1);
  // Stored as drawn: two inputs, the same node, duplicates.
  EXPECT_GE(doc_.InsertEdge(relay.nodeId, 2, relay.nodeId, 3), 0);
  EXPECT_GE(doc_.InsertEdge(source.nodeId, 2, relay.nodeId, 2), 0);
  EXPECT_EQ(doc_.EdgeCount(), 3);
  EXPECT_EQ(doc_.RemoveEdge(2), 1);
  EXPECT_EQ(doc_.RemoveEdge(2), 0);
}

TEST_F(GraphModel, RemovingANodeRemovesExactlyItsEdges) {
  FilterNode& a = AddNode(doc_, kSourceId);
  FilterNode& b = AddNode(doc_, kRelayId);
  FilterNode& c = AddNode(doc_, kRelayId);
  const int32_t aId = a.nodeId, bId = b.nodeId, cId = c.nodeId;
  doc_.InsertEdge(aId, 2, bId, 2);
  doc_.InsertEdge(bId, 3, cId, 2);
  doc_.InsertEdge(aId, 2, cId, 2);
  doc_.InsertEdge(cId, 3, bId, 2);
  ASSERT_EQ(doc_.RemoveNode(bId), 1);
  ASSERT_EQ(doc_.EdgeCount(), 1);
  EXPECT_EQ(doc_.Edge(0)->fromNode, aId);
  EXPECT_EQ(doc_.Edge(0)->toNode, cId);
}

TEST_F(GraphModel, RevalidationDropsEdgesOfVanishedPins) {
  FilterNode& source = AddNode(doc_, kSourceId);
  FilterNode& sink = AddNode(doc_, kRelayId);
  ASSERT_EQ(ApplyInts(source, 5, 4), Ok);  // outputs at pins 2..5
  doc_.RefreshNode(source);
  for (int32_t pin = 2; pin <= 5; ++pin) ASSERT_GE(doc_.InsertEdge(source.nodeId, pin, sink.nodeId, 2), 0);
  const int32_t oldBottom = source.geometry.box.bottom;

  ASSERT_EQ(ApplyInts(source, 5, 2), Ok);  // outputs at pins 2 and 3 only
  doc_.RefreshNode(source);
  ASSERT_EQ(doc_.EdgeCount(), 2);
  for (int32_t i = 0; i < 2; ++i) {
    const GraphEdge& e = *doc_.Edge(i);
    EXPECT_LE(e.fromPin, 3);
    const Rect& r = source.geometry.pinRects[static_cast<size_t>(e.fromPin)];
    EXPECT_EQ(e.fromY, (r.top + r.bottom) / 2) << "end points follow the new layout";
  }
  EXPECT_LT(source.geometry.box.bottom, oldBottom);
  EXPECT_EQ(source.geometry.pinRects.size(), 4u);
}

TEST_F(GraphModel, MovingANodeMovesItsGeometryAndEdgeEnds) {
  FilterNode& a = AddNode(doc_, kSourceId);
  FilterNode& b = AddNode(doc_, kRelayId);
  doc_.InsertEdge(a.nodeId, 2, b.nodeId, 2);
  const GraphEdge before = *doc_.Edge(0);
  const NodeGeometry g = a.geometry;
  doc_.MoveNode(a, 20, -10);
  doc_.MoveEdgeEndsOfNode(a, 20, -10);
  EXPECT_EQ(a.x, 30);
  EXPECT_EQ(a.geometry.box.left, g.box.left + 20);
  EXPECT_EQ(a.geometry.captionY, g.captionY - 10);
  EXPECT_EQ(a.geometry.pinRects[2].top, g.pinRects[2].top - 10);
  EXPECT_EQ(doc_.Edge(0)->fromX, before.fromX + 20);
  EXPECT_EQ(doc_.Edge(0)->toX, before.toX);
}

TEST_F(GraphModel, CaptionsAreCutAtCodePointsWithin255Bytes) {
  FilterNode& n = AddNode(doc_, kSourceId);
  std::string longCaption(254, 'a');
  longCaption += "\xC3\xA9";  // é straddles byte 255
  doc_.SetCaption(n, longCaption);
  EXPECT_EQ(n.caption, std::string(254, 'a'));
  doc_.SetCaption(n, "in");
  EXPECT_EQ(n.caption, "in");
  EXPECT_EQ(TruncateUtf8("\xE2\x82\xAC\xE2\x82\xAC", 4), "\xE2\x82\xAC");
}

TEST_F(GraphModel, ClearEmptiesTheDocument) {
  AddNode(doc_, kSourceId);
  doc_.originX = 5;
  doc_.Clear();
  EXPECT_EQ(doc_.NodeCount(), 0);
  EXPECT_EQ(doc_.originX, 0);
  EXPECT_EQ(AddNode(doc_, kSourceId).x, 10);
  EXPECT_EQ(doc_.Run().LastResult(), -1);
}

TEST_F(GraphModel, NodeByFilterAndFailureReason) {
  FilterNode& v = AddNode(doc_, kValidId);
  EXPECT_EQ(doc_.NodeByFilter(v.filter), &v);
  EXPECT_EQ(doc_.NodeByFilter(nullptr), nullptr);
  EXPECT_EQ(v.filter->Process(), Failed);  // no path set
  EXPECT_EQ(v.FailureReason(), "no path set");
  FilterNode& s = AddNode(doc_, kSourceId);  // library without GetFailureReason
  EXPECT_EQ(s.FailureReason(), "");
}

}  // namespace
}  // namespace vorlan::host::test
