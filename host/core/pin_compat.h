// Whether two pins can be joined by what they carry: the packet types an
// output publishes and an input accepts (the libraries' optional
// GetPinPacketTypes; a library that does not say allows anything).
// [ui thread, no run active]: asks the filters.
#pragma once

#include <cstdint>
#include <string>

namespace vorlan::host {

class GraphDocument;
struct FilterNode;

// The packet-type mask of a pin (bit 1 << PacketType code); 0 when the
// library does not say or the pin does not exist.
uint32_t PinPacketTypes(const GraphDocument& document, const FilterNode& node, int32_t pin);

// "Bytes", "Plane or IntArray", ...; "any packet" for 0.
std::string PacketTypesText(uint32_t mask);

// Empty when an edge from (from, fromPin) to (to, toPin) can carry
// something; else why not, for the status bar. Only an output or "Cfg out"
// feeding an input or "Cfg in" is checked: the model stores other edges as
// drawn.
std::string ConnectionProblem(const GraphDocument& document, const FilterNode& from, int32_t fromPin,
                              const FilterNode& to, int32_t toPin);

// The first pin of `node` of kind `kind` (PinKind code) that can meet a pin
// carrying `types` (0: any), -1 when none.
int32_t FirstMatchingPin(const GraphDocument& document, const FilterNode& node, int32_t kind, uint32_t types);

}  // namespace vorlan::host
