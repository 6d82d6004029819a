#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/graph_file.h"
#include "core_fixture.h"

namespace vorlan::host::test {
namespace {

void Put(std::vector<uint8_t>& out, int32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

// One node record as a graph file holds it.
void PutNode(std::vector<uint8_t>& out, int32_t filterId, int32_t nodeId, const std::string& caption, int32_t x,
             int32_t y, const std::vector<uint8_t>& settings) {
  Put(out, filterId);
  Put(out, nodeId);
  Put(out, static_cast<int32_t>(caption.size()));
  out.insert(out.end(), caption.begin(), caption.end());
  out.push_back(0);
  Put(out, x);
  Put(out, y);
  Put(out, static_cast<int32_t>(settings.size()));
  out.insert(out.end(), settings.begin(), settings.end());
}

std::vector<uint8_t> Save(GraphDocument& doc) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(SaveGraph(doc, bytes, error)) << error;
  return bytes;
}

using GraphFile = DocumentTest;

TEST_F(GraphFile, EmptyGraphIsSixteenBytes) {
  doc_.originX = -3;
  doc_.originY = 7;
  const std::vector<uint8_t> bytes = Save(doc_);
  std::vector<uint8_t> expected;
  Put(expected, -3);
  Put(expected, 7);
  Put(expected, 0);
  Put(expected, 0);
  EXPECT_EQ(bytes, expected);
}

TEST_F(GraphFile, StreamNodeRecordLayout) {
  FilterNode& n = AddNode(doc_, kValidId);
  doc_.SetCaption(n, "in");
  ASSERT_EQ(ApplyText(n, "a.bmp"), Ok);
  const std::vector<uint8_t> bytes = Save(doc_);
  std::vector<uint8_t> expected;
  Put(expected, 0);
  Put(expected, 0);
  Put(expected, 1);
  PutNode(expected, kValidId, 1, "in", 10, 10, {0x05, 0, 0, 0, 0x61, 0x2E, 0x62, 0x6D, 0x70});
  Put(expected, 0);
  EXPECT_EQ(bytes, expected);
  // The caption bytes 69 6E are followed by one zero byte.
  EXPECT_EQ(bytes[24], 0x69);
  EXPECT_EQ(bytes[25], 0x6E);
  EXPECT_EQ(bytes[26], 0x00);
}

// The same record with the real File Input Stream, when it is built.
TEST(GraphFileIntake, InNodeExample) {
  if (!std::filesystem::exists(vorlan::test::FilterLibraryPath("intake"))) {
    GTEST_SKIP() << "intake is not built";
  }
  // Kept loaded for the whole test program (see the plug-in contract test).
  static const Registry& registry = *new Registry(VORLAN_FILTER_DIR);
  FixedTextMeasure measure;
  GraphDocument doc(registry, measure);
  const FilterPrototype* p = registry.FindPrototypeByFilterId(10);
  ASSERT_NE(p, nullptr);
  FilterNode& n = *doc.Node(doc.InsertNode(p->id));
  doc.SetCaption(n, "in");
  ASSERT_EQ(ApplyText(n, "a.bmp"), Ok);
  const std::vector<uint8_t> bytes = Save(doc);
  std::vector<uint8_t> expected;
  Put(expected, 0);
  Put(expected, 0);
  Put(expected, 1);
  PutNode(expected, 10, 1, "in", 10, 10, {0x05, 0, 0, 0, 0x61, 0x2E, 0x62, 0x6D, 0x70});
  Put(expected, 0);
  EXPECT_EQ(bytes, expected);
  GraphDocument other(registry, measure);
  ASSERT_TRUE(LoadGraph(other, bytes.data(), bytes.size()).ok);
  EXPECT_EQ(Save(other), bytes);
}

TEST_F(GraphFile, RoundTripIsByteIdenticalAndKeepsNodeIds) {
  FilterNode& a = AddNode(doc_, kSourceId);
  FilterNode& b = AddNode(doc_, kRelayId);
  FilterNode& c = AddNode(doc_, kValidId);
  FilterNode& d = AddNode(doc_, kWorkerId);
  ASSERT_EQ(ApplyInts(a, -12, 3), Ok);
  doc_.RefreshNode(a);
  ASSERT_EQ(ApplyText(c, "caf\xC3\xA9.bmp"), Ok);
  doc_.SetCaption(b, "relay \xE2\x82\xAC");
  doc_.MoveNode(d, 100, 200);
  doc_.InsertEdge(1, 4, 2, 2);
  doc_.InsertEdge(2, 3, 4, 2);
  doc_.InsertEdge(1, 2, 2, 2);
  doc_.RemoveEdge(1);  // edge ids now 2 and 3
  doc_.RemoveNode(c.nodeId);  // node 4 moves into slot 2: ids 1, 2, 4
  doc_.originX = 33;
  const std::vector<uint8_t> first = Save(doc_);

  FixedTextMeasure measure;
  GraphDocument other(TestRegistry(), measure);
  const GraphLoadResult r = LoadGraph(other, first.data(), first.size());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.warnings.empty());
  ASSERT_EQ(other.NodeCount(), 3);
  EXPECT_EQ(other.Node(2)->nodeId, 4);
  EXPECT_EQ(other.Node(2)->x, 200);  // positions come from the file
  EXPECT_EQ(other.Node(1)->caption, "relay \xE2\x82\xAC");
  EXPECT_EQ(other.Node(0)->filter->pinCount, 5);  // settings re-created the pins
  ASSERT_EQ(other.EdgeCount(), 2);
  EXPECT_EQ(other.Edge(0)->edgeId, 1);  // renumbered
  EXPECT_EQ(other.Edge(1)->edgeId, 2);
  EXPECT_EQ(other.originX, 33);
  EXPECT_EQ(Save(other), first);
}

// Every broken file fails with a reason and leaves an empty document.
TEST_F(GraphFile, BrokenFilesFailAndLeaveAnEmptyDocument) {
  std::vector<uint8_t> good;
  Put(good, 0);
  Put(good, 0);
  Put(good, 2);
  PutNode(good, kSourceId, 1, "a", 0, 0, {7, 0, 0, 0, 1, 0, 0, 0});
  PutNode(good, kRelayId, 2, "b", 0, 0, {});
  Put(good, 1);
  Put(good, 1);
  Put(good, 2);
  Put(good, 2);
  Put(good, 2);

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* errorPart;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, auto edit, const char* part) {
    std::vector<uint8_t> b = good;
    edit(b);
    cases.push_back({name, b, part});
  };
  with("unknown filter id", [](auto& b) { b[12] = 0x55; }, "no loaded library offers filter id");
  with("truncated", [](auto& b) { b.resize(b.size() - 3); }, "edge count 1 exceeds what the file holds");
  with("truncated in a node record", [](auto& b) { b.resize(70); }, "node record 2: the file ends early");
  with("duplicate node id", [](auto& b) { b[50] = 1; }, "appears twice");
  with("node id zero", [](auto& b) { b[16] = 0; }, "invalid node id");
  with("negative node count", [](auto& b) { b[11] = 0x80; }, "negative node count");
  with("huge node count", [](auto& b) { b[10] = 0x40; }, "exceeds what the file holds");
  with("huge settings length", [](auto& b) { b[12 + 4 + 4 + 4 + 1 + 1 + 8 + 3] = 0x7F; }, "settings length");
  with("refused settings", [](auto& b) { b[12 + 37 - 4] = 0x40; }, "refused its settings");
  with("position out of range", [](auto& b) { b[29] = 0x7F; }, "outside the drawable range");
  with("origin out of range", [](auto& b) { b[3] = 0x80; }, "outside the drawable range");
  with("huge edge count", [](auto& b) { b[b.size() - 17] = 0x7F; }, "edge count");
  {
    std::vector<uint8_t> b;
    Put(b, 0);
    Put(b, 0);
    Put(b, 1);
    PutNode(b, kRelayId, 1, std::string(256, 'c'), 0, 0, {});
    Put(b, 0);
    cases.push_back({"caption over 255 bytes", b, "outside 0..255"});
  }
  cases.push_back({"empty file", {}, "ends early"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AddNode(doc_, kSourceId);
    const GraphLoadResult r = LoadGraph(doc_, c.bytes.data(), c.bytes.size());
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << r.error;
    EXPECT_EQ(doc_.NodeCount(), 0);
    EXPECT_EQ(doc_.EdgeCount(), 0);
  }
  const GraphLoadResult ok = LoadGraph(doc_, good.data(), good.size());
  EXPECT_TRUE(ok.ok) << ok.error;
  EXPECT_EQ(doc_.EdgeCount(), 1);
}

TEST_F(GraphFile, EdgesToMissingPinsAreDroppedWithAWarning) {
  std::vector<uint8_t> b;
  Put(b, 0);
  Put(b, 0);
  Put(b, 2);
  PutNode(b, kSourceId, 5, "s", 0, 0, {7, 0, 0, 0, 1, 0, 0, 0});
  PutNode(b, kRelayId, 9, "r", 0, 0, {});
  Put(b, 3);
  for (int32_t v : {5, 2, 9, 2}) Put(b, v);
  for (int32_t v : {5, 3, 9, 2}) Put(b, v);  // the source has no pin 3
  for (int32_t v : {6, 2, 9, 2}) Put(b, v);  // there is no node 6
  const GraphLoadResult r = LoadGraph(doc_, b.data(), b.size());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(doc_.EdgeCount(), 1);
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_NE(r.warnings[0].find("pin 3"), std::string::npos);
}

// A graph file of many nodes with scattered ids and edges, some of them
// naming nodes or pins that do not exist.
struct LargeGraph {
  struct NodeRecord {
    int32_t filterId, nodeId, x, y;
    std::string caption;
    std::vector<uint8_t> settings;
  };
  std::vector<NodeRecord> nodes;
  std::vector<std::array<int32_t, 4>> edges;
  std::vector<uint8_t> bytes;

