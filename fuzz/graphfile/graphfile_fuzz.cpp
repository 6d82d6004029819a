// Loads arbitrary bytes as a graph file, then saves and reloads what loaded:
// a load either fails with a reason and an empty document, or succeeds and
// its save loads again to the same bytes. The same bytes then arrive as
// clipboard content: a paste succeeds or leaves the graph as it was, and
// restoring the graph from before the paste (undo) gives back its bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/graph_document.h"
#include "core/graph_file.h"
#include "core/graph_image.h"
#include "core/layout.h"
#include "core/registry.h"
#include "test_filters.h"

namespace {

using namespace vorlan;
using namespace vorlan::testplugins;

FilterLibraryInfo LibraryInfo() { return {"Fuzz Library", 1, 0, 4}; }

FilterInfo Info(int32_t index) {
  switch (index) {
    case 0: return TestSource::kInfo;
    case 1: return TestRelay::kInfo;
    case 2: return TestWorker::kInfo;
    case 3: return TestValid::kInfo;
    default: return FilterInfo{"", 0, 0, 0};
  }
}

Filter* Create(int32_t index) {
  switch (index) {
    case 0: return new TestSource();
    case 1: return new TestRelay();
    case 2: return new TestWorker();
    case 3: return new TestValid();
    default: return nullptr;
  }
}

void Destroy(Filter* filter, int32_t index) {
  switch (index) {
    case 0: delete static_cast<TestSource*>(filter); break;
    case 1: delete static_cast<TestRelay*>(filter); break;
    case 2: delete static_cast<TestWorker*>(filter); break;
    case 3: delete static_cast<TestValid*>(filter); break;
    default: break;
  }
}

const char* Reason(Filter* filter) { return static_cast<FilterBase*>(filter)->FailureReason(); }

void Release(Packet packet) { std::free(packet.data); }

const host::Registry& FuzzRegistry() {
  static host::Registry* registry = [] {
    auto* r = new host::Registry();
    r->AddLibrary("fuzz.so", nullptr, host::LibraryEntryPoints{LibraryInfo, Info, Create, Destroy, Reason, Release});
    return r;
  }();
  return *registry;
}

}  // namespace

// Pastes the bytes into `doc` and undoes the paste.
void PasteAndUndo(host::GraphDocument& doc, const uint8_t* data, size_t size, bool loaded) {
  host::GraphImage image;
  std::string error;
  const bool parsed = host::ParseGraphImage(data, size, image, error);
  if (loaded && !parsed) std::abort();  // the clipboard reader accepts what the loader accepts
  if (!parsed) {
    if (error.empty()) std::abort();
    return;
  }
  std::vector<uint8_t> before;
  host::GraphImage beforeImage;
  if (!host::SaveGraph(doc, before, error) || !host::CaptureGraph(doc, beforeImage, error)) std::abort();
  std::vector<int32_t> ids;
  const bool pasted = host::PasteNodes(doc, image, 10, 10, ids, error);
  std::vector<uint8_t> after;
  if (!host::SaveGraph(doc, after, error)) std::abort();
  if (!pasted && after != before) std::abort();  // all or nothing
  if (pasted && ids.size() != image.nodes.size()) std::abort();
  if (!host::RestoreGraph(doc, beforeImage, error)) std::abort();
  if (!host::SaveGraph(doc, after, error) || after != before) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const host::FixedTextMeasure measure;
  host::GraphDocument doc(FuzzRegistry(), measure);
  const host::GraphLoadResult r = host::LoadGraph(doc, data, size);
  PasteAndUndo(doc, data, size, r.ok);
  if (!r.ok) {
    if (r.error.empty() || doc.NodeCount() != 0 || doc.EdgeCount() != 0) std::abort();
    return 0;
  }
  std::vector<uint8_t> saved;
  std::string error;
  if (!host::SaveGraph(doc, saved, error)) std::abort();
  host::GraphDocument again(FuzzRegistry(), measure);
  if (!host::LoadGraph(again, saved.data(), saved.size()).ok) std::abort();
  std::vector<uint8_t> resaved;
  if (!host::SaveGraph(again, resaved, error) || resaved != saved) std::abort();
  return 0;
}
