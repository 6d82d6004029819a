// A graph file's content held as plain records, without creating filters:
// the form in which edits are remembered for undo and nodes travel through
// the clipboard. The bytes are exactly those of a graph file, so what the
// clipboard holds can also be saved or loaded as a .gph file.
//
// [user-interface thread, no run active] for everything that touches a
// document; ParseGraphImage and GraphImageBytes are pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vorlan::host {

class GraphDocument;

struct NodeRecord {
  int32_t filterId = 0;
  int32_t nodeId = 0;
  std::string caption;
  int32_t x = 0;
  int32_t y = 0;
  std::vector<uint8_t> settings;  // Serialized form
  bool operator==(const NodeRecord&) const = default;
};

struct EdgeRecord {
  int32_t fromNode = 0;
  int32_t fromPin = 0;
  int32_t toNode = 0;
  int32_t toPin = 0;
  bool operator==(const EdgeRecord&) const = default;
};

struct GraphImage {
  int32_t originX = 0;
  int32_t originY = 0;
  std::vector<NodeRecord> nodes;  // in node list order
  std::vector<EdgeRecord> edges;  // in edge list order
  bool operator==(const GraphImage&) const = default;
};

// Reads graph file bytes with the checks of the loader: counts bounded by
// the bytes present, caption lengths 0..255, positions within
// kMaxCoordinate, node ids positive and distinct. False with `error`.
bool ParseGraphImage(const uint8_t* data, size_t size, GraphImage& image, std::string& error);
std::vector<uint8_t> GraphImageBytes(const GraphImage& image);

// The document as an image (through the graph file writer).
bool CaptureGraph(GraphDocument& document, GraphImage& image, std::string& error);

// Brings the document to the image's nodes, settings and edges while keeping
// the filters of nodes whose id and filter id both survive (their settings
// are applied only when they differ), so open windows and run results of
// untouched nodes stay. The document's origin is kept: scrolling is not an
// edit. Refused (false) while a run uses the filters.
bool RestoreGraph(GraphDocument& document, const GraphImage& image, std::string& error);

// The nodes with the given ids (in list order) and the edges among them.
GraphImage CopyNodes(GraphDocument& document, const std::set<int32_t>& nodeIds, std::string& error);

// Adds the image's nodes with fresh ids, shifted by (dx, dy), and the edges
// among them; appends the new ids to `newIds`. All or nothing: on failure
// the nodes added so far are removed again.
bool PasteNodes(GraphDocument& document, const GraphImage& image, int32_t dx, int32_t dy,
                std::vector<int32_t>& newIds, std::string& error);

}  // namespace vorlan::host
