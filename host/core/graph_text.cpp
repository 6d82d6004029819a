#include "core/graph_text.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "core/graph_bytes.h"
#include "core/graph_file.h"
#include "core/registry.h"
#include "vorlan/settings_values.h"

namespace vorlan::host {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "vorlan-graph";
constexpr int kVersion = 1;

// ---- small codecs -------------------------------------------------------------

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::vector<uint8_t>& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t n = uint32_t{bytes[i]} << 16 | (i + 1 < bytes.size() ? uint32_t{bytes[i + 1]} << 8 : 0) |
                       (i + 2 < bytes.size() ? uint32_t{bytes[i + 2]} : 0);
    out += kBase64[n >> 18 & 63];
    out += kBase64[n >> 12 & 63];
    out += i + 1 < bytes.size() ? kBase64[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kBase64[n & 63] : '=';
  }
  return out;
}

bool FromBase64(std::string_view text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t n = 0;
    int pad = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      uint32_t v = 0;
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++pad;
      } else if (pad > 0) {
        return false;
      } else if (const char* at = std::strchr(kBase64, c); at != nullptr && c != '\0') {
        v = static_cast<uint32_t>(at - kBase64);
      } else {
        return false;
      }
      n = n << 6 | v;
    }
    bytes.push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) bytes.push_back(static_cast<uint8_t>(n >> 8));
    if (pad < 1) bytes.push_back(static_cast<uint8_t>(n));
  }
  return true;
}

// Well-formed UTF-8 only (no overlong forms, surrogates or values past
// U+10FFFF): what a JSON string can carry back unchanged.
bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<uint8_t>(s[i]);
    size_t extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<uint8_t>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

// The double nearest the single's shortest decimal when it reads back to
// the same single ("0.95" rather than 0.949999988079071), else its exact value.
double SingleAsDouble(float value) {
  const std::string text = ShortestDecimal(value);
  const double near = std::strtod(text.c_str(), nullptr);
  return static_cast<float>(near) == value ? near : static_cast<double>(value);
}

// ---- what the registry knows of a filter ------------------------------------------

const FilterPrototype* PrototypeById(const Registry& registry, int32_t filterId) {
  return registry.FindPrototypeByFilterId(filterId);
}

const FilterPrototype* PrototypeByName(const Registry& registry, std::string_view name) {
  for (int32_t i = 0; i < registry.PrototypeCount(); ++i) {
    if (name == registry.Prototype(i).info.name) return &registry.Prototype(i);
  }
  return nullptr;
}

// Pin names of a scratch filter given the node's settings; cached by
// filter id and settings, since a filter's pins follow its settings only.
class PinNames {
 public:
  explicit PinNames(const Registry& registry) : registry_(registry) {}

  const std::vector<std::string>& Of(int32_t filterId, const std::vector<uint8_t>& settings) {
    const auto key = std::make_pair(filterId, settings);
    auto it = cache_.find(key);
    if (it == cache_.end()) it = cache_.emplace(key, Read(filterId, settings)).first;
    return it->second;
  }

 private:
  std::vector<std::string> Read(int32_t filterId, const std::vector<uint8_t>& settings) const {
    const FilterPrototype* p = PrototypeById(registry_, filterId);
    if (p == nullptr) return {};
    Filter* filter = p->library->entry.create(p->index);
    if (filter == nullptr) return {};
    std::vector<std::string> names;
    uint8_t empty = 0;
    const Packet packet = MakePacket(static_cast<int32_t>(settings.size()), PacketType::Config,
                                     settings.empty() ? &empty : const_cast<uint8_t*>(settings.data()));
    if (filter->Initialize() == Ok && filter->ApplyConfig(packet, ConfigForm::Serialized) == Ok) {
      for (int32_t i = 0; i < filter->pinCount; ++i) {
        names.emplace_back(filter->pins[i] != nullptr && filter->pins[i]->name != nullptr ? filter->pins[i]->name : "");
      }
    }
    filter->Deinitialize();
    p->library->entry.destroy(filter, p->index);
    return names;
  }

  const Registry& registry_;
  std::map<std::pair<int32_t, std::vector<uint8_t>>, std::vector<std::string>> cache_;
};

// ---- reading values -----------------------------------------------------------------

