#include "core/graph_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unordered_map>

#include "core/graph_bytes.h"
#include "core/graph_document.h"
#include "core/graph_text.h"
#include "vorlan/contract.h"

namespace vorlan::host {
namespace {

// Smallest node record: filter id, node id, caption length, zero byte, x, y, settings length.
constexpr int64_t kMinNodeRecordBytes = 4 * 3 + 1 + 4 * 3;
constexpr int64_t kEdgeRecordBytes = 16;
// Edges between two polls of the stop request, and bytes read between two.
constexpr int32_t kEdgesPerPoll = 4096;
constexpr int64_t kBytesPerPoll = int64_t{16} << 20;

}  // namespace

bool SaveGraph(GraphDocument& document, std::vector<uint8_t>& bytes, std::string& error) {
  std::vector<uint8_t> out;
  PutInt32(out, document.originX);
  PutInt32(out, document.originY);
  PutInt32(out, document.NodeCount());
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    const FilterNode& node = *document.Node(i);
    PutInt32(out, node.filter->info.id);
    PutInt32(out, node.nodeId);
    PutInt32(out, static_cast<int32_t>(node.caption.size()));
    out.insert(out.end(), node.caption.begin(), node.caption.end());
    out.push_back(0);
    PutInt32(out, node.x);
    PutInt32(out, node.y);
    Packet settings = node.filter->GetConfig(ConfigForm::Serialized);
    const bool usable = settings.length >= 0 && (settings.length == 0 || settings.data != nullptr);
    if (usable) {
      PutInt32(out, settings.length);
      const auto* p = static_cast<const uint8_t*>(settings.data);
      if (settings.length > 0) out.insert(out.end(), p, p + settings.length);
    }
    // The packet is the library's memory: hand it back when the library can
    // take it, otherwise it stays unreleased.
    if (settings.data != nullptr && node.library != nullptr && node.library->entry.releaseConfig != nullptr) {
      node.library->entry.releaseConfig(settings);
    }
    if (!usable) {
      error = "filter \"" + node.caption + "\" gave no usable settings";
      return false;
    }
  }
  PutInt32(out, document.EdgeCount());
  for (int32_t i = 0; i < document.EdgeCount(); ++i) {
    const GraphEdge& e = *document.Edge(i);
    PutInt32(out, e.fromNode);
    PutInt32(out, e.fromPin);
    PutInt32(out, e.toNode);
    PutInt32(out, e.toPin);
  }
  bytes = std::move(out);
  return true;
}

std::string FolderOf(const std::string& file) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  if (error) return {};
  return absolute.parent_path().lexically_normal().string();
}

bool SaveGraphFile(GraphDocument& document, const std::string& path, std::string& error, GraphFormat format) {
  std::vector<uint8_t> bytes;
  if (!SaveGraph(document, bytes, error)) return false;
  if (format == GraphFormat::Text) {
    GraphFileRecords records;
    if (!ParseGraphBytes(bytes.data(), bytes.size(), records, error)) return false;
    const std::string text = GraphToText(records, document.registry());
    bytes.assign(text.begin(), text.end());
  }
  if (!ReplaceFileContents(path, bytes, error)) return false;
  document.folder = FolderOf(path);
  return true;
}

