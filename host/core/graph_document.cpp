#include "core/graph_document.h"

#include <algorithm>
#include <new>

#include "core/graph_runner.h"

namespace vorlan::host {

std::string TruncateUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t cut = maxBytes;
  // Step back over continuation bytes to the start of the cut sequence.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut));
}

FilterNode::~FilterNode() {
  if (filter == nullptr) return;
  filter->Deinitialize();
  if (destroy != nullptr) destroy(filter, prototypeIndex);
  filter = nullptr;
}

std::string FilterNode::FailureReason() const {
  if (filter == nullptr || library == nullptr || library->entry.failureReason == nullptr) return {};
  const char* reason = library->entry.failureReason(filter);
  return reason != nullptr ? std::string(reason) : std::string();
}

GraphDocument::GraphDocument(const Registry& registry, const TextMeasure& measure)
    : registry_(registry), measure_(measure), run_(std::make_unique<RunController>(*this)) {}

GraphDocument::~GraphDocument() {
  run_->Shutdown();
  edges_.Clear();
  nodes_.Clear();
}

bool GraphDocument::Busy() const { return run_->IsBusy(); }

void GraphDocument::Clear() {
  run_->Shutdown();
  edges_.Clear();
  nodes_.Clear();
  originX = originY = 0;
  cascadeX = cascadeY = 10;
  folder.clear();
}

int32_t GraphDocument::InsertNode(int32_t prototypeId) {
  if (registry_.FindPrototype(prototypeId) == nullptr) return -1;
  const int32_t nodeId = NextNodeId();
  if (nodeId < 0) return -1;
  return InsertNodeWithId(prototypeId, nodeId);
}

int32_t GraphDocument::InsertNodeWithId(int32_t prototypeId, int32_t nodeId) {
  const FilterPrototype* prototype = registry_.FindPrototype(prototypeId);
  if (prototype == nullptr) return -1;
  std::unique_ptr<FilterNode> node(new (std::nothrow) FilterNode());
  if (node == nullptr) return -1;
  const FilterLibrary* library = prototype->library;
  Filter* filter = library->entry.create(prototype->index);
  if (filter == nullptr) return -1;
  if (filter->Initialize() != Ok) {
    filter->Deinitialize();
    library->entry.destroy(filter, prototype->index);
    return -1;
  }
  // From here the node owns the filter and destroys it on every failure.
  node->filter = filter;
  node->library = library;
  node->destroy = library->entry.destroy;
  node->prototypeIndex = prototype->index;
  node->prototypeId = prototype->id;
  node->caption = TruncateUtf8(prototype->info.name != nullptr ? prototype->info.name : "", kMaxCaptionBytes);
  node->nodeId = nodeId;
  node->x = cascadeX;
  node->y = cascadeY;
  cascadeX += 30;
  cascadeY += 30;
  if (cascadeX > 500) cascadeX = 10;
  if (cascadeY > 500) cascadeY = 10;
  if (!LayoutNode(*node)) return -1;
  return nodes_.Append(std::move(node));
}

int32_t GraphDocument::RemoveNode(int32_t nodeId) {
  if (Busy()) return 0;
  const int32_t index = NodeIndex(nodeId);
  if (index < 0) return 0;
  nodes_.RemoveAt(index);
  RemoveEdgesOfNode(nodeId);
  return 1;
}

bool GraphDocument::EdgeEnds(GraphEdge& edge) const {
  return EdgeEnds(edge, NodeById(edge.fromNode), NodeById(edge.toNode));
}

bool GraphDocument::EdgeEnds(GraphEdge& edge, const FilterNode* from, const FilterNode* to) {
  if (from == nullptr || to == nullptr) return false;
  const auto& fromRects = from->geometry.pinRects;
  const auto& toRects = to->geometry.pinRects;
  if (edge.fromPin < 0 || static_cast<size_t>(edge.fromPin) >= fromRects.size()) return false;
  if (edge.toPin < 0 || static_cast<size_t>(edge.toPin) >= toRects.size()) return false;
  if (edge.fromPin >= from->filter->pinCount || edge.toPin >= to->filter->pinCount) return false;
  const Rect& a = fromRects[static_cast<size_t>(edge.fromPin)];
  const Rect& b = toRects[static_cast<size_t>(edge.toPin)];
  edge.fromX = (a.left + a.right) / 2;
  edge.fromY = (a.top + a.bottom) / 2;
  edge.toX = (b.left + b.right) / 2;
  edge.toY = (b.top + b.bottom) / 2;
  return true;
}

int32_t GraphDocument::InsertEdge(int32_t fromNode, int32_t fromPin, int32_t toNode, int32_t toPin) {
  std::unique_ptr<GraphEdge> edge(new (std::nothrow) GraphEdge());
  if (edge == nullptr || NextEdgeId() < 0) return -1;
  edge->edgeId = NextEdgeId();
  edge->fromNode = fromNode;
  edge->fromPin = fromPin;
  edge->toNode = toNode;
  edge->toPin = toPin;
  if (!EdgeEnds(*edge)) return -1;
  return edges_.Append(std::move(edge));
}

