#include "core/placement.h"

#include <algorithm>

#include "core/graph_document.h"
#include "core/graph_file.h"

namespace vorlan::host {

namespace {

int32_t Snap(int32_t v, int32_t grid) { return grid > 0 ? v / grid * grid : v; }

bool Taken(const GraphDocument& document, const FilterNode& self, Position p) {
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    const FilterNode* other = document.Node(i);
    if (other != &self && other->x == p.x && other->y == p.y) return true;
  }
  return false;
}

}  // namespace

Position FreePosition(const GraphDocument& document, const FilterNode& node, int32_t centreX,
                      int32_t centreY, int32_t grid) {
  const int32_t width = node.geometry.box.right - node.geometry.box.left;
  const int32_t height = node.geometry.box.bottom - node.geometry.box.top;
  // The box may start left of or above x, y (pins hang out): centre the box.
  const int32_t boxDx = node.geometry.box.left - node.x;
  const int32_t boxDy = node.geometry.box.top - node.y;
  const int32_t limit = kMaxCoordinate / 2;
  Position p{Snap(std::clamp(centreX - width / 2 - boxDx, -limit, limit), grid),
             Snap(std::clamp(centreY - height / 2 - boxDy, -limit, limit), grid)};
  const int32_t step = std::max(grid, 1) * 2;
  // Every node blocks at most one spot, so this ends within NodeCount steps.
  for (int32_t tries = 0; tries <= document.NodeCount() && Taken(document, node, p); ++tries) {
    p.x += step;
    p.y += step;
  }
  return p;
}

}  // namespace vorlan::host
