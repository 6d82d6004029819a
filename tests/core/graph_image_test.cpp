// Graph images: the records behind undo and the clipboard. Restoring an
// earlier image must give back the very bytes a save wrote then; pasting
// brings the edges among the pasted nodes along.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/graph_file.h"
#include "core/graph_image.h"
#include "core/placement.h"
#include "core_fixture.h"

namespace vorlan::host::test {
namespace {

constexpr int32_t kRelayIn = 2;
constexpr int32_t kRelayOut = 3;
constexpr int32_t kSourceOut = 2;  // "Out"; "Out2", "Out3" follow

std::vector<uint8_t> Save(GraphDocument& doc) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(SaveGraph(doc, bytes, error)) << error;
  return bytes;
}

GraphImage Capture(GraphDocument& doc) {
  GraphImage image;
  std::string error;
  EXPECT_TRUE(CaptureGraph(doc, image, error)) << error;
  return image;
}

// A source with three outputs feeding two relays, the first relay feeding the second.
class GraphImageTest : public DocumentTest {
 protected:
  void SetUp() override {
    DocumentTest::SetUp();
    source_ = &AddNode(doc_, kSourceId);
    ASSERT_EQ(ApplyInts(*source_, 5, 3), Ok);
    doc_.RefreshNode(*source_);
    relayA_ = &AddNode(doc_, kRelayId);
    relayB_ = &AddNode(doc_, kRelayId);
    doc_.SetCaption(*relayB_, "second");
    ASSERT_GE(doc_.InsertEdge(source_->nodeId, kSourceOut + 2, relayA_->nodeId, kRelayIn), 0);
    ASSERT_GE(doc_.InsertEdge(relayA_->nodeId, kRelayOut, relayB_->nodeId, kRelayIn), 0);
  }
  FilterNode* source_ = nullptr;
  FilterNode* relayA_ = nullptr;
  FilterNode* relayB_ = nullptr;
};

TEST_F(GraphImageTest, RestoreUndoesEveryKindOfEditToTheSavedBytes) {
  doc_.originX = 12;
  const std::vector<uint8_t> saved = Save(doc_);
  const GraphImage before = Capture(doc_);
  EXPECT_EQ(GraphImageBytes(before), saved) << "an image writes what a save writes";
  const Filter* keptFilter = relayB_->filter;
  const int32_t sourceId = source_->nodeId;

  // Settings that drop the edge on "Out3", a caption, a move, a removal
  // (which reorders the list), a new node and a new edge.
  ASSERT_EQ(ApplyInts(*source_, 9, 1), Ok);
  doc_.RefreshNode(*source_);
  EXPECT_EQ(doc_.EdgeCount(), 1);
  doc_.SetCaption(*relayB_, "renamed");
  doc_.MoveNode(*relayB_, 30, -20);
  ASSERT_EQ(doc_.RemoveNode(relayA_->nodeId), 1);
  AddNode(doc_, kValidId);
  ASSERT_GE(doc_.InsertEdge(sourceId, kSourceOut, relayB_->nodeId, kRelayIn), 0);
  const GraphImage after = Capture(doc_);
  doc_.originX = -40;  // scrolled meanwhile

  std::string error;
  ASSERT_TRUE(RestoreGraph(doc_, before, error)) << error;
  EXPECT_EQ(doc_.originX, -40) << "the scroll position is not part of an edit";
  doc_.originX = 12;
  EXPECT_EQ(Save(doc_), saved);
  EXPECT_EQ(doc_.NodeById(relayB_->nodeId)->filter, keptFilter) << "an untouched node keeps its filter";
  const FilterNode* source = doc_.NodeById(sourceId);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->filter->pinCount, 5) << "the restored settings bring the pins back";
  EXPECT_EQ(doc_.Edge(0)->fromX, (source->geometry.pinRects[4].left + source->geometry.pinRects[4].right) / 2);

  ASSERT_TRUE(RestoreGraph(doc_, after, error)) << error;  // redo
  GraphImage again = Capture(doc_);
  again.originX = after.originX;
  EXPECT_EQ(again, after);
}

TEST_F(GraphImageTest, CopyAndPasteBringTheEdgesAmongTheNodes) {
  std::string error;
  const GraphImage part = CopyNodes(doc_, {relayA_->nodeId, relayB_->nodeId}, error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_EQ(part.nodes.size(), 2u);
  ASSERT_EQ(part.edges.size(), 1u) << "the edge from the source stays behind";

  // Through bytes, as the clipboard carries it.
  const std::vector<uint8_t> bytes = GraphImageBytes(part);
  GraphImage parsed;
  ASSERT_TRUE(ParseGraphImage(bytes.data(), bytes.size(), parsed, error)) << error;
  EXPECT_EQ(parsed, part);

  std::vector<int32_t> ids;
  ASSERT_TRUE(PasteNodes(doc_, parsed, 100, 50, ids, error)) << error;
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0], 4);
  EXPECT_EQ(ids[1], 5);
  EXPECT_EQ(doc_.NodeCount(), 5);
  ASSERT_EQ(doc_.EdgeCount(), 3);
  const GraphEdge& edge = *doc_.Edge(2);
  EXPECT_EQ(edge.fromNode, 4);
  EXPECT_EQ(edge.fromPin, kRelayOut);
  EXPECT_EQ(edge.toNode, 5);
  EXPECT_EQ(edge.toPin, kRelayIn);
  const FilterNode& copy = *doc_.NodeById(5);
  EXPECT_EQ(copy.caption, "second");
  EXPECT_EQ(copy.x, relayB_->x + 100);
  EXPECT_EQ(copy.y, relayB_->y + 50);
  EXPECT_EQ(copy.geometry.box.left - copy.x, relayB_->geometry.box.left - relayB_->x) << "laid out at its place";
}