// A failure with the JSON path of the value it concerns.
struct TextError {
  std::string path;
  std::string what;
};

[[noreturn]] void Refuse(const std::string& path, std::string what) { throw TextError{path, std::move(what)}; }

const char* KindOf(const Json& v) {
  switch (v.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::boolean: return "true or false";
    case Json::value_t::string: return "text";
    case Json::value_t::array: return "a list";
    case Json::value_t::object: return "an object";
    default: return "a number";
  }
}

int32_t Int32Of(const Json& v, const std::string& path) {
  if (v.is_number_integer() || v.is_number_unsigned()) {
    if (v.is_number_unsigned() ? v.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
                               : (v.get<int64_t>() >= std::numeric_limits<int32_t>::min() &&
                                  v.get<int64_t>() <= std::numeric_limits<int32_t>::max())) {
      return static_cast<int32_t>(v.get<int64_t>());
    }
    Refuse(path, "must fit a 32-bit integer");
  }
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (d == std::floor(d) && d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max()) {
      return static_cast<int32_t>(d);
    }
  }
  Refuse(path, std::string("must be a whole number, not ") + KindOf(v));
}

const Json& Member(const Json& object, const char* key, const std::string& path) {
  const auto it = object.find(key);
  if (it == object.end()) Refuse(path, std::string("lacks \"") + key + "\"");
  return *it;
}

void OnlyKeys(const Json& object, std::initializer_list<const char*> keys, const std::string& path) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known = false;
    for (const char* k : keys) known = known || it.key() == k;
    if (!known) {
      std::string list;
      for (const char* k : keys) list += std::string(list.empty() ? "" : ", ") + k;
      Refuse(path, "has the unknown key \"" + it.key() + "\" (known: " + list + ")");
    }
  }
}

std::string BytesOf(const Json& v, const std::string& path) {
  if (!v.is_string()) Refuse(path, std::string("must be base64 text, not ") + KindOf(v));
  std::vector<uint8_t> bytes;
  if (!FromBase64(v.get<std::string>(), bytes)) Refuse(path, "is not base64 text");
  return std::string(bytes.begin(), bytes.end());
}

// One described field's value as stored, any value the storage can hold:
// stored graphs may hold values a run refuses, and text keeps them.
SettingValue FieldValueOf(const SettingField& f, const Json& v, const std::string& path) {
  SettingValue value;
  switch (static_cast<SettingType>(f.type)) {
    case SettingType::Text:
      if (v.is_null()) return value;
      if (!v.is_string()) Refuse(path, std::string("must be text or null, not ") + KindOf(v));
      value.text = v.get<std::string>();
      return value;
    case SettingType::Choice:
      if (v.is_string()) {
        std::string error;
        if (!ParseSettingValue(f, v.get<std::string>(), value, error)) Refuse(path, error);
        return value;
      }
      value.number = Int32Of(v, path);
      return value;
    case SettingType::Flag:
    case SettingType::Int32:
      if (v.is_boolean()) {
        value.number = v.get<bool>() ? 1 : 0;
        return value;
      }
      value.number = Int32Of(v, path);
      if (f.type == static_cast<int32_t>(SettingType::Flag) && (value.number < 0 || value.number > 255)) {
        Refuse(path, "must be true, false or a byte value 0 ... 255");
      }
      return value;
    case SettingType::Float32:
    case SettingType::Float64: {
      if (!v.is_number()) Refuse(path, std::string("must be a number, not ") + KindOf(v));
      const double d = v.get<double>();
      if (f.type == static_cast<int32_t>(SettingType::Float32)) {
        const float single = static_cast<float>(d);
        if (!std::isfinite(single)) Refuse(path, "is too large for a single-precision number");
        value.number = single;
      } else {
        value.number = d;
      }
      return value;
    }
  }
  Refuse(path, "has an unknown type");
}

std::string FieldList(const SettingsDescription& d) {
  std::string list;
  for (int32_t i = 0; i < d.fieldCount; ++i) list += std::string(i > 0 ? ", " : "") + d.fields[i].identifier;
  return list;
}

