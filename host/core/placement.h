// Where the editor puts new nodes: centred on a point of the document
// (the middle of what the user sees), on the grid, and never exactly on top
// of a node already there. Pure; any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "core/layout.h"

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

// The area a node needs on the canvas: its box, the pin squares hanging
// out of it, and clearance for the wires between neighbours.
Rect Footprint(const FilterNode& node);
inline constexpr int32_t kNodeClearance = 20;

// The shift, in whole grid steps and nearest to (0, 0), that moves every
// node of `group` (node ids) off the footprints of every other node. (0, 0)
// when they overlap nothing already, or when no free place is found within
// `maxSteps` grid steps (then the nodes stay where they are).
Position NearestFreeOffset(const GraphDocument& document, const std::vector<int32_t>& group, int32_t grid,
                           int32_t maxSteps = 200);

// After `nodeId` grew (a longer caption, more pins): nodes it now overlaps
// are pushed away (right of it to the right, below it down) until nothing
// overlaps it or them; returns the ids of the nodes moved.
std::vector<int32_t> MakeRoomAround(GraphDocument& document, int32_t nodeId);

}  // namespace vorlan::host
