#include "core/file_stream_path.h"

#include "core/graph_document.h"
#include "vorlan/config_stream.h"
#include "vorlan/file_names.h"

namespace vorlan::host {

bool IsFileStream(const FilterNode& node) {
  if (node.filter == nullptr) return false;
  const int32_t id = node.filter->info.id;
  return id == kFileInputStreamId || id == kFileOutputStreamId;
}

std::optional<std::string> FileStreamPath(const FilterNode& node) {
  if (!IsFileStream(node)) return std::nullopt;
  const Packet packet = node.filter->GetConfig(ConfigForm::Serialized);
  std::string path;
  if (packet.data != nullptr && packet.length > 0) {
    ConfigReader reader(packet);
    std::optional<std::string> text;
    if (reader.Text(text) && text.has_value()) path = std::move(*text);
  }
  if (node.library != nullptr && node.library->entry.releaseConfig != nullptr)
    node.library->entry.releaseConfig(packet);
  if (path.empty()) return std::nullopt;
  return path;
}

std::optional<std::string> FileStreamTarget(const GraphDocument& document, const FilterNode& node) {
  const std::optional<std::string> path = FileStreamPath(node);
  if (!path) return std::nullopt;
  return ResolveFileName(document.folder, *path);
}

}  // namespace vorlan::host
