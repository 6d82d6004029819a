// The document's filter graph: nodes (each owning one Filter created from a
// prototype), edges between their pins, the view origin and the cascade
// position for new nodes. GUI-free.
//
// Thread rules: every member is called on one thread (the user-interface
// thread). While a run is active the worker thread calls Process on the
// nodes' filters; operations that would destroy or reset a filter refuse
// (RemoveNode, ResetAllFilters) or first end the run (Clear).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/layout.h"
#include "core/pointer_list.h"
#include "core/registry.h"
#include "vorlan/contract.h"

namespace vorlan::host {

class RunController;

// Captions hold at most this many bytes of UTF-8.
inline constexpr size_t kMaxCaptionBytes = 255;

// `text` cut to at most `maxBytes` bytes, never inside a UTF-8 sequence.
std::string TruncateUtf8(std::string_view text, size_t maxBytes);

struct FilterNode {
  FilterNode() = default;
  // Deinitializes the filter and destroys it through its library.
  ~FilterNode();
  FilterNode(const FilterNode&) = delete;
  FilterNode& operator=(const FilterNode&) = delete;

  int32_t prototypeId = -1;
  int32_t prototypeIndex = 0;  // passed to DestroyFilter
  int32_t nodeId = -1;
  Filter* filter = nullptr;  // owned; destroyed through `destroy`
  const FilterLibrary* library = nullptr;
  DestroyFilterFn destroy = nullptr;
  std::string caption;
  int32_t x = 0;
  int32_t y = 0;
  NodeGeometry geometry;  // box, caption position, pin squares (layout)

  // Why the filter's last operation failed, "" when the library cannot say.
  std::string FailureReason() const;
};

struct GraphEdge {
  int32_t edgeId = -1;
  int32_t fromNode = -1;  // producer node id
  int32_t fromPin = -1;   // index into its filter's pins
  int32_t toNode = -1;    // consumer node id
  int32_t toPin = -1;
  int32_t fromX = 0, fromY = 0;  // centre of the from pin's square
  int32_t toX = 0, toY = 0;      // centre of the to pin's square
};

class GraphDocument {
 public:
  // Both must outlive the document.
  GraphDocument(const Registry& registry, const TextMeasure& measure);
  // Ends any run, waits for its worker, then destroys every node.
  ~GraphDocument();
  GraphDocument(const GraphDocument&) = delete;
  GraphDocument& operator=(const GraphDocument&) = delete;

  const Registry& registry() const { return registry_; }
  const TextMeasure& measure() const { return measure_; }
  RunController& Run() { return *run_; }
  const RunController& Run() const { return *run_; }

  // New document: kills an active run and waits for its worker (callers on
  // a UI thread wait with RunController::WaitForWorker first so they can keep
  // processing events), destroys all nodes and edges, origin (0, 0),
  // cascade (10, 10), no folder, last run result -1.
  void Clear();

  // Node list index of the new node, or -1 (unknown prototype, CreateFilter
  // returned null, Initialize or the layout failed); nothing is added then.
  int32_t InsertNode(int32_t prototypeId);
  // InsertNode with the node id given instead of the next free one, for a
  // caller that knows its ids are unique (a graph file being loaded): the
  // same creation, caption, cascade position and layout, no search of the
  // node list.
  int32_t InsertNodeWithId(int32_t prototypeId, int32_t nodeId);
  // 1 when removed (with its edges), 0 when no node has the id or a run is
  // using the filters. The last node moves into the freed list slot.
  int32_t RemoveNode(int32_t nodeId);
  // Edge list index, or -1 when a node is missing or a pin index is out of
  // its node's range. Kinds, direction and duplicates are not checked.
  int32_t InsertEdge(int32_t fromNode, int32_t fromPin, int32_t toNode, int32_t toPin);
  // InsertEdge between two nodes the caller has found, with the edge id
  // given (unique, as NextEdgeId would give it): the same checks of the pin
  // indexes, no search of either list.
  int32_t InsertEdgeBetween(const FilterNode& from, int32_t fromPin, const FilterNode& to, int32_t toPin,
                            int32_t edgeId);
  // Room for this many nodes and edges without regrowing the lists; false
  // when memory runs out (the lists then grow as usual).
  bool Reserve(int32_t nodes, int32_t edges);
  int32_t RemoveEdge(int32_t edgeId);
  void RemoveEdgesOfNode(int32_t nodeId);
  // Drops edges of the node whose pin index no longer exists and recomputes
  // the end points of the others.
  void RevalidateEdgesOfNode(int32_t nodeId);

  // Recomputes the node's geometry; false when memory runs out.
  bool LayoutNode(FilterNode& node);
  // Sets the caption (cut to kMaxCaptionBytes at a code-point boundary),
  // lays the node out again and re-validates its edges.
  bool SetCaption(FilterNode& node, std::string_view caption);
  // After the filter's Configure: layout and edge re-validation.
  bool RefreshNode(FilterNode& node);

  // Puts the nodes with these ids first, in this order (the run order);
  // the others follow in their present order. Unknown ids are skipped.
  void OrderNodes(const std::vector<int32_t>& nodeIds);
  // Removes every edge.
  void ClearEdges() { edges_.Clear(); }

  void MoveNode(FilterNode& node, int32_t dx, int32_t dy);
  void MoveEdgeEndsOfNode(const FilterNode& node, int32_t dx, int32_t dy);

  // Calls Reset on every filter in list order; false (nothing done) while a
  // run is using the filters.
  bool ResetAllFilters();

  int32_t NodeCount() const { return nodes_.Count(); }
  FilterNode* Node(int32_t index) const { return nodes_.Get(index); }
  int32_t EdgeCount() const { return edges_.Count(); }
  GraphEdge* Edge(int32_t index) const { return edges_.Get(index); }
  FilterNode* NodeById(int32_t nodeId) const;
  int32_t NodeIndex(int32_t nodeId) const;
  int32_t EdgeIndex(int32_t edgeId) const;
  FilterNode* NodeByFilter(const Filter* filter) const;
  int32_t NextNodeId() const;  // -1 when the ids are exhausted
  int32_t NextEdgeId() const;

  int32_t originX = 0;
  int32_t originY = 0;
  // Folder of the graph file the document was loaded from or last saved to,
  // absolute; "" (the current folder) for a graph never saved. Relative file
  // names in filter settings are taken from it.
  std::string folder;
  int32_t cascadeX = 10;
  int32_t cascadeY = 10;

 private:
  bool EdgeEnds(GraphEdge& edge) const;
  static bool EdgeEnds(GraphEdge& edge, const FilterNode* from, const FilterNode* to);
  bool Busy() const;

  const Registry& registry_;
  const TextMeasure& measure_;
  OwnedList<FilterNode> nodes_;
  OwnedList<GraphEdge> edges_;
  std::unique_ptr<RunController> run_;  // declared last: ends first
};

}  // namespace vorlan::host
