#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
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

}  // namespace
}  // namespace vorlan::host::test
