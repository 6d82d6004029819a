// Undo on a graph of `n` relays in a chain behind a source. The edit is a
// move of one node; an undo step records the graph before and after it, and
// undoing restores the earlier image. Reloading the whole graph from its
// bytes is what restoring would cost without reconciliation.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/graph_document.h"
#include "core/graph_file.h"
#include "core/graph_image.h"
#include "core/layout.h"
#include "in_process_registry.h"

namespace {

using namespace vorlan;

struct Chain {
  explicit Chain(int n) : doc(testplugins::InProcessRegistry(), measure) {
    const host::Registry& registry = doc.registry();
    const int32_t source = registry.FindPrototypeByFilterId(testplugins::TestSource::kInfo.id)->id;
    const int32_t relay = registry.FindPrototypeByFilterId(testplugins::TestRelay::kInfo.id)->id;
    int32_t previous = doc.Node(doc.InsertNode(source))->nodeId;
    for (int i = 0; i < n; ++i) {
      const int32_t id = doc.Node(doc.InsertNode(relay))->nodeId;
      doc.InsertEdge(previous, i == 0 ? 2 : 3, id, 2);
      previous = id;
    }
  }
  host::FixedTextMeasure measure;
  host::GraphDocument doc;
};

void RecordEdit(benchmark::State& state) {
  Chain chain(static_cast<int>(state.range(0)));
  std::string error;
  for (auto _ : state) {
    host::GraphImage before, after;
    host::CaptureGraph(chain.doc, before, error);
    chain.doc.MoveNode(*chain.doc.Node(1), 10, 0);
    host::CaptureGraph(chain.doc, after, error);
    benchmark::DoNotOptimize(before == after);
  }
}

void UndoByRestore(benchmark::State& state) {
  Chain chain(static_cast<int>(state.range(0)));
  std::string error;
  host::GraphImage before, after;
  host::CaptureGraph(chain.doc, before, error);
  chain.doc.MoveNode(*chain.doc.Node(1), 10, 0);
  host::CaptureGraph(chain.doc, after, error);
  for (auto _ : state) {
    host::RestoreGraph(chain.doc, before, error);
    host::RestoreGraph(chain.doc, after, error);
  }
}

void UndoByReload(benchmark::State& state) {
  Chain chain(static_cast<int>(state.range(0)));
  std::string error;
  std::vector<uint8_t> before, after;
  host::SaveGraph(chain.doc, before, error);
  chain.doc.MoveNode(*chain.doc.Node(1), 10, 0);
  host::SaveGraph(chain.doc, after, error);
  for (auto _ : state) {
    host::LoadGraph(chain.doc, before.data(), before.size());
    host::LoadGraph(chain.doc, after.data(), after.size());
  }
}

BENCHMARK(RecordEdit)->Arg(50)->Arg(500);
BENCHMARK(UndoByRestore)->Arg(50)->Arg(500);
BENCHMARK(UndoByReload)->Arg(50)->Arg(500);

}  // namespace

BENCHMARK_MAIN();
