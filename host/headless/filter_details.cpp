#include "headless/filter_details.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "core/registry.h"
#include "headless/headless_runner.h"
#include "vorlan/pin_types.h"
#include "vorlan/settings_values.h"

namespace vorlan::host {
namespace {

using Json = nlohmann::ordered_json;

struct PinInfo {
  int32_t index;
  int32_t kind;
  std::string name;
  uint32_t types;
};

const char* KindName(int32_t kind) {
  switch (kind) {
    case static_cast<int32_t>(PinKind::Input): return "input";
    case static_cast<int32_t>(PinKind::Output): return "output";
    case static_cast<int32_t>(PinKind::ConfigIn): return "config in";
    case static_cast<int32_t>(PinKind::ConfigOut): return "config out";
    default: return "?";
  }
}

std::vector<std::string> TypeNames(uint32_t mask) {
  std::vector<std::string> names;
  for (int32_t code = 0; code < 32; ++code) {
    if ((mask & (1u << code)) != 0 && *PacketTypeName(code) != '\0') names.emplace_back(PacketTypeName(code));
  }
  return names;
}

std::string TypeText(uint32_t mask) {
  const std::vector<std::string> names = TypeNames(mask);
  if (names.empty()) return "-";
  std::string text;
  for (const std::string& n : names) {
    if (!text.empty()) text += '|';
    text += n;
  }
  return text;
}

// The pins of a fresh filter at its default settings.
std::vector<PinInfo> PinsOf(const FilterPrototype& p) {
  std::vector<PinInfo> pins;
  Filter* filter = p.library->entry.create(p.index);
  if (filter == nullptr) return pins;
  if (filter->Initialize() == Ok) {
    for (int32_t i = 0; i < filter->pinCount; ++i) {
      const Pin* pin = filter->pins[i];
      if (pin == nullptr) continue;
      const uint32_t types = p.library->entry.getPinPacketTypes != nullptr ? p.library->entry.getPinPacketTypes(filter, i) : 0;
      pins.push_back({i, pin->kind, pin->name != nullptr ? pin->name : "", types});
    }
  }
  filter->Deinitialize();
  p.library->entry.destroy(filter, p.index);
  return pins;
}

std::string Version(int32_t major, int32_t minor) { return std::to_string(major) + "." + std::to_string(minor); }

std::string LibraryPath(const FilterLibrary& l) { return l.path.empty() ? l.fileName : l.path; }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

Json DefaultJson(const SettingField& f) {
  const SettingValue v = DefaultSettingValues(SettingsDescription{1, 1, &f}).front();
  switch (static_cast<SettingType>(f.type)) {
    case SettingType::Text:
      return f.defaultText != nullptr ? Json(f.defaultText) : Json(nullptr);
    case SettingType::Choice:
      return Json(FormatSettingValue(f, v));
    case SettingType::Flag:
      return Json(v.number != 0);
    case SettingType::Int32:
      if ((f.flags & kSettingSwitch) != 0) return Json(v.number != 0);
      return Json(static_cast<int64_t>(v.number));
    case SettingType::Float32:
      return Json(std::stod(ShortestDecimal(static_cast<float>(v.number))));
    case SettingType::Float64:
      return Json(v.number);
  }
  return Json(nullptr);
}

Json BoundJson(const SettingField& f, double bound) {
  if (!std::isfinite(bound)) return Json(nullptr);
  if (f.type == static_cast<int32_t>(SettingType::Int32)) return Json(static_cast<int64_t>(bound));
  return Json(bound);
}

Json FieldJson(const SettingField& f) {
  Json field = Json::object();
  field["identifier"] = f.identifier;
  field["label"] = SettingText(f.label);
  field["type"] = SettingTypeName(f.type);
  field["default"] = DefaultJson(f);
  if (f.type == static_cast<int32_t>(SettingType::Choice)) {
    Json choices = Json::array();
    for (int32_t k = 0; k < f.choiceCount; ++k) {
      choices.push_back(Json{{"value", f.choices[k].value},
                             {"identifier", SettingText(f.choices[k].identifier)},
                             {"label", SettingText(f.choices[k].label)}});
    }
    field["choices"] = std::move(choices);
  } else if (f.type != static_cast<int32_t>(SettingType::Text)) {
    field["minimum"] = BoundJson(f, f.minimum);
    field["maximum"] = BoundJson(f, f.maximum);
    field["minimumExclusive"] = (f.flags & kSettingMinimumExclusive) != 0;
    field["maximumExclusive"] = (f.flags & kSettingMaximumExclusive) != 0;
    if (f.type == static_cast<int32_t>(SettingType::Int32)) field["switch"] = (f.flags & kSettingSwitch) != 0;
  }
  if (f.type == static_cast<int32_t>(SettingType::Text)) field["path"] = (f.flags & kSettingPath) != 0;
  field["range"] = SettingRangeText(f);
  field["unit"] = SettingText(f.unit);
  field["help"] = SettingText(f.help);
  return field;
}

Json ToJson(const FilterPrototype& p) {
  Json filter = Json::object();
  filter["name"] = p.info.name;
  filter["id"] = p.info.id;
  filter["version"] = Version(p.info.major, p.info.minor);
  const FilterLibrary& l = *p.library;
  filter["library"] = Json{{"name", l.info.name}, {"version", Version(l.info.major, l.info.minor)}, {"file", LibraryPath(l)}};
  Json pins = Json::array();
  for (const PinInfo& pin : PinsOf(p)) {
    pins.push_back(Json{{"index", pin.index}, {"kind", KindName(pin.kind)}, {"name", pin.name}, {"types", TypeNames(pin.types)}});
  }
  filter["pins"] = std::move(pins);
  if (p.settings != nullptr) {
    Json fields = Json::array();
    for (int32_t i = 0; i < p.settings->fieldCount; ++i) fields.push_back(FieldJson(p.settings->fields[i]));
    filter["settings"] = std::move(fields);
  } else {
    filter["settings"] = nullptr;
    if (!p.settingsProblem.empty()) filter["settingsProblem"] = p.settingsProblem;
  }
  return filter;
}

void PrintFull(const FilterPrototype& p, std::FILE* out) {
  const FilterLibrary& l = *p.library;
  std::fprintf(out, "%s (id %i, version %s)\nLibrary: %s %s, %s\nPins:\n", p.info.name, p.info.id,
               Version(p.info.major, p.info.minor).c_str(), l.info.name, Version(l.info.major, l.info.minor).c_str(),
               LibraryPath(l).c_str());
  const std::vector<PinInfo> pins = PinsOf(p);
  size_t nameWidth = 4;
  for (const PinInfo& pin : pins) nameWidth = std::max(nameWidth, pin.name.size());
  for (const PinInfo& pin : pins) {
    std::fprintf(out, "  %2i  %-*s  %-10s  %s\n", pin.index, static_cast<int>(nameWidth), pin.name.c_str(),
                 KindName(pin.kind), TypeText(pin.types).c_str());
  }
  if (p.settings == nullptr) {
    std::fprintf(out, "Settings: not described by the library%s%s\n", p.settingsProblem.empty() ? "" : ": ",
                 p.settingsProblem.c_str());
    return;
  }
  const SettingsDescription& d = *p.settings;
  if (d.fieldCount == 0) {
    std::fprintf(out, "Settings: none\n");
    return;
  }
  std::fprintf(out, "Settings (--set CAPTION.FIELD=VALUE), in stream order:\n");
  size_t idWidth = 0, defaultWidth = 0, rangeWidth = 0;
  const std::vector<SettingValue> defaults = DefaultSettingValues(d);
  for (int32_t i = 0; i < d.fieldCount; ++i) {
    idWidth = std::max(idWidth, std::strlen(d.fields[i].identifier));
    defaultWidth = std::max(defaultWidth, FormatSettingValue(d.fields[i], defaults[static_cast<size_t>(i)]).size());
    const std::string range = SettingRangeText(d.fields[i]);
    if (range.size() <= 24) rangeWidth = std::max(rangeWidth, range.size());
  }
  for (int32_t i = 0; i < d.fieldCount; ++i) {
    const SettingField& f = d.fields[i];
    std::string value = FormatSettingValue(f, defaults[static_cast<size_t>(i)]);
    if (f.type == static_cast<int32_t>(SettingType::Text) && !defaults[static_cast<size_t>(i)].text) value = "(none)";
    std::string range = SettingRangeText(f);
    if (f.type == static_cast<int32_t>(SettingType::Text)) range = (f.flags & kSettingPath) != 0 ? "file" : "text";
    std::string help = SettingText(f.help);
    if (*SettingText(f.unit) != '\0') help += " [" + std::string(f.unit) + "]";
    // A long list of choices goes on its own line, so the columns stay aligned.
    const bool longRange = range.size() > 24;
    std::fprintf(out, "  %-*s  %-7s  %-*s  %-*s  %s\n", static_cast<int>(idWidth), f.identifier, SettingTypeName(f.type),
                 static_cast<int>(defaultWidth), value.c_str(), static_cast<int>(rangeWidth),
                 longRange ? "" : range.c_str(), help.c_str());
    if (longRange) std::fprintf(out, "  %-*s  %s\n", static_cast<int>(idWidth), "", range.c_str());
  }
}

}  // namespace

const FilterPrototype* FindPrototypeByUserName(const Registry& registry, const std::string& what) {
  const std::string lower = Lower(what);
  for (int32_t i = 0; i < registry.PrototypeCount(); ++i) {
    const FilterPrototype& p = registry.Prototype(i);
    const std::string file = p.library->fileName;
    const std::string stem = file.size() > 3 && file.ends_with(".so") ? file.substr(0, file.size() - 3) : file;
    if (what == std::to_string(p.info.id) || lower == Lower(p.info.name) || what == file || what == stem) return &p;
  }
  return nullptr;
}

std::string PrototypeJson(const FilterPrototype& prototype, int indent) { return ToJson(prototype).dump(indent); }

int InspectFilters(const Registry& registry, const std::string& what, bool json, std::FILE* out, std::FILE* err) {
  if (!what.empty()) {
    const FilterPrototype* p = FindPrototypeByUserName(registry, what);
    if (p == nullptr) {
      std::fprintf(err, "vorlan: no loaded filter is named \"%s\"; the filters are:\n", what.c_str());
      for (int32_t i = 0; i < registry.PrototypeCount(); ++i) {
        const FilterPrototype& q = registry.Prototype(i);
        std::fprintf(err, "  %i  %s\n", q.info.id, q.info.name);
      }
      return kExitBadGraph;
    }
    if (json) {
      std::fprintf(out, "%s\n", PrototypeJson(*p).c_str());
    } else {
      PrintFull(*p, out);
    }
    return 0;
  }
  if (json) {
    Json all = Json::object();
    Json filters = Json::array();
    for (int32_t i = 0; i < registry.PrototypeCount(); ++i) filters.push_back(ToJson(registry.Prototype(i)));
    all["filters"] = std::move(filters);
    std::fprintf(out, "%s\n", all.dump(2).c_str());
    return 0;
  }
  size_t nameWidth = 0, fileWidth = 0;
  for (int32_t i = 0; i < registry.PrototypeCount(); ++i) {
    nameWidth = std::max(nameWidth, std::strlen(registry.Prototype(i).info.name));
    fileWidth = std::max(fileWidth, registry.Prototype(i).library->fileName.size());
  }
  for (int32_t i = 0; i < registry.PrototypeCount(); ++i) {
    const FilterPrototype& p = registry.Prototype(i);
    const char* settings = p.settings == nullptr ? "settings not described"
                           : p.settings->fieldCount == 0 ? "no settings"
                                                         : nullptr;
    const std::string count = settings == nullptr ? std::to_string(p.settings->fieldCount) + " settings" : settings;
    std::fprintf(out, "%5i  %-*s  %-*s  %s\n", p.info.id, static_cast<int>(nameWidth), p.info.name,
                 static_cast<int>(fileWidth), p.library->fileName.c_str(), count.c_str());
  }
  std::fprintf(out, "Details: vorlan --inspect NAME|ID\n");
  return 0;
}

}  // namespace vorlan::host
