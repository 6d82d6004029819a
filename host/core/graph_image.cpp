#include "core/graph_image.h"

#include <algorithm>
#include <map>
#include <new>

#include "core/graph_bytes.h"
#include "core/graph_document.h"
#include "core/graph_file.h"
#include "core/graph_runner.h"
#include "vorlan/contract.h"

namespace vorlan::host {

namespace {

constexpr size_t kMinNodeRecordBytes = 4 * 3 + 1 + 4 * 3;
constexpr size_t kEdgeRecordBytes = 16;

bool OutOfRange(int32_t v) { return v < -kMaxCoordinate || v > kMaxCoordinate; }

// The filter's settings in Serialized form; the packet goes back to its library.
std::vector<uint8_t> SettingsOf(const FilterNode& node) {
  Packet packet = node.filter->GetConfig(ConfigForm::Serialized);
  std::vector<uint8_t> bytes;
  if (packet.data != nullptr && packet.length > 0) {
    const auto* p = static_cast<const uint8_t*>(packet.data);
    bytes.assign(p, p + packet.length);
  }
  if (packet.data != nullptr && node.library != nullptr && node.library->entry.releaseConfig != nullptr)
    node.library->entry.releaseConfig(packet);
  return bytes;
}

bool ApplySettings(FilterNode& node, const std::vector<uint8_t>& settings, std::string& error) {
  // The filter reads from its own copy; it keeps what it needs.
  std::vector<uint8_t> copy = settings;
  uint8_t empty = 0;
  const Packet packet =
      MakePacket(static_cast<int32_t>(copy.size()), PacketType::Config, copy.empty() ? &empty : copy.data());
  if (node.filter->ApplyConfig(packet, ConfigForm::Serialized) == Ok) return true;
  error = "filter \"" + node.caption + "\" refused its settings";
  const std::string reason = node.FailureReason();
  if (!reason.empty()) error += ": " + reason;
  return false;
}

// Caption, position and settings of a record onto an existing node; lays
// the node out again only when one of them changed. `changed` tells which.
bool ApplyRecord(GraphDocument& document, FilterNode& node, const NodeRecord& record, int32_t dx, int32_t dy,
                 bool& changed, std::string& error) {
  const std::string caption = TruncateUtf8(record.caption, kMaxCaptionBytes);
  changed = caption != node.caption || node.x != record.x + dx || node.y != record.y + dy;
  node.caption = caption;
  node.x = record.x + dx;
  node.y = record.y + dy;
  if (SettingsOf(node) != record.settings) {
    if (!ApplySettings(node, record.settings, error)) return false;
    changed = true;
  }
  if (changed && !document.LayoutNode(node)) {
    error = "out of memory";
    return false;
  }
  return true;
}

bool SameEdges(const GraphDocument& document, const std::vector<EdgeRecord>& edges) {
  if (static_cast<size_t>(document.EdgeCount()) != edges.size()) return false;
  for (int32_t i = 0; i < document.EdgeCount(); ++i) {
    const GraphEdge& e = *document.Edge(i);
    if (!(EdgeRecord{e.fromNode, e.fromPin, e.toNode, e.toPin} == edges[static_cast<size_t>(i)])) return false;
  }
  return true;
}

int32_t CreateNode(GraphDocument& document, int32_t filterId, std::string& error) {
  const FilterPrototype* prototype = document.registry().FindPrototypeByFilterId(filterId);
  if (prototype == nullptr) {
    error = "no loaded library offers filter id " + std::to_string(filterId);
    return -1;
  }
  const int32_t index = document.InsertNode(prototype->id);
  if (index < 0) error = "the filter \"" + std::string(prototype->info.name) + "\" could not be created";
  return index;
}

}  // namespace

bool ParseGraphImage(const uint8_t* data, size_t size, GraphImage& image, std::string& error) {
  ByteReader in(data, size);
  GraphImage out;
  int32_t nodeCount = 0;
  if (!in.Int32(out.originX) || !in.Int32(out.originY) || !in.Int32(nodeCount)) {
    error = "the data ends early";
    return false;
  }
  if (OutOfRange(out.originX) || OutOfRange(out.originY)) {
    error = "the origin lies outside the drawable range";
    return false;
  }
  if (nodeCount < 0 || static_cast<size_t>(nodeCount) > in.Remaining() / kMinNodeRecordBytes) {
    error = "node count " + std::to_string(nodeCount) + " does not match the data";
    return false;
  }
  std::set<int32_t> ids;
  for (int32_t n = 0; n < nodeCount; ++n) {
    const std::string which = "node record " + std::to_string(n + 1) + ": ";
    NodeRecord node;
    int32_t captionLength = 0, settingsLength = 0;
    const uint8_t* caption = nullptr;
    const uint8_t* zero = nullptr;
    const uint8_t* settings = nullptr;
    if (!in.Int32(node.filterId) || !in.Int32(node.nodeId) || !in.Int32(captionLength)) {
      error = which + "the data ends early";
      return false;
    }
    if (node.nodeId < 1 || !ids.insert(node.nodeId).second) {
      error = which + "invalid or repeated node id " + std::to_string(node.nodeId);
      return false;
    }
    if (captionLength < 0 || static_cast<size_t>(captionLength) > kMaxCaptionBytes ||
        !in.Bytes(static_cast<size_t>(captionLength), caption) || !in.Bytes(1, zero)) {
      error = which + "bad caption";
      return false;
    }
    node.caption.assign(reinterpret_cast<const char*>(caption), static_cast<size_t>(captionLength));
    if (!in.Int32(node.x) || !in.Int32(node.y) || !in.Int32(settingsLength)) {
      error = which + "the data ends early";
      return false;
    }
    if (OutOfRange(node.x) || OutOfRange(node.y)) {
      error = which + "the position lies outside the drawable range";
      return false;
    }
    if (settingsLength < 0 || !in.Bytes(static_cast<size_t>(settingsLength), settings)) {
      error = which + "settings length " + std::to_string(settingsLength) + " exceeds the data";
      return false;
    }
    node.settings.assign(settings, settings + settingsLength);
    out.nodes.push_back(std::move(node));
  }
  int32_t edgeCount = 0;
  if (!in.Int32(edgeCount) || edgeCount < 0 || static_cast<size_t>(edgeCount) > in.Remaining() / kEdgeRecordBytes) {
    error = "bad edge count";
    return false;
  }
  for (int32_t e = 0; e < edgeCount; ++e) {
    EdgeRecord edge;
    in.Int32(edge.fromNode);
    in.Int32(edge.fromPin);
    in.Int32(edge.toNode);
    in.Int32(edge.toPin);
    out.edges.push_back(edge);
  }
  image = std::move(out);
  return true;
}

std::vector<uint8_t> GraphImageBytes(const GraphImage& image) {
  std::vector<uint8_t> out;
  PutInt32(out, image.originX);
  PutInt32(out, image.originY);
  PutInt32(out, static_cast<int32_t>(image.nodes.size()));
  for (const NodeRecord& node : image.nodes) {
    PutInt32(out, node.filterId);
    PutInt32(out, node.nodeId);
    PutInt32(out, static_cast<int32_t>(node.caption.size()));
    out.insert(out.end(), node.caption.begin(), node.caption.end());
    out.push_back(0);
    PutInt32(out, node.x);
    PutInt32(out, node.y);
    PutInt32(out, static_cast<int32_t>(node.settings.size()));
    out.insert(out.end(), node.settings.begin(), node.settings.end());
  }
  PutInt32(out, static_cast<int32_t>(image.edges.size()));
  for (const EdgeRecord& edge : image.edges) {
    PutInt32(out, edge.fromNode);
    PutInt32(out, edge.fromPin);
    PutInt32(out, edge.toNode);
    PutInt32(out, edge.toPin);
  }
  return out;
}

bool CaptureGraph(GraphDocument& document, GraphImage& image, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!SaveGraph(document, bytes, error)) return false;
  return ParseGraphImage(bytes.data(), bytes.size(), image, error);
}