  explicit LargeGraph(int32_t nodeCount, int32_t edgeCount, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> ids(static_cast<size_t>(3 * nodeCount));
    std::iota(ids.begin(), ids.end(), 1);
    std::shuffle(ids.begin(), ids.end(), rng);
    Put(bytes, 7);
    Put(bytes, -3);
    Put(bytes, nodeCount);
    for (int32_t i = 0; i < nodeCount; ++i) {
      const bool source = rng() % 2 == 0;
      NodeRecord n{source ? kSourceId : kRelayId, ids[static_cast<size_t>(i)], static_cast<int32_t>(rng() % 5000),
                   static_cast<int32_t>(rng() % 5000), std::string("n").append(std::to_string(i)),
                   source ? std::vector<uint8_t>{7, 0, 0, 0, 1, 0, 0, 0} : std::vector<uint8_t>{}};
      PutNode(bytes, n.filterId, n.nodeId, n.caption, n.x, n.y, n.settings);
      nodes.push_back(std::move(n));
    }
    Put(bytes, edgeCount);
    for (int32_t e = 0; e < edgeCount; ++e) {
      // One id in ten is one no node has; pins 0..5 are sometimes too high.
      auto id = [&] { return rng() % 10 == 0 ? ids[static_cast<size_t>(nodeCount) + rng() % nodeCount]
                                             : nodes[rng() % nodes.size()].nodeId; };
      const std::array<int32_t, 4> edge{id(), static_cast<int32_t>(rng() % 6), id(), static_cast<int32_t>(rng() % 6)};
      for (const int32_t v : edge) Put(bytes, v);
      edges.push_back(edge);
    }
  }
};

// The loader finds nodes through its own table; what it builds must be what
// inserting the records one by one through the document builds.
TEST_F(GraphFile, LoadingIsInsertingTheRecordsOneByOne) {
  const LargeGraph graph(600, 3000, 7);
  FixedTextMeasure measure;
  GraphDocument expected(TestRegistry(), measure);
  for (const LargeGraph::NodeRecord& n : graph.nodes) {
    FilterNode& node = AddNode(expected, n.filterId);
    node.nodeId = n.nodeId;
    node.caption = n.caption;
    node.x = n.x;
    node.y = n.y;
    const Packet packet = MakePacket(static_cast<int32_t>(n.settings.size()), PacketType::Config,
                                     const_cast<uint8_t*>(n.settings.data()));
    if (!n.settings.empty()) {
      ASSERT_EQ(node.filter->ApplyConfig(packet, ConfigForm::Serialized), Ok);
    }
    ASSERT_TRUE(expected.LayoutNode(node));
  }
  size_t dropped = 0;
  for (const auto& e : graph.edges) dropped += expected.InsertEdge(e[0], e[1], e[2], e[3]) < 0 ? 1 : 0;
  ASSERT_GT(dropped, 0u);
  ASSERT_GT(expected.EdgeCount(), 500);

  const GraphLoadResult r = LoadGraph(doc_, graph.bytes.data(), graph.bytes.size());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.warnings.size(), dropped);
  ASSERT_EQ(doc_.NodeCount(), expected.NodeCount());
  for (int32_t i = 0; i < doc_.NodeCount(); ++i) {
    const FilterNode& a = *doc_.Node(i);
    const FilterNode& b = *expected.Node(i);
    ASSERT_EQ(a.nodeId, b.nodeId) << "node " << i;
    EXPECT_EQ(a.filter->info.id, b.filter->info.id) << "node " << i;
    EXPECT_EQ(a.geometry.box.left, b.geometry.box.left) << "node " << i;
    EXPECT_EQ(a.geometry.box.bottom, b.geometry.box.bottom) << "node " << i;
    ASSERT_EQ(a.geometry.pinRects.size(), b.geometry.pinRects.size()) << "node " << i;
  }
  ASSERT_EQ(doc_.EdgeCount(), expected.EdgeCount());
  for (int32_t i = 0; i < doc_.EdgeCount(); ++i) {
    const GraphEdge& a = *doc_.Edge(i);
    const GraphEdge& b = *expected.Edge(i);
    ASSERT_EQ(a.edgeId, b.edgeId) << "edge " << i;
    EXPECT_EQ(std::tie(a.fromNode, a.fromPin, a.toNode, a.toPin, a.fromX, a.fromY, a.toX, a.toY),
              std::tie(b.fromNode, b.fromPin, b.toNode, b.toPin, b.fromX, b.fromY, b.toX, b.toY))
        << "edge " << i;
  }
  EXPECT_EQ(std::tie(doc_.cascadeX, doc_.cascadeY), std::tie(expected.cascadeX, expected.cascadeY));
  EXPECT_EQ(doc_.NextNodeId(), expected.NextNodeId());
  expected.originX = 7;
  expected.originY = -3;
  EXPECT_EQ(Save(doc_), Save(expected));

