#include "core/pin_compat.h"

#include "core/graph_document.h"
#include "core/registry.h"
#include "vorlan/pin_types.h"

namespace vorlan::host {

namespace {

const char* PinName(const FilterNode& node, int32_t pin) {
  const Pin* p = node.filter->pins[pin];
  return p != nullptr && p->name != nullptr ? p->name : "";
}

int32_t KindOf(const FilterNode& node, int32_t pin) {
  if (node.filter == nullptr || pin < 0 || pin >= node.filter->pinCount || node.filter->pins[pin] == nullptr) return 0;
  return node.filter->pins[pin]->kind;
}

bool Meet(uint32_t a, uint32_t b) { return a == 0 || b == 0 || (a & b) != 0; }

}  // namespace

uint32_t PinPacketTypes(const GraphDocument& document, const FilterNode& node, int32_t pin) {
  if (KindOf(node, pin) == 0) return 0;
  const FilterPrototype* prototype = document.registry().FindPrototype(node.prototypeId);
  if (prototype == nullptr || prototype->library == nullptr) return 0;
  const GetPinPacketTypesFn get = prototype->library->entry.getPinPacketTypes;
  return get != nullptr ? get(node.filter, pin) : 0;
}

std::string PacketTypesText(uint32_t mask) {
  if (mask == 0) return "any packet";
  std::string text;
  for (int32_t type = 0; type < 32; ++type) {
    if ((mask & (1u << type)) == 0) continue;
    const char* name = PacketTypeName(type);
    if (*name == '\0') continue;
    if (!text.empty()) text += " or ";
    text += name;
  }
  return text.empty() ? "unknown packets" : text;
}

std::string ConnectionProblem(const GraphDocument& document, const FilterNode& from, int32_t fromPin,
                              const FilterNode& to, int32_t toPin) {
  const int32_t fromKind = KindOf(from, fromPin);
  const int32_t toKind = KindOf(to, toPin);
  const bool data = fromKind == static_cast<int32_t>(PinKind::Output) && toKind == static_cast<int32_t>(PinKind::Input);
  if (!data) return {};
  const uint32_t published = PinPacketTypes(document, from, fromPin);
  const uint32_t accepted = PinPacketTypes(document, to, toPin);
  if (Meet(published, accepted)) return {};
  std::string text;
  text.append(1, '"').append(PinName(from, fromPin)).append("\" of ").append(from.caption);
  text.append(" publishes ").append(PacketTypesText(published));
  text.append(", \"").append(PinName(to, toPin)).append("\" of ").append(to.caption);
  text.append(" accepts ").append(PacketTypesText(accepted));
  return text;
}

int32_t FirstMatchingPin(const GraphDocument& document, const FilterNode& node, int32_t kind, uint32_t types) {
  if (node.filter == nullptr) return -1;
  for (int32_t pin = 0; pin < node.filter->pinCount; ++pin) {
    if (KindOf(node, pin) != kind) continue;
    if (Meet(types, PinPacketTypes(document, node, pin))) return pin;
  }
  return -1;
}

}  // namespace vorlan::host
