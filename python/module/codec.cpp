#include "codec.h"

#include <cstring>
#include <memory>

#include "core/graph_document.h"
#include "core/layout.h"
#include "core/settings_by_name.h"
#include "vorlan/settings_values.h"

namespace vorlan::python {
namespace {

// The pieces of a code that travel in a packed stream: the header, and the
// arrays a decoder needs to rebuild the ranges from the partition tree.
constexpr const char* kShippedPins[] = {"HDR", "SI", "OI", "TRN", "DP", "DF", "RTD", "RTT"};

Pin* PinNamed(const host::FilterNode& node, const char* name, PinKind kind) {
  const Filter& f = *node.filter;
  for (int32_t i = 0; i < f.pinCount; ++i) {
    const Pin* pin = f.pins[i];
    if (pin != nullptr && pin->kind == static_cast<int32_t>(kind) && pin->name != nullptr &&
        std::strcmp(pin->name, name) == 0) {
      return f.pins[i];
    }
  }
  throw CodecRefusal{std::string("the filter \"") + f.info.name + "\" has no pin \"" + name + "\""};
}

// A scratch document holding the chain's nodes; its run controller stays idle.
class Chain {
 public:
  explicit Chain(const host::Registry& registry) : document_(registry, measure_) {}

  host::FilterNode& Add(int32_t filterId, const char* what) {
    const host::FilterPrototype* prototype = document_.registry().FindPrototypeByFilterId(filterId);
    if (prototype == nullptr) {
      throw CodecRefusal{std::string("the ") + what + " plug-in (filter id " + std::to_string(filterId) +
                         ") is not installed"};
    }
    const int32_t index = document_.InsertNode(prototype->id);
    if (index < 0) throw CodecRefusal{std::string("the ") + what + " could not be created"};
    host::FilterNode& node = *document_.Node(index);
    nodes_.push_back(&node);
    return node;
  }

  // The node's settings: its defaults, then `settings` by identifier.
  void Configure(host::FilterNode& node, const NamedSettings& settings) {
    const host::FilterPrototype* prototype = host::PrototypeOf(document_, node);
    const std::string name = node.filter->info.name;
    if (prototype == nullptr || prototype->settings == nullptr) {
      throw CodecRefusal{"the " + name + " does not describe its settings"};
    }
    const SettingsDescription& d = *prototype->settings;
    std::vector<SettingValue> values = DefaultSettingValues(d);
    for (const auto& [identifier, text] : settings) {
      const SettingField* field = FindSettingField(d, identifier);
      if (field == nullptr) {
        std::string known;
        for (int32_t i = 0; i < d.fieldCount; ++i) known += (i > 0 ? ", " : "") + std::string(d.fields[i].identifier);
        throw CodecRefusal{"the " + name + " has no setting \"" + identifier + "\"; its settings are: " + known};
      }
      std::string why;
      if (!ParseSettingValue(*field, text, values[static_cast<size_t>(field - d.fields)], why)) {
        throw CodecRefusal{name + " setting \"" + identifier + "\" (" + SettingTypeName(field->type) + "): " + why};
      }
    }
    std::string error;
    if (!host::WriteNodeSettings(document_, node, values, error)) throw CodecRefusal{name + ": " + error};
    if (node.library->entry.checkSettings != nullptr) {
      const char* problem = node.library->entry.checkSettings(node.filter);
      if (problem != nullptr && *problem != '\0') throw CodecRefusal{name + ": " + problem};
    }
  }

  const std::vector<host::FilterNode*>& Nodes() const { return nodes_; }

 private:
  host::FixedTextMeasure measure_;
  host::GraphDocument document_;
  std::vector<host::FilterNode*> nodes_;
};

// The code's pieces from `from`'s outputs to `to`'s inputs, by name.
void ConnectCode(const host::FilterNode& from, const host::FilterNode& to) {
  for (const char* name : kShippedPins) {
    ConnectPins(PinNamed(to, name, PinKind::Input), PinNamed(from, name, PinKind::Output));
  }
}

}  // namespace

void EncodePlane(const host::Registry& registry, const Plane& plane, const NamedSettings& settings,
                 const NamedSettings& packerSettings, const std::function<bool()>& interrupt,
                 std::vector<uint8_t>& code, ChainOutcome& outcome) {
  Chain chain(registry);
  host::FilterNode& encoder = chain.Add(kHvEncoderId, "HV encoder");
  host::FilterNode& packer = chain.Add(kHvPackerId, "HV code packer");
  chain.Configure(encoder, settings);
  chain.Configure(packer, packerSettings);

  // The caller's plane, published on a pin of our own.
  Plane record = plane;
  Pin source{};
  source.kind = static_cast<int32_t>(PinKind::Output);
  Publish(&source, MakePacket(sizeof(Plane), PacketType::Plane, &record));
  ConnectPins(PinNamed(encoder, "In", PinKind::Input), &source);
  ConnectCode(encoder, packer);

  outcome = RunChain(chain.Nodes(), interrupt);
  if (outcome.result != Ok) return;
  const Pin* out = PinNamed(packer, "Out", PinKind::Output);
  const auto* bytes = static_cast<const uint8_t*>(out->packet.data);
  code.assign(bytes, bytes + out->packet.length);
}

void DecodeCode(const host::Registry& registry, const uint8_t* data, int32_t length, const NamedSettings& settings,
                const std::function<bool()>& interrupt, DecodedPlane& plane, ChainOutcome& outcome) {
  Chain chain(registry);
  host::FilterNode& unpacker = chain.Add(kHvUnpackerId, "HV code unpacker");
  host::FilterNode& decoder = chain.Add(kHvDecoderId, "HV decoder");
  chain.Configure(decoder, settings);

  Pin source{};
  source.kind = static_cast<int32_t>(PinKind::Output);
  static uint8_t empty = 0;
  Publish(&source, MakePacket(length, PacketType::Bytes, length > 0 ? const_cast<uint8_t*>(data) : &empty));
  ConnectPins(PinNamed(unpacker, "In", PinKind::Input), &source);
  ConnectCode(unpacker, decoder);

  outcome = RunChain(chain.Nodes(), interrupt);
  if (outcome.result != Ok) return;
  const Pin* out = PinNamed(decoder, "Out", PinKind::Output);
  if (out->packet.type != static_cast<int32_t>(PacketType::Plane) || out->packet.data == nullptr ||
      out->packet.length != static_cast<int32_t>(sizeof(Plane))) {
    outcome = {Failed, false, "HV decoder: published no plane"};
    return;
  }
  const Plane& p = *static_cast<const Plane*>(out->packet.data);
  plane.width = p.width;
  plane.height = p.height;
  plane.min = p.min;
  plane.max = p.max;
  plane.samples.assign(p.samples, p.samples + int64_t{p.width} * p.height);
}

}  // namespace vorlan::python