// The stream of a "settings" object: the fields up to the last one given,
// those left out before it at their defaults.
std::vector<uint8_t> SettingsOf(const SettingsDescription& d, const Json& object, const std::string& path) {
  if (!object.is_object()) Refuse(path, std::string("must be an object of fields, not ") + KindOf(object));
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (FindSettingField(d, it.key()) == nullptr) {
      Refuse(path + "." + it.key(), "is not a setting of this filter; its settings are: " + FieldList(d));
    }
  }
  std::vector<SettingValue> values = DefaultSettingValues(d);
  int32_t last = -1;
  for (int32_t i = 0; i < d.fieldCount; ++i) {
    const auto it = object.find(d.fields[i].identifier);
    if (it == object.end()) continue;
    values[static_cast<size_t>(i)] = FieldValueOf(d.fields[i], *it, path + "." + d.fields[i].identifier);
    last = i;
  }
  values.resize(static_cast<size_t>(last + 1));
  return EncodeSettingValues(d, values);
}

// ---- writing values -----------------------------------------------------------------

Json FieldJson(const SettingField& f, const SettingValue& v) {
  switch (static_cast<SettingType>(f.type)) {
    case SettingType::Text:
      return v.text ? Json(*v.text) : Json(nullptr);
    case SettingType::Choice:
      for (int32_t k = 0; k < f.choiceCount; ++k) {
        if (v.number == f.choices[k].value) return Json(SettingText(f.choices[k].identifier));
      }
      return Json(static_cast<int32_t>(v.number));
    case SettingType::Flag:
      if (v.number == 0 || v.number == 1) return Json(v.number == 1);
      return Json(static_cast<int32_t>(v.number));
    case SettingType::Int32:
      if ((f.flags & kSettingSwitch) != 0 && (v.number == 0 || v.number == 1)) return Json(v.number == 1);
      return Json(static_cast<int32_t>(v.number));
    case SettingType::Float32:
      return Json(SingleAsDouble(static_cast<float>(v.number)));
    case SettingType::Float64:
      return Json(v.number);
  }
  return Json(nullptr);
}

// The settings object when it gives back exactly `bytes`; null otherwise
// (non-finite numbers, text that is not UTF-8, bytes past the fields).
Json SettingsJson(const SettingsDescription& d, const std::vector<uint8_t>& bytes) {
  std::vector<SettingValue> values;
  if (DecodeSettingValues(d, bytes.data(), bytes.size(), values) != bytes.size()) return Json(nullptr);
  Json object = Json::object();
  for (size_t i = 0; i < values.size(); ++i) {
    const SettingField& f = d.fields[i];
    if (f.type != static_cast<int32_t>(SettingType::Text) && !std::isfinite(values[i].number)) return Json(nullptr);
    if (values[i].text && !IsUtf8(*values[i].text)) return Json(nullptr);
    object[f.identifier] = FieldJson(f, values[i]);
  }
  try {
    if (SettingsOf(d, object, "settings") != bytes) return Json(nullptr);
  } catch (const TextError&) {
    return Json(nullptr);
  }
  return object;
}

// How an edge names a node: its caption when no other node has it, else its id.
Json NodeRef(const GraphFileRecords& r, const std::map<std::string, int>& captionCount, int32_t nodeId) {
  for (const GraphFileNode& n : r.nodes) {
    if (n.nodeId != nodeId) continue;
    if (IsUtf8(n.caption) && captionCount.at(n.caption) == 1) return Json(n.caption);
    break;
  }
  return Json(nodeId);
}

Json PinRef(const std::vector<std::string>& names, int32_t pin) {
  if (pin < 0 || static_cast<size_t>(pin) >= names.size()) return Json(pin);
  const std::string& name = names[static_cast<size_t>(pin)];
  int same = 0;
  for (const std::string& n : names) same += n == name ? 1 : 0;
  if (same != 1 || name.empty() || !IsUtf8(name)) return Json(pin);
  return Json(name);
}

std::string LineColumn(std::string_view text, size_t byte) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

const GraphFileNode* FindNode(const GraphFileRecords& r, int32_t nodeId) {
  for (const GraphFileNode& n : r.nodes) {
    if (n.nodeId == nodeId) return &n;
  }
  return nullptr;
}

}  // namespace

// ---- graph file bytes ---------------------------------------------------------------

