// Shared pieces of the host core tests: a registry over the test plug-ins
// and helpers to build documents from them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/graph_document.h"
#include "core/layout.h"
#include "core/registry.h"
#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan::host::test {

// Filter ids of the test plug-ins.
inline constexpr int32_t kValidId = 9001;
inline constexpr int32_t kSourceId = 9101;
inline constexpr int32_t kRelayId = 9102;
inline constexpr int32_t kWorkerId = 9103;

// Modes of the test worker (first int32 of its settings; the second is
// milliseconds of work for kWorkForMillis).
inline constexpr int32_t kWorkForMillis = 0;
inline constexpr int32_t kFailOnRequest = 1;
inline constexpr int32_t kOutOfMemory = 2;
inline constexpr int32_t kWildProgress = 3;

inline const Registry& TestRegistry() {
  static const Registry registry(VORLAN_TEST_PLUGIN_DIR);
  return registry;
}

// Inserts a node of the first prototype with `filterId`; returns the node.
inline FilterNode& AddNode(GraphDocument& doc, int32_t filterId) {
  const FilterPrototype* p = doc.registry().FindPrototypeByFilterId(filterId);
  EXPECT_NE(p, nullptr) << "no test prototype with filter id " << filterId;
  const int32_t index = doc.InsertNode(p != nullptr ? p->id : -1);
  EXPECT_GE(index, 0);
  return *doc.Node(index);
}

// Applies two int32 settings in Serialized form (source and worker settings).
inline Result ApplyInts(FilterNode& node, int32_t a, int32_t b) {
  ConfigWriter out;
  out.Int32(a);
  out.Int32(b);
  const Packet p = MakePacket(static_cast<int32_t>(out.Bytes().size()), PacketType::Config,
                              const_cast<uint8_t*>(out.Bytes().data()));
  return node.filter->ApplyConfig(p, ConfigForm::Serialized);
}

inline Result ApplyText(FilterNode& node, const std::string& text) {
  ConfigWriter out;
  out.Text(text);
  const Packet p = MakePacket(static_cast<int32_t>(out.Bytes().size()), PacketType::Config,
                              const_cast<uint8_t*>(out.Bytes().data()));
  return node.filter->ApplyConfig(p, ConfigForm::Serialized);
}

// A document over the test plug-ins with the fixed text metric.
class DocumentTest : public ::testing::Test {
 protected:
  // a_valid (1 prototype) and c_multi (3); d_duplicate is refused for its id.
  void SetUp() override { ASSERT_EQ(TestRegistry().PrototypeCount(), 4) << "test plug-ins missing"; }
  FixedTextMeasure measure_;
  GraphDocument doc_{TestRegistry(), measure_};
};

}  // namespace vorlan::host::test
