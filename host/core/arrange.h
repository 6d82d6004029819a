// Arrange: lays a graph out left to right by data flow. Nodes go into
// layers (every edge runs from a layer to a later one; cycles are broken at
// edges that point back), the order inside each layer is chosen to cut
// crossings (median sweeps, with a place kept for edges that pass a layer),
// and the layers become columns. Pure computation; the caller moves the
// nodes (the editor as one undo step). Any thread.
#pragma once

#include <cstdint>
#include <vector>

namespace vorlan::host {

class GraphDocument;

struct ArrangedNode {
  int32_t nodeId = -1;
  int32_t x = 0;  // new node position (top-left corner of the box)
  int32_t y = 0;
};

struct ArrangeSpacing {
  int32_t columnGap = 90;  // between a layer's widest box and the next layer
  int32_t rowGap = 40;     // between boxes of one layer
  int32_t grid = 10;       // positions are multiples of it
};

// New positions of every node, the whole arrangement starting at the
// top-left corner of the graph as it was (at (10, 10) for an empty one).
std::vector<ArrangedNode> ArrangeGraph(const GraphDocument& document, const ArrangeSpacing& spacing = {});

}  // namespace vorlan::host