bool ParseGraphBytes(const uint8_t* data, size_t size, GraphFileRecords& records, std::string& error) {
  ByteReader in(data, size);
  GraphFileRecords r;
  auto fail = [&](const std::string& why) {
    error = why + " (at byte " + std::to_string(in.Offset()) + ")";
    return false;
  };
  int32_t nodeCount = 0;
  if (!in.Int32(r.originX) || !in.Int32(r.originY) || !in.Int32(nodeCount)) return fail("the file ends early");
  if (nodeCount < 0 || static_cast<size_t>(nodeCount) > in.Remaining() / 25) return fail("the node count does not fit the file");
  r.nodes.resize(static_cast<size_t>(nodeCount));
  for (GraphFileNode& n : r.nodes) {
    int32_t captionLength = 0, settingsLength = 0;
    const uint8_t* bytes = nullptr;
    if (!in.Int32(n.filterId) || !in.Int32(n.nodeId) || !in.Int32(captionLength)) return fail("the file ends early");
    if (captionLength < 0 || !in.Bytes(static_cast<size_t>(captionLength), bytes)) return fail("a caption does not fit the file");
    n.caption.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(captionLength));
    if (!in.Bytes(1, bytes)) return fail("the file ends early");
    n.captionEnd = bytes[0];
    if (!in.Int32(n.x) || !in.Int32(n.y) || !in.Int32(settingsLength)) return fail("the file ends early");
    if (settingsLength < 0 || !in.Bytes(static_cast<size_t>(settingsLength), bytes)) return fail("settings do not fit the file");
    n.settings.assign(bytes, bytes + settingsLength);
  }
  int32_t edgeCount = 0;
  if (!in.Int32(edgeCount)) return fail("the file ends before the edge count");
  if (edgeCount < 0 || static_cast<size_t>(edgeCount) > in.Remaining() / 16) return fail("the edge count does not fit the file");
  r.edges.resize(static_cast<size_t>(edgeCount));
  for (GraphFileEdge& e : r.edges) {
    if (!in.Int32(e.fromNode) || !in.Int32(e.fromPin) || !in.Int32(e.toNode) || !in.Int32(e.toPin)) {
      return fail("the file ends early");
    }
  }
  const uint8_t* rest = nullptr;
  const size_t restSize = in.Remaining();
  if (in.Bytes(restSize, rest) && restSize > 0) r.trailing.assign(rest, rest + restSize);
  records = std::move(r);
  return true;
}

std::vector<uint8_t> GraphBytes(const GraphFileRecords& r) {
  std::vector<uint8_t> out;
  PutInt32(out, r.originX);
  PutInt32(out, r.originY);
  PutInt32(out, static_cast<int32_t>(r.nodes.size()));
  for (const GraphFileNode& n : r.nodes) {
    PutInt32(out, n.filterId);
    PutInt32(out, n.nodeId);
    PutInt32(out, static_cast<int32_t>(n.caption.size()));
    out.insert(out.end(), n.caption.begin(), n.caption.end());
    out.push_back(n.captionEnd);
    PutInt32(out, n.x);
    PutInt32(out, n.y);
    PutInt32(out, static_cast<int32_t>(n.settings.size()));
    out.insert(out.end(), n.settings.begin(), n.settings.end());
  }
  PutInt32(out, static_cast<int32_t>(r.edges.size()));
  for (const GraphFileEdge& e : r.edges) {
    PutInt32(out, e.fromNode);
    PutInt32(out, e.fromPin);
    PutInt32(out, e.toNode);
    PutInt32(out, e.toPin);
  }
  out.insert(out.end(), r.trailing.begin(), r.trailing.end());
  return out;
}

bool IsGraphText(const uint8_t* data, size_t size) {
  size_t i = 0;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) i = 3;
  while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\n' || data[i] == '\r')) ++i;
  return i < size && data[i] == '{';
}

// ---- text ---------------------------------------------------------------------------------

