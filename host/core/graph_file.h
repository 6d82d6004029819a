// Graph files ("Filter graphs (*.gph)"): origin, nodes with their filter
// id, node id, caption, position and serialized settings, then the edges.
// Little-endian, no header. [user-interface thread, no run active]
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vorlan::host {

class GraphDocument;

// The text shown when a graph cannot be loaded.
inline constexpr const char* kFailedToLoadGraph = "Failed to load graph.";

struct GraphLoadResult {
  bool ok = false;
  bool interrupted = false;           // `stop` ended the load
  std::string error;                  // why the load failed (empty on success)
  std::vector<std::string> warnings;  // e.g. edges that were dropped
};

// Polled while a graph loads, once per node and per few thousand edges or
// megabytes read; true ends the load as failed ("interrupted").
using LoadStop = std::function<bool()>;

// The error of an interrupted load.
inline constexpr const char* kLoadInterrupted = "loading was interrupted";

// The document as graph file bytes. Each filter's settings come from
// GetConfig(Serialized) and go back to its library (ReleaseConfig) when the
// library offers that. False with `error` for an unusable settings packet.
bool SaveGraph(GraphDocument& document, std::vector<uint8_t>& bytes, std::string& error);
// The two forms a graph is stored in: the graph file, and its text (JSON,
// see core/graph_text.h).
enum class GraphFormat { Binary, Text };

// Writes through a temporary file in the same folder, so a failed save
// leaves an existing file untouched. On success the document's folder
// becomes the file's.
bool SaveGraphFile(GraphDocument& document, const std::string& path, std::string& error,
                   GraphFormat format = GraphFormat::Binary);

// The bytes of a file that should hold a graph: refuses folders, FIFOs and
// other non-regular files, unreadable files and files over kMaxGraphFileBytes.
// A stop request while reading gives `error` kLoadInterrupted.
bool ReadGraphFileContent(const std::string& path, std::vector<uint8_t>& content, std::string& error,
                          const LoadStop& stop = {});

// The absolute folder holding `file` ("" when it cannot be told).
std::string FolderOf(const std::string& file);

// Replaces the document's graph (an active run is killed first). A failed
// load leaves an empty document. Edges naming a node or pin that does not
// exist are dropped with a warning. Time and memory grow linearly with the
// file.
GraphLoadResult LoadGraph(GraphDocument& document, const uint8_t* data, size_t size, const LoadStop& stop = {});
// Reads either form, told apart by content whatever the file is named. On
// success the document's folder is the file's.
GraphLoadResult LoadGraphFile(GraphDocument& document, const std::string& path, const LoadStop& stop = {});

// Positions and the origin in a graph file must lie within
// -kMaxCoordinate..kMaxCoordinate, so that layout and drawing arithmetic on
// them cannot overflow int32.
inline constexpr int32_t kMaxCoordinate = 1 << 24;

// Graph files larger than this are refused unread.
inline constexpr int64_t kMaxGraphFileBytes = int64_t{1} << 30;

}  // namespace vorlan::host
