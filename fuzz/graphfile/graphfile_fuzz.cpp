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
#include "in_process_registry.h"

namespace {

using namespace vorlan;
using namespace vorlan::testplugins;

const host::Registry& FuzzRegistry() { return InProcessRegistry(); }

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

}  // namespace

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