std::string GraphToText(const GraphFileRecords& r, const Registry& registry) {
  PinNames pins(registry);
  std::map<std::string, int> captionCount;
  for (const GraphFileNode& n : r.nodes) ++captionCount[n.caption];

  Json doc = Json::object();
  doc["format"] = kFormat;
  doc["version"] = kVersion;
  doc["origin"] = Json{{"x", r.originX}, {"y", r.originY}};
  Json nodes = Json::array();
  for (const GraphFileNode& n : r.nodes) {
    Json node = Json::object();
    node["id"] = n.nodeId;
    const FilterPrototype* p = PrototypeById(registry, n.filterId);
    if (p != nullptr) node["filter"] = p->info.name;
    node["filterId"] = n.filterId;
    if (IsUtf8(n.caption)) {
      node["caption"] = n.caption;
    } else {
      node["captionBytes"] = Base64(std::vector<uint8_t>(n.caption.begin(), n.caption.end()));
    }
    if (n.captionEnd != 0) node["captionEnd"] = n.captionEnd;
    node["x"] = n.x;
    node["y"] = n.y;
    Json settings = p != nullptr && p->settings != nullptr ? SettingsJson(*p->settings, n.settings) : Json(nullptr);
    if (!settings.is_null()) {
      node["settings"] = std::move(settings);
    } else {
      node["settingsBytes"] = Base64(n.settings);
    }
    nodes.push_back(std::move(node));
  }
  doc["nodes"] = std::move(nodes);
  Json edges = Json::array();
  static const std::vector<std::string> kNoNames;
  for (const GraphFileEdge& e : r.edges) {
    const GraphFileNode* from = FindNode(r, e.fromNode);
    const GraphFileNode* to = FindNode(r, e.toNode);
    const std::vector<std::string>& fromPins = from != nullptr ? pins.Of(from->filterId, from->settings) : kNoNames;
    const std::vector<std::string>& toPins = to != nullptr ? pins.Of(to->filterId, to->settings) : kNoNames;
    edges.push_back(Json{{"from", Json{{"node", NodeRef(r, captionCount, e.fromNode)}, {"pin", PinRef(fromPins, e.fromPin)}}},
                         {"to", Json{{"node", NodeRef(r, captionCount, e.toNode)}, {"pin", PinRef(toPins, e.toPin)}}}});
  }
  doc["edges"] = std::move(edges);
  if (!r.trailing.empty()) doc["trailingBytes"] = Base64(r.trailing);
  return doc.dump(2) + "\n";
}