namespace {

// One pass over the file. Nodes are found by id through a table of their
// own, and ids follow from what was read, so nothing searches the
// document's lists: the same nodes, ids, order, layout and warnings as
// inserting them one by one, in linear time.
bool LoadInto(GraphDocument& document, ByteReader& in, GraphLoadResult& result, const LoadStop& stop) {
  auto fail = [&](std::string why) {
    result.error = std::move(why) + " (at byte " + std::to_string(in.Offset()) + ")";
    return false;
  };
  auto interrupted = [&] {
    if (!stop || !stop()) return false;
    result.interrupted = true;
    result.error = kLoadInterrupted;
    return true;
  };
  int32_t originX = 0, originY = 0, nodeCount = 0;
  if (!in.Int32(originX) || !in.Int32(originY) || !in.Int32(nodeCount)) return fail("the file ends early");
  auto outOfRange = [](int32_t v) { return v < -kMaxCoordinate || v > kMaxCoordinate; };
  if (outOfRange(originX) || outOfRange(originY)) return fail("the origin lies outside the drawable range");
  if (nodeCount < 0) return fail("negative node count");
  if (int64_t{nodeCount} * kMinNodeRecordBytes > static_cast<int64_t>(in.Remaining())) {
    return fail("node count " + std::to_string(nodeCount) + " exceeds what the file holds");
  }
  document.originX = originX;
  document.originY = originY;
  // The counts are within what the file holds; room for them is only a hint.
  (void)document.Reserve(nodeCount, 0);

  std::unordered_map<int32_t, FilterNode*> byId;
  byId.reserve(static_cast<size_t>(nodeCount));
  int32_t largestId = 0;  // the largest node id so far, as NextNodeId would see it
  for (int32_t n = 0; n < nodeCount; ++n) {
    if (interrupted()) return false;
    const std::string which = "node record " + std::to_string(n + 1);
    int32_t filterId = 0, nodeId = 0, captionLength = 0;
    if (!in.Int32(filterId)) return fail(which + ": the file ends early");
    const FilterPrototype* prototype = document.registry().FindPrototypeByFilterId(filterId);
    if (prototype == nullptr) return fail(which + ": no loaded library offers filter id " + std::to_string(filterId));
    // A node id of INT32_MAX leaves no fresh id for the next insertion.
    const int32_t index = largestId == INT32_MAX ? -1 : document.InsertNodeWithId(prototype->id, largestId + 1);
    if (index < 0) return fail(which + ": the filter \"" + std::string(prototype->info.name) + "\" could not be created");
    FilterNode& node = *document.Node(index);

    if (!in.Int32(nodeId)) return fail(which + ": the file ends early");
    if (nodeId < 1) return fail(which + ": invalid node id " + std::to_string(nodeId));
    if (!byId.emplace(nodeId, &node).second) {
      return fail(which + ": node id " + std::to_string(nodeId) + " appears twice");
    }
    node.nodeId = nodeId;
    if (nodeId > largestId) largestId = nodeId;

    if (!in.Int32(captionLength)) return fail(which + ": the file ends early");
    if (captionLength < 0 || static_cast<size_t>(captionLength) > kMaxCaptionBytes) {
      return fail(which + ": caption length " + std::to_string(captionLength) + " is outside 0..255");
    }
    const uint8_t* caption = nullptr;
    const uint8_t* zero = nullptr;
    if (!in.Bytes(static_cast<size_t>(captionLength), caption) || !in.Bytes(1, zero)) {
      return fail(which + ": the file ends early");
    }
    node.caption.assign(reinterpret_cast<const char*>(caption), static_cast<size_t>(captionLength));

    int32_t x = 0, y = 0, settingsLength = 0;
    if (!in.Int32(x) || !in.Int32(y) || !in.Int32(settingsLength)) return fail(which + ": the file ends early");
    if (outOfRange(x) || outOfRange(y)) return fail(which + ": the position lies outside the drawable range");
    node.x = x;
    node.y = y;
    if (settingsLength < 0 || static_cast<size_t>(settingsLength) > in.Remaining()) {
      return fail(which + ": settings length " + std::to_string(settingsLength) + " exceeds what the file holds");
    }
    const uint8_t* settings = nullptr;
    if (!in.Bytes(static_cast<size_t>(settingsLength), settings)) return fail(which + ": the file ends early");
    // The filter reads from its own view of the bytes; it copies what it keeps.
    std::vector<uint8_t> copy(settings, settings + settingsLength);
    uint8_t empty = 0;
    const Packet packet = MakePacket(settingsLength, PacketType::Config, copy.empty() ? &empty : copy.data());
    if (node.filter->ApplyConfig(packet, ConfigForm::Serialized) != Ok) {
      std::string why = which + ": filter \"" + node.caption + "\" refused its settings";
      const std::string reason = node.FailureReason();
      if (!reason.empty()) why += ": " + reason;
      return fail(why);
    }
    if (!document.LayoutNode(node)) return fail(which + ": out of memory");
  }

  int32_t edgeCount = 0;
  if (!in.Int32(edgeCount)) return fail("the file ends before the edge count");
  if (edgeCount < 0) return fail("negative edge count");
  if (int64_t{edgeCount} * kEdgeRecordBytes > static_cast<int64_t>(in.Remaining())) {
    return fail("edge count " + std::to_string(edgeCount) + " exceeds what the file holds");
  }
  (void)document.Reserve(nodeCount, edgeCount);
  // The document held no edge before: kept edges are numbered 1, 2, ...
  int32_t nextEdgeId = document.NextEdgeId();
  auto nodeOf = [&byId](int32_t id) -> const FilterNode* {
    const auto it = byId.find(id);
    return it != byId.end() ? it->second : nullptr;
  };
  for (int32_t e = 0; e < edgeCount; ++e) {
    if (e % kEdgesPerPoll == 0 && interrupted()) return false;
    int32_t fromNode = 0, fromPin = 0, toNode = 0, toPin = 0;
    if (!in.Int32(fromNode) || !in.Int32(fromPin) || !in.Int32(toNode) || !in.Int32(toPin)) {
      return fail("the file ends early");
    }
    const FilterNode* from = nodeOf(fromNode);
    const FilterNode* to = nodeOf(toNode);
    const bool inserted = from != nullptr && to != nullptr && nextEdgeId > 0 &&
                          document.InsertEdgeBetween(*from, fromPin, *to, toPin, nextEdgeId) >= 0;
    if (inserted) {
      nextEdgeId = nextEdgeId == INT32_MAX ? -1 : nextEdgeId + 1;
    } else {
      result.warnings.push_back("edge " + std::to_string(e + 1) + " from node " + std::to_string(fromNode) + " pin " +
                                std::to_string(fromPin) + " to node " + std::to_string(toNode) + " pin " +
                                std::to_string(toPin) + " names a node or pin that does not exist; dropped");
    }
  }
  if (in.Remaining() > 0) {
    result.warnings.push_back(std::to_string(in.Remaining()) + " bytes after the last edge were ignored");
  }
  return true;
}

}  // namespace