  // The largest id leaves no fresh one for the next node, one by one or loaded.
  std::vector<uint8_t> b;
  Put(b, 0);
  Put(b, 0);
  Put(b, 2);
  PutNode(b, kRelayId, INT32_MAX, "last", 0, 0, {});
  PutNode(b, kRelayId, 5, "next", 0, 0, {});
  Put(b, 0);
  const GraphLoadResult full = LoadGraph(doc_, b.data(), b.size());
  EXPECT_FALSE(full.ok);
  EXPECT_NE(full.error.find("node record 2: the filter \"Test relay\" could not be created"), std::string::npos)
      << full.error;
}

TEST_F(GraphFile, AStopRequestEndsTheLoadWithAnEmptyDocument) {
  const LargeGraph graph(300, 5000, 11);
  for (const int polls : {1, 150, 301}) {  // before the first node, among the nodes, at the first edges
    int asked = 0;
    const GraphLoadResult r =
        LoadGraph(doc_, graph.bytes.data(), graph.bytes.size(), [&] { return ++asked >= polls; });
    EXPECT_FALSE(r.ok) << polls;
    EXPECT_TRUE(r.interrupted) << polls;
    EXPECT_EQ(r.error, kLoadInterrupted) << polls;
    EXPECT_EQ(asked, polls);
    EXPECT_EQ(doc_.NodeCount(), 0) << polls;
    EXPECT_EQ(doc_.EdgeCount(), 0) << polls;
  }
  const GraphLoadResult r = LoadGraph(doc_, graph.bytes.data(), graph.bytes.size(), [] { return false; });
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.interrupted);
  EXPECT_EQ(doc_.NodeCount(), 300);
}