bool GraphFromText(std::string_view text, const Registry& registry, GraphFileRecords& records, std::string& error) {
  Json doc;
  try {
    doc = Json::parse(text.begin(), text.end());
  } catch (const Json::parse_error& e) {
    // The library's message repeats the position in its own words; the
    // part after "syntax error while parsing value - " is the reason.
    std::string what = e.what();
    const size_t dash = what.rfind(" - ");
    if (dash != std::string::npos) what = what.substr(dash + 3);
    error = LineColumn(text, e.byte > 0 ? e.byte - 1 : 0) + ": " + what;
    return false;
  }
  try {
    if (!doc.is_object()) Refuse("(top)", "must be an object");
    OnlyKeys(doc, {"format", "version", "origin", "nodes", "edges", "trailingBytes"}, "(top)");
    const Json& format = Member(doc, "format", "(top)");
    if (!format.is_string() || format.get<std::string>() != kFormat) Refuse("format", "must be \"vorlan-graph\"");
    const int32_t version = Int32Of(Member(doc, "version", "(top)"), "version");
    if (version < 1) Refuse("version", "must be 1");
    if (version > kVersion) Refuse("version", "is " + std::to_string(version) + ", from a newer Vorlan; this one reads version 1");

    GraphFileRecords r;
    if (const auto it = doc.find("origin"); it != doc.end()) {
      if (!it->is_object()) Refuse("origin", "must be an object with x and y");
      OnlyKeys(*it, {"x", "y"}, "origin");
      r.originX = Int32Of(Member(*it, "x", "origin"), "origin.x");
      r.originY = Int32Of(Member(*it, "y", "origin"), "origin.y");
    }
    const Json& nodes = Member(doc, "nodes", "(top)");
    if (!nodes.is_array()) Refuse("nodes", "must be a list");
    std::map<std::string, std::vector<int32_t>> byCaption;
    for (size_t i = 0; i < nodes.size(); ++i) {
      const std::string path = "nodes[" + std::to_string(i) + "]";
      const Json& node = nodes[i];
      if (!node.is_object()) Refuse(path, "must be an object");
      OnlyKeys(node, {"id", "filter", "filterId", "caption", "captionBytes", "captionEnd", "x", "y", "settings",
                      "settingsBytes"}, path);
      GraphFileNode n;
      n.nodeId = Int32Of(Member(node, "id", path), path + ".id");
      const FilterPrototype* p = nullptr;
      if (const auto id = node.find("filterId"); id != node.end()) {
        n.filterId = Int32Of(*id, path + ".filterId");
        p = PrototypeById(registry, n.filterId);
      } else {
        const Json& name = Member(node, "filter", path);
        if (!name.is_string()) Refuse(path + ".filter", "must be a filter name");
        p = PrototypeByName(registry, name.get<std::string>());
        if (p == nullptr) Refuse(path + ".filter", "no loaded library offers a filter named \"" + name.get<std::string>() + "\"");
        n.filterId = p->info.id;
      }
      if (node.contains("caption") == node.contains("captionBytes")) Refuse(path, "needs one of \"caption\" and \"captionBytes\"");
      if (const auto c = node.find("caption"); c != node.end()) {
        if (!c->is_string()) Refuse(path + ".caption", "must be text");
        n.caption = c->get<std::string>();
      } else {
        n.caption = BytesOf(node["captionBytes"], path + ".captionBytes");
      }
      if (n.caption.size() > 255) Refuse(path + ".caption", "is longer than 255 bytes");
      if (const auto end = node.find("captionEnd"); end != node.end()) {
        const int32_t value = Int32Of(*end, path + ".captionEnd");
        if (value < 0 || value > 255) Refuse(path + ".captionEnd", "must be a byte value");
        n.captionEnd = static_cast<uint8_t>(value);
      }
      n.x = Int32Of(Member(node, "x", path), path + ".x");
      n.y = Int32Of(Member(node, "y", path), path + ".y");
      if (node.contains("settings") && node.contains("settingsBytes")) Refuse(path, "has both \"settings\" and \"settingsBytes\"");
      if (const auto s = node.find("settings"); s != node.end()) {
        if (p == nullptr) Refuse(path + ".settings", "the filter id " + std::to_string(n.filterId) + " is not offered by any loaded library, so its settings cannot be read by name");
        if (p->settings == nullptr) Refuse(path + ".settings", std::string("the filter \"") + p->info.name + "\" does not describe its settings; give them as \"settingsBytes\"");
        n.settings = SettingsOf(*p->settings, *s, path + ".settings");
      } else if (const auto b = node.find("settingsBytes"); b != node.end()) {
        const std::string bytes = BytesOf(*b, path + ".settingsBytes");
        n.settings.assign(bytes.begin(), bytes.end());
      }
      byCaption[n.caption].push_back(n.nodeId);
      r.nodes.push_back(std::move(n));
    }

    PinNames pins(registry);
    auto nodeOf = [&](const Json& ref, const std::string& path) -> int32_t {
      if (!ref.is_string()) return Int32Of(ref, path);
      const auto it = byCaption.find(ref.get<std::string>());
      if (it == byCaption.end()) {
        std::string list;
        for (const auto& [caption, ids] : byCaption) list += std::string(list.empty() ? "" : ", ") + "\"" + caption + "\"";
        Refuse(path, "no node is captioned \"" + ref.get<std::string>() + "\"; the captions are: " + list);
      }
      if (it->second.size() > 1) Refuse(path, "several nodes are captioned \"" + ref.get<std::string>() + "\"; name the node by its id");
      return it->second.front();
    };
    auto pinOf = [&](const Json& ref, int32_t nodeId, const std::string& path) -> int32_t {
      if (!ref.is_string()) return Int32Of(ref, path);
      const GraphFileNode* n = FindNode(r, nodeId);
      const std::vector<std::string> names = n != nullptr ? pins.Of(n->filterId, n->settings) : std::vector<std::string>{};
      int32_t found = -1;
      std::string list;
      for (size_t k = 0; k < names.size(); ++k) {
        list += std::string(list.empty() ? "" : ", ") + "\"" + names[k] + "\"";
        if (names[k] == ref.get<std::string>()) found = found < 0 ? static_cast<int32_t>(k) : -2;
      }
      if (found == -2) Refuse(path, "the node has several pins named \"" + ref.get<std::string>() + "\"; give the pin's index");
      if (found < 0) {
        Refuse(path, names.empty() ? "the node's pins cannot be named (its filter is not loaded); give the pin's index"
                                   : "the node has no pin \"" + ref.get<std::string>() + "\"; its pins are: " + list);
      }
      return found;
    };
    const Json& edges = Member(doc, "edges", "(top)");
    if (!edges.is_array()) Refuse("edges", "must be a list");
    for (size_t i = 0; i < edges.size(); ++i) {
      const std::string path = "edges[" + std::to_string(i) + "]";
      const Json& edge = edges[i];
      if (!edge.is_object()) Refuse(path, "must be an object with \"from\" and \"to\"");
      OnlyKeys(edge, {"from", "to"}, path);
      GraphFileEdge e;
      for (const char* end : {"from", "to"}) {
        const std::string endPath = path + "." + end;
        const Json& ref = Member(edge, end, path);
        if (!ref.is_object()) Refuse(endPath, "must be an object with \"node\" and \"pin\"");
        OnlyKeys(ref, {"node", "pin"}, endPath);
        const int32_t node = nodeOf(Member(ref, "node", endPath), endPath + ".node");
        const int32_t pin = pinOf(Member(ref, "pin", endPath), node, endPath + ".pin");
        (std::string(end) == "from" ? e.fromNode : e.toNode) = node;
        (std::string(end) == "from" ? e.fromPin : e.toPin) = pin;
      }
      r.edges.push_back(e);
    }
    if (const auto t = doc.find("trailingBytes"); t != doc.end()) {
      const std::string bytes = BytesOf(*t, "trailingBytes");
      r.trailing.assign(bytes.begin(), bytes.end());
    }
    records = std::move(r);
    return true;
  } catch (const TextError& e) {
    error = e.path + ": " + e.what;
    return false;
  } catch (const Json::exception& e) {
    error = e.what();
    return false;
  }
}

