#include "core/file_stream_path.h"

#include <filesystem>
#include <system_error>

#include "core/graph_document.h"
#include "vorlan/config_stream.h"
#include "vorlan/file_names.h"

namespace vorlan::host {

bool IsFileStream(const FilterNode& node) {
  if (node.filter == nullptr) return false;
  const int32_t id = node.filter->info.id;
  return id == kFileInputStreamId || id == kFileOutputStreamId;
}

namespace {

struct StreamSettings {
  std::string path;
  int32_t folder = 0;  // 0: the graph's folder, 1: the current folder
};

std::optional<StreamSettings> ReadStreamSettings(const FilterNode& node) {
  if (!IsFileStream(node)) return std::nullopt;
  const Packet packet = node.filter->GetConfig(ConfigForm::Serialized);
  StreamSettings settings;
  if (packet.data != nullptr && packet.length > 0) {
    ConfigReader reader(packet);
    std::optional<std::string> text;
    if (reader.Text(text) && text.has_value()) settings.path = std::move(*text);
    if (reader.Remaining() > 0 && !reader.Int32(settings.folder)) settings.folder = 0;
  }
  if (node.library != nullptr && node.library->entry.releaseConfig != nullptr)
    node.library->entry.releaseConfig(packet);
  if (settings.path.empty()) return std::nullopt;
  return settings;
}

}  // namespace

std::optional<std::string> FileStreamPath(const FilterNode& node) {
  std::optional<StreamSettings> settings = ReadStreamSettings(node);
  if (!settings) return std::nullopt;
  return std::move(settings->path);
}

std::optional<std::string> FileStreamTarget(const GraphDocument& document, const FilterNode& node) {
  const std::optional<StreamSettings> settings = ReadStreamSettings(node);
  if (!settings) return std::nullopt;
  if (settings->folder != 1) return ResolveFileName(document.folder, settings->path);
  std::error_code failed;
  const std::filesystem::path current = std::filesystem::current_path(failed);
  return ResolveFileName(failed ? std::string() : current.string(), settings->path);
}

}  // namespace vorlan::host