TEST_F(GraphFile, RandomBytesNeverCrashAndFailCleanly) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> b(rng() % 200);
    for (auto& v : b) v = static_cast<uint8_t>(rng());
    if (b.size() >= 12 && round % 2 == 0) {
      b[8] = static_cast<uint8_t>(rng() % 3);  // small node counts reach the node records
      b[9] = b[10] = b[11] = 0;
    }
    const GraphLoadResult r = LoadGraph(doc_, b.data(), b.size());
    if (!r.ok) {
      EXPECT_FALSE(r.error.empty());
      EXPECT_EQ(doc_.NodeCount(), 0);
    }
  }
}

TEST_F(GraphFile, FilesOnDisk) {
  const std::string dir = vorlan::test::TempDir("graphfile");
  FilterNode& n = AddNode(doc_, kValidId);
  ASSERT_EQ(ApplyText(n, "x"), Ok);
  std::string error;
  ASSERT_TRUE(SaveGraphFile(doc_, dir + "/g.gph", error)) << error;
  EXPECT_FALSE(SaveGraphFile(doc_, dir + "/missing/g.gph", error));
  const GraphLoadResult r = LoadGraphFile(doc_, dir + "/g.gph");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(doc_.NodeCount(), 1);
  const GraphLoadResult missing = LoadGraphFile(doc_, dir + "/none.gph");
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(doc_.NodeCount(), 0);
}