int32_t GraphDocument::InsertEdgeBetween(const FilterNode& from, int32_t fromPin, const FilterNode& to, int32_t toPin,
                                         int32_t edgeId) {
  std::unique_ptr<GraphEdge> edge(new (std::nothrow) GraphEdge());
  if (edge == nullptr || edgeId < 1) return -1;
  edge->edgeId = edgeId;
  edge->fromNode = from.nodeId;
  edge->fromPin = fromPin;
  edge->toNode = to.nodeId;
  edge->toPin = toPin;
  if (!EdgeEnds(*edge, &from, &to)) return -1;
  return edges_.Append(std::move(edge));
}

bool GraphDocument::Reserve(int32_t nodes, int32_t edges) {
  const bool roomForNodes = nodes_.Reserve(nodes);
  return edges_.Reserve(edges) && roomForNodes;
}

int32_t GraphDocument::RemoveEdge(int32_t edgeId) { return edges_.RemoveAt(EdgeIndex(edgeId)); }

void GraphDocument::RemoveEdgesOfNode(int32_t nodeId) {
  for (int32_t i = 0; i < edges_.Count();) {
    const GraphEdge* e = edges_.Get(i);
    if (e->fromNode == nodeId || e->toNode == nodeId) {
      edges_.RemoveAt(i);  // the last edge moved here: look at index i again
    } else {
      ++i;
    }
  }
}

void GraphDocument::RevalidateEdgesOfNode(int32_t nodeId) {
  for (int32_t i = 0; i < edges_.Count();) {
    GraphEdge* e = edges_.Get(i);
    if ((e->fromNode == nodeId || e->toNode == nodeId) && !EdgeEnds(*e)) {
      edges_.RemoveAt(i);
    } else {
      ++i;
    }
  }
}

bool GraphDocument::LayoutNode(FilterNode& node) {
  return host::LayoutNode(node.x, node.y, node.caption, node.filter->pins, node.filter->pinCount, measure_,
                          node.geometry);
}

bool GraphDocument::SetCaption(FilterNode& node, std::string_view caption) {
  node.caption = TruncateUtf8(caption, kMaxCaptionBytes);
  return RefreshNode(node);
}

bool GraphDocument::RefreshNode(FilterNode& node) {
  const bool laidOut = LayoutNode(node);
  RevalidateEdgesOfNode(node.nodeId);
  return laidOut;
}

void GraphDocument::OrderNodes(const std::vector<int32_t>& nodeIds) {
  int32_t next = 0;
  for (const int32_t id : nodeIds) {
    const int32_t index = NodeIndex(id);
    if (index < next) continue;  // unknown, or already placed (a repeated id)
    nodes_.Swap(next, index);
    ++next;
  }
}

void GraphDocument::MoveNode(FilterNode& node, int32_t dx, int32_t dy) {
  node.x += dx;
  node.y += dy;
  NodeGeometry& g = node.geometry;
  g.box = Rect{g.box.left + dx, g.box.top + dy, g.box.right + dx, g.box.bottom + dy};
  g.captionX += dx;
  g.captionY += dy;
  for (Rect& r : g.pinRects) r = Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

void GraphDocument::MoveEdgeEndsOfNode(const FilterNode& node, int32_t dx, int32_t dy) {
  for (int32_t i = 0; i < edges_.Count(); ++i) {
    GraphEdge* e = edges_.Get(i);
    if (e->fromNode == node.nodeId) {
      e->fromX += dx;
      e->fromY += dy;
    }
    if (e->toNode == node.nodeId) {
      e->toX += dx;
      e->toY += dy;
    }
  }
}

bool GraphDocument::ResetAllFilters() {
  if (Busy()) return false;
  for (int32_t i = 0; i < nodes_.Count(); ++i) nodes_.Get(i)->filter->Reset();
  return true;
}

FilterNode* GraphDocument::NodeById(int32_t nodeId) const { return nodes_.Get(NodeIndex(nodeId)); }

int32_t GraphDocument::NodeIndex(int32_t nodeId) const {
  for (int32_t i = 0; i < nodes_.Count(); ++i) {
    if (nodes_.Get(i)->nodeId == nodeId) return i;
  }
  return -1;
}

int32_t GraphDocument::EdgeIndex(int32_t edgeId) const {
  for (int32_t i = 0; i < edges_.Count(); ++i) {
    if (edges_.Get(i)->edgeId == edgeId) return i;
  }
  return -1;
}

FilterNode* GraphDocument::NodeByFilter(const Filter* filter) const {
  for (int32_t i = 0; i < nodes_.Count(); ++i) {
    if (nodes_.Get(i)->filter == filter) return nodes_.Get(i);
  }
  return nullptr;
}

int32_t GraphDocument::NextNodeId() const {
  int32_t largest = 0;
  for (int32_t i = 0; i < nodes_.Count(); ++i) largest = std::max(largest, nodes_.Get(i)->nodeId);
  return largest == INT32_MAX ? -1 : largest + 1;
}

int32_t GraphDocument::NextEdgeId() const {
  int32_t largest = 0;
  for (int32_t i = 0; i < edges_.Count(); ++i) largest = std::max(largest, edges_.Get(i)->edgeId);
  return largest == INT32_MAX ? -1 : largest + 1;
}

}  // namespace vorlan::host
