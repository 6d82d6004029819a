// Where the editor puts new nodes: centred on a point of the document
// (the middle of what the user sees), on the grid, and never exactly on top
// of a node already there. Pure; any thread.
#pragma once

#include <cstdint>

namespace vorlan::host {

class GraphDocument;
struct FilterNode;

struct Position {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const Position&) const = default;
};

// Position for `node`'s top-left corner so that its box is centred on
// (centreX, centreY), snapped to `grid`; while another node of the document
// already sits at that position, the spot steps down and right by two grid
// steps.
Position FreePosition(const GraphDocument& document, const FilterNode& node, int32_t centreX,
                      int32_t centreY, int32_t grid);

}  // namespace vorlan::host