bool RestoreGraph(GraphDocument& document, const GraphImage& image, std::string& error) {
  if (document.Run().IsBusy()) {
    error = "a run is using the filters";
    return false;
  }
  try {
    std::map<int32_t, const NodeRecord*> wanted;
    for (const NodeRecord& record : image.nodes) wanted[record.nodeId] = &record;
    // Nodes that are gone, or whose id now names another filter, go first,
    // so the ids of the image are free when the missing nodes are created.
    for (int32_t i = document.NodeCount() - 1; i >= 0; --i) {
      const FilterNode& node = *document.Node(i);
      const auto it = wanted.find(node.nodeId);
      if (it == wanted.end() || it->second->filterId != node.filter->info.id) document.RemoveNode(node.nodeId);
    }
    // Most undo steps touch a node or two: keep the edges when they are the
    // same list and only move the ends at nodes that changed.
    const bool sameEdges = SameEdges(document, image.edges);
    if (!sameEdges) document.ClearEdges();
    std::map<int32_t, FilterNode*> present;
    for (int32_t i = 0; i < document.NodeCount(); ++i) present[document.Node(i)->nodeId] = document.Node(i);
    std::vector<int32_t> order;
    std::vector<int32_t> changedIds;
    for (const NodeRecord& record : image.nodes) {
      const auto it = present.find(record.nodeId);
      FilterNode* node = it != present.end() ? it->second : nullptr;
      bool changed = false;
      if (node == nullptr) {
        const int32_t index = CreateNode(document, record.filterId, error);
        if (index < 0) return false;
        node = document.Node(index);
        node->nodeId = record.nodeId;
        changed = true;
      }
      bool edited = false;
      if (!ApplyRecord(document, *node, record, 0, 0, edited, error)) return false;
      if (changed || edited) changedIds.push_back(record.nodeId);
      order.push_back(record.nodeId);
    }
    bool ordered = document.NodeCount() == static_cast<int32_t>(order.size());
    for (size_t i = 0; ordered && i < order.size(); ++i) ordered = document.Node(static_cast<int32_t>(i))->nodeId == order[i];
    if (!ordered) document.OrderNodes(order);
    if (sameEdges) {
      for (const int32_t id : changedIds) document.RevalidateEdgesOfNode(id);
      if (!SameEdges(document, image.edges)) {
        error = "an edge names a pin that does not exist";
        return false;
      }
    } else {
      for (const EdgeRecord& edge : image.edges) {
        if (document.InsertEdge(edge.fromNode, edge.fromPin, edge.toNode, edge.toPin) < 0) {
          error = "an edge names a node or pin that does not exist";
          return false;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  return true;
}

GraphImage CopyNodes(GraphDocument& document, const std::set<int32_t>& nodeIds, std::string& error) {
  GraphImage all;
  GraphImage part;
  if (!CaptureGraph(document, all, error)) return part;
  part.originX = all.originX;
  part.originY = all.originY;
  for (NodeRecord& node : all.nodes)
    if (nodeIds.count(node.nodeId) != 0) part.nodes.push_back(std::move(node));
  for (const EdgeRecord& edge : all.edges)
    if (nodeIds.count(edge.fromNode) != 0 && nodeIds.count(edge.toNode) != 0) part.edges.push_back(edge);
  return part;
}

bool PasteNodes(GraphDocument& document, const GraphImage& image, int32_t dx, int32_t dy,
                std::vector<int32_t>& newIds, std::string& error) {
  if (document.Run().IsBusy()) {
    error = "a run is using the filters";
    return false;
  }
  std::vector<int32_t> added;
  auto undo = [&] {
    for (const int32_t id : added) document.RemoveNode(id);
    return false;
  };
  try {
    std::map<int32_t, int32_t> idOf;
    for (const NodeRecord& record : image.nodes) {
      const int64_t x = int64_t{record.x} + dx;
      const int64_t y = int64_t{record.y} + dy;
      if (x < -kMaxCoordinate || x > kMaxCoordinate || y < -kMaxCoordinate || y > kMaxCoordinate) {
        error = "a pasted node would lie outside the drawable range";
        return undo();
      }
      const int32_t index = CreateNode(document, record.filterId, error);
      if (index < 0) return undo();
      FilterNode& node = *document.Node(index);
      added.push_back(node.nodeId);
      bool changed = false;
      if (!ApplyRecord(document, node, record, dx, dy, changed, error)) return undo();
      idOf[record.nodeId] = node.nodeId;
    }
    for (const EdgeRecord& edge : image.edges) {
      const auto from = idOf.find(edge.fromNode);
      const auto to = idOf.find(edge.toNode);
      if (from == idOf.end() || to == idOf.end()) continue;  // an edge to a node left behind
      if (document.InsertEdge(from->second, edge.fromPin, to->second, edge.toPin) < 0) {
        error = "an edge names a pin that does not exist";
        return undo();
      }
    }
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return undo();
  }
  newIds.insert(newIds.end(), added.begin(), added.end());
  return true;
}

}  // namespace vorlan::host
