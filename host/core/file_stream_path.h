// The file of a File Input Stream or File Output Stream node, as the host
// shows it: the path in the node's settings and the file it names once
// relative paths are taken from the document's folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vorlan::host {

class GraphDocument;
struct FilterNode;

inline constexpr int32_t kFileInputStreamId = 10;
inline constexpr int32_t kFileOutputStreamId = 20;

bool IsFileStream(const FilterNode& node);

// The path text of a file-stream node's settings; nullopt for other nodes,
// for a stream without a path, or for settings that cannot be read. Reads
// the settings with GetConfig: not while a run uses the filter.
std::optional<std::string> FileStreamPath(const FilterNode& node);

// The file a file-stream node works on: its path, relative ones taken from
// the document's folder, or from the current folder when the settings' folder
// field says so. nullopt as for FileStreamPath.
std::optional<std::string> FileStreamTarget(const GraphDocument& document, const FilterNode& node);

}  // namespace vorlan::host