TEST_F(GraphImageTest, PasteIsAllOrNothing) {
  std::string error;
  GraphImage part = CopyNodes(doc_, {source_->nodeId, relayA_->nodeId}, error);
  ASSERT_EQ(part.nodes.size(), 2u);
  const std::vector<uint8_t> before = Save(doc_);
  std::vector<int32_t> ids;

  part.nodes[1].filterId = 4242;  // no library offers it
  EXPECT_FALSE(PasteNodes(doc_, part, 0, 0, ids, error));
  EXPECT_NE(error.find("4242"), std::string::npos) << error;
  EXPECT_EQ(Save(doc_), before);

  part.nodes[1].filterId = kRelayId;
  part.nodes[0].settings = {1, 2, 3};  // settings the source refuses
  EXPECT_FALSE(PasteNodes(doc_, part, 0, 0, ids, error));
  EXPECT_EQ(Save(doc_), before);

  part.nodes[0].settings.clear();
  part.nodes[0].x = kMaxCoordinate;
  EXPECT_FALSE(PasteNodes(doc_, CopyNodes(doc_, {source_->nodeId}, error), kMaxCoordinate, 0, ids, error));
  EXPECT_EQ(Save(doc_), before);
  EXPECT_TRUE(ids.empty());
}

TEST(GraphImageParse, RefusesEveryCutAndBadFieldWithoutReadingPastTheEnd) {
  GraphImage image;
  image.originX = -5;
  image.nodes.push_back(NodeRecord{kSourceId, 3, "source", 10, 20, {1, 0, 0, 0, 2, 0, 0, 0}});
  image.nodes.push_back(NodeRecord{kRelayId, 7, "", -30, 40, {}});
  image.edges.push_back(EdgeRecord{3, 2, 7, 2});
  const std::vector<uint8_t> bytes = GraphImageBytes(image);
  GraphImage parsed;
  std::string error;
  ASSERT_TRUE(ParseGraphImage(bytes.data(), bytes.size(), parsed, error)) << error;
  EXPECT_EQ(parsed, image);
  // Each shorter prefix ends inside a record or count (the zero-edge tail
  // cannot be reached: the edge record is last).
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(ParseGraphImage(cut.data(), cut.size(), parsed, error)) << "prefix of " << n << " bytes";
  }
  auto corrupt = [&](size_t offset, int32_t value) {
    std::vector<uint8_t> bad = bytes;
    for (int i = 0; i < 4; ++i) bad[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
    return ParseGraphImage(bad.data(), bad.size(), parsed, error);
  };
  EXPECT_FALSE(corrupt(8, -1)) << "negative node count";
  EXPECT_FALSE(corrupt(8, 0x7fffffff)) << "node count beyond the data";
  EXPECT_FALSE(corrupt(16, 0)) << "node id 0";
  EXPECT_FALSE(corrupt(20, 256)) << "caption longer than 255";
  EXPECT_FALSE(corrupt(4, kMaxCoordinate + 1)) << "origin out of range";
  EXPECT_FALSE(ParseGraphImage(nullptr, 100, parsed, error));
}

TEST_F(GraphImageTest, OrderNodesAndFreePositions) {
  doc_.OrderNodes({relayB_->nodeId, 99, source_->nodeId, relayB_->nodeId});
  EXPECT_EQ(doc_.Node(0), relayB_);
  EXPECT_EQ(doc_.Node(1), source_);
  EXPECT_EQ(doc_.Node(2), relayA_);

  // Centred on the point and snapped; the next spot when one is taken.
  FilterNode& fresh = AddNode(doc_, kRelayId);
  const Rect& box = fresh.geometry.box;
  const Position at = FreePosition(doc_, fresh, 300, 200, 10);
  EXPECT_EQ(at.x % 10, 0);
  EXPECT_EQ(at.y % 10, 0);
  EXPECT_LE(std::abs(at.x + (box.left - fresh.x) + (box.right - box.left) / 2 - 300), 10);
  EXPECT_LE(std::abs(at.y + (box.top - fresh.y) + (box.bottom - box.top) / 2 - 200), 10);
  doc_.MoveNode(*relayA_, at.x - relayA_->x, at.y - relayA_->y);
  doc_.MoveNode(*relayB_, at.x + 20 - relayB_->x, at.y + 20 - relayB_->y);
  const Position next = FreePosition(doc_, fresh, 300, 200, 10);
  EXPECT_EQ(next, (Position{at.x + 40, at.y + 40}));
}

}  // namespace
}  // namespace vorlan::host::test