// A save killed before its rename leaves NAME.saving-PID; the next save of
// that file removes the leftovers of dead processes only.
TEST_F(GraphFile, SavingRemovesTemporariesOfDeadSaves) {
  namespace fs = std::filesystem;
  const fs::path dir = vorlan::test::TempDir("graphsaving");
  const fs::path target = dir / "g.gph";
  const pid_t parent = ::getppid();  // alive while the test runs
  const std::vector<fs::path> dead = {dir / "g.gph.saving-999999999"};
  const std::vector<fs::path> kept = {dir / ("g.gph.saving-" + std::to_string(parent)), dir / "g.gph.saving-12x",
                                      dir / "other.gph.saving-999999999"};
  for (const fs::path& p : dead) std::ofstream(p) << "half";
  for (const fs::path& p : kept) std::ofstream(p) << "half";
  FilterNode& n = AddNode(doc_, kValidId);
  ASSERT_EQ(ApplyText(n, "x"), Ok);
  std::string error;
  ASSERT_TRUE(SaveGraphFile(doc_, target.string(), error)) << error;
  for (const fs::path& p : dead) EXPECT_FALSE(fs::exists(p)) << p;
  for (const fs::path& p : kept) EXPECT_TRUE(fs::exists(p)) << p;
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, kept.size() + 1);
  ASSERT_TRUE(LoadGraphFile(doc_, target.string()).ok);
  EXPECT_EQ(doc_.NodeCount(), 1);
}

}  // namespace
}  // namespace vorlan::host::test