GraphLoadResult LoadGraph(GraphDocument& document, const uint8_t* data, size_t size, const LoadStop& stop) {
  GraphLoadResult result;
  document.Clear();
  ByteReader in(data, size);
  bool ok = false;
  try {
    ok = LoadInto(document, in, result, stop);
  } catch (const std::bad_alloc&) {
    result.error = "out of memory";
  }
  if (!ok) {
    document.Clear();
    result.warnings.clear();
    return result;
  }
  result.ok = true;
  return result;
}

bool ReadGraphFileContent(const std::string& path, std::vector<uint8_t>& content, std::string& error,
                          const LoadStop& stop) {
  // A folder opens as a stream of unknown size and a FIFO blocks the open;
  // both are named for what they are before anything is read.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    error = path + (S_ISDIR(status.st_mode) ? " is a folder, not a graph file" : " is not a regular file");
    return false;
  }
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxGraphFileBytes) {
    error = size < 0 ? "cannot read " + path : path + " is too large for a graph file";
    return false;
  }
  content.assign(static_cast<size_t>(size), 0);
  in.seekg(0);
  // Read in pieces, so that a stop request is heard during a long read too.
  for (std::streamoff done = 0; done < size;) {
    if (stop && stop()) {
      error = kLoadInterrupted;
      return false;
    }
    const std::streamoff piece = std::min<std::streamoff>(size - done, kBytesPerPoll);
    if (!in.read(reinterpret_cast<char*>(content.data()) + done, piece)) {
      error = "cannot read " + path;
      return false;
    }
    done += piece;
  }
  return true;
}

GraphLoadResult LoadGraphFile(GraphDocument& document, const std::string& path, const LoadStop& stop) {
  std::vector<uint8_t> content;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadGraphFileContent(path, content, error, stop) || !GraphFileBytes(content, document.registry(), bytes, error)) {
    document.Clear();
    GraphLoadResult result;
    result.interrupted = error == kLoadInterrupted;
    result.error = error;
    return result;
  }
  content.clear();
  content.shrink_to_fit();
  GraphLoadResult result = LoadGraph(document, bytes.data(), bytes.size(), stop);
  if (result.ok) document.folder = FolderOf(path);
  return result;
}

}  // namespace vorlan::host
