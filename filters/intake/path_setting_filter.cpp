#include "path_setting_filter.h"

#include <cstdlib>
#include <cstring>

#include "vorlan/config_stream.h"
#include "vorlan/file_names.h"

namespace vorlan {

Result PathSettingFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (form == ConfigForm::Native) {
    if (packet.data == nullptr || packet.length < static_cast<int32_t>(sizeof(const char*))) {
      return Fail("the settings hold no path");
    }
    const char* text = nullptr;
    std::memcpy(&text, packet.data, sizeof text);
    if (text == nullptr) return Fail("the settings hold no path");
    // The text may be this filter's own path (a block from GetConfig), so it
    // is copied before the old path goes.
    std::string copy(text);
    path_ = std::move(copy);
    return Ok;
  }
  if (form != ConfigForm::Serialized) return Ok;

  if (packet.data == nullptr) return Fail("the settings are empty");
  path_.reset();
  folder_ = static_cast<int32_t>(Folder::Graph);
  ConfigReader reader(packet);
  std::optional<std::string> text;
  if (!reader.Text(text)) return Fail("the settings are malformed: the path is cut short");
  // A file name cannot hold a NUL; such a text would silently name another file.
  if (text && text->find('\0') != std::string::npos) {
    return Fail("the settings are malformed: the path contains a NUL character");
  }
  path_ = std::move(text);
  if (reader.Remaining() > 0 && !reader.Int32(folder_)) {
    return Fail("the settings are malformed: the folder is cut short");
  }
  return Ok;
}

Packet PathSettingFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) {
    const char* text = path_ ? path_->c_str() : nullptr;
    return NativeConfigPacket(&text, sizeof text);
  }
  ConfigWriter writer;
  writer.Text(path_);
  if (folder_ != static_cast<int32_t>(Folder::Graph)) writer.Int32(folder_);
  return writer.ToPacket();
}

std::string PathSettingFilter::SettingsProblem() const {
  if (!path_ || path_->empty()) return "\"path\" is empty: no file selected";
  if (folder_ != static_cast<int32_t>(Folder::Graph) && folder_ != static_cast<int32_t>(Folder::Current)) {
    return std::string("\"folder\": the settings name an unknown folder for relative paths (") +
           std::to_string(folder_) + "; 0 is the graph's folder, 1 the current folder)";
  }
  return "";
}

Result PathSettingFilter::RequirePath(const std::string*& path) {
  if (const std::string problem = SettingsProblem(); !problem.empty()) return Fail(problem);
  switch (static_cast<Folder>(folder_)) {
    case Folder::Graph:
      resolved_ = ResolveFileName(DocumentFolderOf(this), *path_);
      break;
    case Folder::Current:
      // The process opens a relative name from its current folder.
      resolved_ = *path_;
      break;
  }
  path = &resolved_;
  return Ok;
}

}  // namespace vorlan
