// Graphs as text against graph files: exact round trips over the examples
// and over graphs from a writer of the test's own, and refusals that say
// where the text is wrong.
#include "core/graph_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "core/graph_bytes.h"
#include "core/graph_document.h"
#include "core/graph_file.h"
#include "core/layout.h"
#include "core/registry.h"
#include "vorlan/settings_values.h"
#include "support/filter_harness.h"

namespace vorlan::host {
namespace {

namespace fs = std::filesystem;

const Registry& Filters() {
  static const Registry* registry = new Registry(std::string(VORLAN_FILTER_DIR));  // kept loaded, as in the host
  return *registry;
}

std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& bytes, std::string* text = nullptr) {
  GraphFileRecords records;
  std::string error;
  EXPECT_TRUE(ParseGraphBytes(bytes.data(), bytes.size(), records, error)) << error;
  const std::string json = GraphToText(records, Filters());
  if (text != nullptr) *text = json;
  GraphFileRecords back;
  EXPECT_TRUE(GraphFromText(json, Filters(), back, error)) << error << "\n" << json;
  return GraphBytes(back);
}

TEST(GraphText, EveryExampleComesBackByteForByte) {
  int examples = 0;
  for (const auto& entry : fs::directory_iterator(std::string(VORLAN_SOURCE_DIR) + "/examples")) {
    if (entry.path().extension() != ".gph") continue;
    SCOPED_TRACE(entry.path().string());
    const std::vector<uint8_t> bytes = test::ReadFile(entry.path().string());
    std::string text;
    EXPECT_EQ(RoundTrip(bytes, &text), bytes);
    EXPECT_TRUE(IsGraphText(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    EXPECT_FALSE(IsGraphText(bytes.data(), bytes.size()));
    ++examples;
  }
  EXPECT_GE(examples, 8);
}

// Graph files as another program might write them: real and unknown filter
// ids, settings that are short, long, out of range or NaN, captions that
// repeat, hold dots or are not UTF-8, edges to pins and nodes that do not
// exist, bytes after the edges.
TEST(GraphText, GraphsOfAnIndependentWriterComeBackByteForByte) {
  std::mt19937 rng(21);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const int32_t ids[] = {10, 20, 40, 80, 90, 130, 140, 150, 190, 1000, 1020, 1030, 4242};
  const char* captions[] = {"encoder", "grey", "a.b.c", "", "caf\xc3\xa9", "\xff\xfe raw", "encoder", "bmp"};
  int named = 0, opaque = 0;
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> b;
    PutInt32(b, pick(2000) - 1000);
    PutInt32(b, pick(2000) - 1000);
    const int nodes = 1 + pick(8);
    PutInt32(b, nodes);
    for (int n = 0; n < nodes; ++n) {
      const int32_t id = ids[pick(std::size(ids))];
      PutInt32(b, id);
      PutInt32(b, n + 1 + pick(3) * 100);
      const std::string caption = captions[pick(std::size(captions))];
      PutInt32(b, static_cast<int32_t>(caption.size()));
      b.insert(b.end(), caption.begin(), caption.end());
      b.push_back(pick(10) == 0 ? 7 : 0);
      PutInt32(b, pick(4000));
      PutInt32(b, pick(4000));
      std::vector<uint8_t> settings;
      const FilterPrototype* p = Filters().FindPrototypeByFilterId(id);
      if (p != nullptr && p->settings != nullptr && pick(3) != 0) {
        // The filter's own defaults, perhaps cut short or with one word changed.
        std::vector<SettingValue> values = DefaultSettingValues(*p->settings);
        if (!values.empty() && pick(2) == 0) values.resize(static_cast<size_t>(pick(static_cast<int>(values.size()))));
        settings = EncodeSettingValues(*p->settings, values);
        // Random bytes over one 4-byte word: out of range, NaN, half a text.
        if (settings.size() >= 4 && pick(2) == 0) {
          const size_t at = static_cast<size_t>(pick(static_cast<int>(settings.size() / 4))) * 4;
          for (size_t k = 0; k < 4; ++k) settings[at + k] = static_cast<uint8_t>(rng());
        }
        if (pick(5) == 0) settings.push_back(static_cast<uint8_t>(rng()));
      } else {
        for (int k = pick(24); k > 0; --k) settings.push_back(static_cast<uint8_t>(rng()));
      }
      PutInt32(b, static_cast<int32_t>(settings.size()));
      b.insert(b.end(), settings.begin(), settings.end());
    }
    const int edges = pick(6);
    PutInt32(b, edges);
    for (int e = 0; e < edges; ++e) {
      for (int v = 0; v < 4; ++v) PutInt32(b, v % 2 == 0 ? 1 + pick(nodes + 1) : pick(14) - 1);
    }
    for (int k = pick(4) == 0 ? pick(5) : 0; k > 0; --k) b.push_back(static_cast<uint8_t>(rng()));

    std::string text;
    ASSERT_EQ(RoundTrip(b, &text), b) << text;
    for (size_t at = text.find("\"settings\""); at != std::string::npos; at = text.find("\"settings\"", at + 1)) ++named;
    for (size_t at = text.find("\"settingsBytes\""); at != std::string::npos; at = text.find("\"settingsBytes\"", at + 1)) {
      ++opaque;
    }
  }
  EXPECT_GT(named, 5) << "described settings are written by name";
  EXPECT_GT(opaque, 20) << "what a description cannot say is kept as bytes";
}

TEST(GraphText, ADocumentSavedAsTextLoadsBackTheSameGraph) {
  const FixedTextMeasure measure;
  GraphDocument document(Filters(), measure);
  ASSERT_TRUE(LoadGraphFile(document, std::string(VORLAN_SOURCE_DIR) + "/examples/decompress.gph").ok);
  std::vector<uint8_t> saved, again;
  std::string error;
  ASSERT_TRUE(SaveGraph(document, saved, error)) << error;
  const std::string text = test::TempDir("graph-text") + "/d.vgraph.json";
  ASSERT_TRUE(SaveGraphFile(document, text, error, GraphFormat::Text)) << error;
  const std::vector<uint8_t> content = test::ReadFile(text);
  ASSERT_TRUE(IsGraphText(content.data(), content.size()));
  const GraphLoadResult loaded = LoadGraphFile(document, text);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_TRUE(SaveGraph(document, again, error)) << error;
  EXPECT_EQ(again, saved);
}

TEST(GraphText, DamagedOrWrongTextIsRefusedSayingWhere) {
  GraphFileRecords records;
  std::string error;
  EXPECT_FALSE(GraphFromText("{\n  \"format\": \"vorlan-graph\",\n  \"version\": 1,\n  \"nodes\": [,]\n}", Filters(), records, error));
  EXPECT_EQ(error.rfind("line 4, column 13: ", 0), 0u) << error;
  EXPECT_FALSE(GraphFromText("{\"format\": \"vorlan-graph\", \"version\": 1, \"nodes\": [", Filters(), records, error));
  EXPECT_EQ(error.rfind("line 1, column ", 0), 0u) << error;

  const std::string head = "{\"format\": \"vorlan-graph\", \"version\": 1, \"nodes\": [";
  struct Case {
    std::string body;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"], \"edges\": [], \"extra\": 1}", "(top): has the unknown key \"extra\""},
      {"]}", "(top): lacks \"edges\""},
      {"{\"id\": 1, \"filterId\": 130, \"caption\": \"e\", \"x\": 0, \"y\": 0, \"settings\": {\"maxRanges\": 1.5}}], \"edges\": []}",
       "nodes[0].settings.maxRanges: must be a whole number"},
      {"{\"id\": 1, \"filterId\": 130, \"caption\": \"e\", \"x\": 0, \"y\": 0, \"settings\": {\"mode\": \"best\"}}], \"edges\": []}",
       "nodes[0].settings.mode: "},
      {"{\"id\": 1, \"filter\": \"No such\", \"caption\": \"e\", \"x\": 0, \"y\": 0}], \"edges\": []}",
       "nodes[0].filter: no loaded library offers"},
      {"{\"id\": 1, \"filterId\": 130, \"caption\": \"e\", \"x\": 0, \"y\": 3000000000}], \"edges\": []}",
       "nodes[0].y: must fit a 32-bit integer"},
      {"{\"id\": 1, \"filterId\": 130, \"caption\": \"e\", \"x\": 0, \"y\": 0}], \"edges\": "
       "[{\"from\": {\"node\": \"e\", \"pin\": \"HDR\"}, \"to\": {\"node\": \"f\", \"pin\": 2}}]}",
       "edges[0].to.node: no node is captioned \"f\""},
      {"{\"id\": 1, \"filterId\": 130, \"caption\": \"e\", \"x\": 0, \"y\": 0}], \"edges\": "
       "[{\"from\": {\"node\": \"e\", \"pin\": \"Out\"}, \"to\": {\"node\": 1, \"pin\": 2}}]}",
       "edges[0].from.pin: the node has no pin \"Out\"; its pins are: \"Cfg in\", \"Cfg out\", \"In\", \"HDR\""},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(GraphFromText(head + c.body, Filters(), records, error)) << c.body;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  EXPECT_FALSE(GraphFromText("{\"format\": \"vorlan-graph\", \"version\": 2, \"nodes\": [], \"edges\": []}", Filters(),
                             records, error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;

  // Settings left out before the last one given take their defaults; none
  // given is the empty stream a graph file may hold.
  ASSERT_TRUE(GraphFromText(head + "{\"id\": 1, \"filterId\": 130, \"caption\": \"e\", \"x\": 0, \"y\": 0, "
                                   "\"settings\": {\"maxRanges\": 7}}, {\"id\": 2, \"filterId\": 130, \"caption\": "
                                   "\"f\", \"x\": 0, \"y\": 0}], \"edges\": []}",
                            Filters(), records, error))
      << error;
  ASSERT_EQ(records.nodes.size(), 2u);
  EXPECT_EQ(records.nodes[0].settings.size(), 16u);
  EXPECT_EQ(records.nodes[0].settings[12], 7);
  EXPECT_EQ(records.nodes[0].settings[4], 0) << "maxError at its default, 30.0f";
  EXPECT_EQ(records.nodes[0].settings[7], 0x41);
  EXPECT_TRUE(records.nodes[1].settings.empty());
}

}  // namespace
}  // namespace vorlan::host