bool GraphFileBytes(const std::vector<uint8_t>& content, const Registry& registry, std::vector<uint8_t>& bytes,
                    std::string& error) {
  if (!IsGraphText(content.data(), content.size())) {
    bytes = content;
    return true;
  }
  GraphFileRecords records;
  const std::string_view text(reinterpret_cast<const char*>(content.data()), content.size());
  if (!GraphFromText(text, registry, records, error)) return false;
  bytes = GraphBytes(records);
  return true;
}

bool IsTextGraphName(std::string_view path) {
  if (path.size() < 5) return false;
  std::string end(path.substr(path.size() - 5));
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return end == ".json";
}

namespace {

constexpr std::string_view kSavingMark = ".saving-";

// A save that was killed between writing its temporary file and renaming
// it leaves `NAME.saving-PID` beside the file. Such files of processes
// that no longer run are removed by the next save of the same file; the
// temporary files of saves still running (another editor) are left alone.
void RemoveStaleTemporaries(const std::filesystem::path& target) {
  std::error_code ec;
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  const std::string prefix = target.filename().string() + std::string(kSavingMark);
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const long pid = std::strtol(digits.c_str(), nullptr, 10);
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code removeError;
    if (it->is_regular_file(removeError)) std::filesystem::remove(it->path(), removeError);
  }
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  RemoveStaleTemporaries(path);
  const std::string temp = path + std::string(kSavingMark) + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot write " + path;
    return false;
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  // The new contents reach the disk before the name points at them, so a
  // crash of the machine leaves either the old file or the new one.
  const bool ok = written == bytes.size() && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !ok) {
    std::remove(temp.c_str());
    error = "cannot write " + path;
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    error = "cannot replace " + path;
    return false;
  }
  return true;
}

bool ConvertGraphFile(const std::string& in, const std::string& out, const Registry& registry, std::string& error) {
  std::vector<uint8_t> content;
  if (!ReadGraphFileContent(in, content, error)) return false;
  std::vector<uint8_t> bytes;
  if (!GraphFileBytes(content, registry, bytes, error)) {
    error = in + ": " + error;
    return false;
  }
  GraphFileRecords records;
  if (!ParseGraphBytes(bytes.data(), bytes.size(), records, error)) {
    error = in + ": not a graph file: " + error;
    return false;
  }
  std::vector<uint8_t> written = bytes;
  if (IsTextGraphName(out)) {
    const std::string text = GraphToText(records, registry);
    written.assign(text.begin(), text.end());
  }
  return ReplaceFileContents(out, written, error);
}

}  // namespace vorlan::host
