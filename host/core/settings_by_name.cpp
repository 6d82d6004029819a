#include "core/settings_by_name.h"

#include <filesystem>

#include "core/graph_document.h"

namespace vorlan::host {
namespace {

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

std::string FieldList(const SettingsDescription& d) {
  std::string list;
  for (int32_t i = 0; i < d.fieldCount; ++i) {
    if (i > 0) list += ", ";
    list += d.fields[i].identifier;
  }
  return list.empty() ? "none" : list;
}

std::string CaptionList(const GraphDocument& document) {
  std::string list;
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    const std::string quoted = Quoted(document.Node(i)->caption);
    if (list.find(quoted) != std::string::npos) continue;
    if (!list.empty()) list += ", ";
    list += quoted;
  }
  return list.empty() ? "none (the graph is empty)" : list;
}

std::string AbsoluteFromHere(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code failed;
  const std::filesystem::path full = std::filesystem::absolute(path, failed);
  return failed ? path : full.lexically_normal().string();
}

}  // namespace

bool ParseSettingAssignment(std::string_view text, SettingAssignment& assignment, std::string& error) {
  const size_t eq = text.find('=');
  const size_t dot = eq == std::string_view::npos ? std::string_view::npos : text.substr(0, eq).rfind('.');
  if (eq == std::string_view::npos || dot == std::string_view::npos || dot == 0 || dot + 1 == eq) {
    error = "--set takes CAPTION.FIELD=VALUE, not " + std::string(text);
    return false;
  }
  assignment.caption = std::string(text.substr(0, dot));
  assignment.field = std::string(text.substr(dot + 1, eq - dot - 1));
  assignment.value = std::string(text.substr(eq + 1));
  return true;
}

const FilterPrototype* PrototypeOf(const GraphDocument& document, const FilterNode& node) {
  return document.registry().FindPrototype(node.prototypeId);
}

bool ReadNodeSettings(const GraphDocument& document, FilterNode& node, std::vector<SettingValue>& values,
                      std::string& error) {
  const FilterPrototype* prototype = PrototypeOf(document, node);
  if (prototype == nullptr || prototype->settings == nullptr) {
    error = "the filter " + Quoted(node.filter->info.name) + " does not describe its settings";
    return false;
  }
  const SettingsDescription& d = *prototype->settings;
  Packet packet = node.filter->GetConfig(ConfigForm::Serialized);
  const bool usable = packet.length >= 0 && (packet.length == 0 || packet.data != nullptr);
  std::vector<SettingValue> read;
  size_t used = 0;
  if (usable) {
    used = DecodeSettingValues(d, static_cast<const uint8_t*>(packet.data), static_cast<size_t>(packet.length), read);
  }
  const size_t length = usable ? static_cast<size_t>(packet.length) : 0;
  if (packet.data != nullptr && node.library != nullptr && node.library->entry.releaseConfig != nullptr) {
    node.library->entry.releaseConfig(packet);
  }
  if (!usable || used != length) {
    error = "the settings of " + Quoted(node.caption) + " do not match the description of " +
            Quoted(node.filter->info.name);
    return false;
  }
  values = DefaultSettingValues(d);
  for (size_t i = 0; i < read.size(); ++i) values[i] = read[i];
  return true;
}

bool WriteNodeSettings(GraphDocument& document, FilterNode& node, const std::vector<SettingValue>& values,
                       std::string& error) {
  const FilterPrototype* prototype = PrototypeOf(document, node);
  if (prototype == nullptr || prototype->settings == nullptr) {
    error = "the filter " + Quoted(node.filter->info.name) + " does not describe its settings";
    return false;
  }
  std::vector<uint8_t> bytes = EncodeSettingValues(*prototype->settings, values);
  uint8_t empty = 0;
  const Packet packet = MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Config,
                                   bytes.empty() ? &empty : bytes.data());
  if (node.filter->ApplyConfig(packet, ConfigForm::Serialized) != Ok) {
    error = "filter " + Quoted(node.caption) + " refused the settings";
    const std::string reason = node.FailureReason();
    if (!reason.empty()) error += ": " + reason;
    return false;
  }
  // A filter may change its pins with its settings (the serializer's count).
  document.RefreshNode(node);
  return true;
}

bool ApplySettingByName(GraphDocument& document, const SettingAssignment& assignment, std::vector<int32_t>& changed,
                        std::string& error) {
  const std::string where = assignment.caption + "." + assignment.field;
  int matched = 0;
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    FilterNode& node = *document.Node(i);
    if (node.caption != assignment.caption) continue;
    ++matched;
    const FilterPrototype* prototype = PrototypeOf(document, node);
    if (prototype == nullptr || prototype->settings == nullptr) {
      error = where + ": the filter " + Quoted(node.filter->info.name) +
              " does not describe its settings, so they cannot be set by name";
      if (prototype != nullptr && !prototype->settingsProblem.empty()) error += " (" + prototype->settingsProblem + ")";
      return false;
    }
    const SettingsDescription& d = *prototype->settings;
    const SettingField* field = FindSettingField(d, assignment.field);
    if (field == nullptr) {
      error = where + ": " + Quoted(node.filter->info.name) + " has no setting " + Quoted(assignment.field) +
              "; its settings are: " + FieldList(d);
      return false;
    }
    SettingValue value;
    std::string why;
    if (!ParseSettingValue(*field, assignment.value, value, why)) {
      error = where + " (" + SettingTypeName(field->type) + "): " + why;
      return false;
    }
    if ((field->flags & kSettingPath) != 0 && value.text) value.text = AbsoluteFromHere(*value.text);
    std::vector<SettingValue> values;
    if (!ReadNodeSettings(document, node, values, why) ) {
      error = where + ": " + why;
      return false;
    }
    values[static_cast<size_t>(field - d.fields)] = value;
    if (!WriteNodeSettings(document, node, values, why)) {
      error = where + ": " + why;
      return false;
    }
    changed.push_back(node.nodeId);
  }
  if (matched == 0) {
    error = where + ": no node is captioned " + Quoted(assignment.caption) + "; the captions are: " +
            CaptionList(document);
    return false;
  }
  return true;
}

bool CheckNodeSettings(GraphDocument& document, const std::vector<int32_t>& nodeIds, std::string& error) {
  for (const int32_t id : nodeIds) {
    FilterNode* node = document.NodeById(id);
    if (node == nullptr || node->library == nullptr || node->library->entry.checkSettings == nullptr) continue;
    const char* problem = node->library->entry.checkSettings(node->filter);
    if (problem != nullptr && *problem != '\0') {
      error = node->caption + ": " + problem;
      return false;
    }
  }
  return true;
}

}  // namespace vorlan::host
