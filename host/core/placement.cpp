#include "core/placement.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <set>

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

namespace {

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

Rect Shifted(const Rect& r, int32_t dx, int32_t dy) { return Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; }

void Move(GraphDocument& document, FilterNode& node, int32_t dx, int32_t dy) {
  document.MoveNode(node, dx, dy);
  document.MoveEdgeEndsOfNode(node, dx, dy);
}

}  // namespace

Rect Footprint(const FilterNode& node) {
  Rect r = node.geometry.box;
  for (const Rect& pin : node.geometry.pinRects) {
    r.left = std::min(r.left, pin.left);
    r.top = std::min(r.top, pin.top);
    r.right = std::max(r.right, pin.right);
    r.bottom = std::max(r.bottom, pin.bottom);
  }
  const int32_t half = kNodeClearance / 2;
  return Rect{r.left - half, r.top - half, r.right + half, r.bottom + half};
}

Position NearestFreeOffset(const GraphDocument& document, const std::vector<int32_t>& group, int32_t grid,
                           int32_t maxSteps) {
  const std::set<int32_t> members(group.begin(), group.end());
  std::vector<Rect> moving, fixed;
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    const FilterNode* node = document.Node(i);
    (members.count(node->nodeId) != 0 ? moving : fixed).push_back(Footprint(*node));
  }
  if (moving.empty() || fixed.empty()) return Position{};
  const int32_t step = std::max(grid, 1);
  auto freeAt = [&](int32_t dx, int32_t dy) {
    for (const Rect& m : moving) {
      const Rect r = Shifted(m, dx, dy);
      for (const Rect& f : fixed)
        if (Overlap(r, f)) return false;
    }
    return true;
  };
  // Rings of growing Chebyshev distance; a ring can only hold a nearer
  // spot than the best so far while its own distance is below that one's.
  double best = std::numeric_limits<double>::infinity();
  Position found{};
  for (int32_t k = 0; k <= maxSteps && k * static_cast<double>(step) < best; ++k) {
    for (int32_t i = -k; i <= k; ++i) {
      const Position ring[4] = {{i * step, -k * step}, {i * step, k * step}, {-k * step, i * step}, {k * step, i * step}};
      for (const Position& p : ring) {
        const double d = std::hypot(static_cast<double>(p.x), static_cast<double>(p.y));
        if (d < best && freeAt(p.x, p.y)) {
          best = d;
          found = p;
        }
      }
    }
  }
  return found;
}

std::vector<int32_t> MakeRoomAround(GraphDocument& document, int32_t nodeId) {
  std::vector<int32_t> moved;
  std::deque<int32_t> grown{nodeId};
  // Every push moves a node right or down, away from the one it made room
  // for; a node is pushed at most once per node that grew, so this ends.
  int32_t budget = document.NodeCount() * document.NodeCount() + 1;
  while (!grown.empty() && budget-- > 0) {
    const FilterNode* pusher = document.NodeById(grown.front());
    grown.pop_front();
    if (pusher == nullptr) continue;
    const Rect p = Footprint(*pusher);
    for (int32_t i = 0; i < document.NodeCount(); ++i) {
      FilterNode* other = document.Node(i);
      if (other == pusher) continue;
      const Rect o = Footprint(*other);
      if (!Overlap(p, o)) continue;
      // Push along the axis that needs the smaller move, away from the pusher.
      const int32_t right = p.right - o.left;
      const int32_t down = p.bottom - o.top;
      const bool besides = o.left >= pusher->geometry.box.left && (right <= down || o.top < pusher->geometry.box.top);
      if (besides) {
        Move(document, *other, right, 0);
      } else {
        Move(document, *other, 0, down);
      }
      if (std::find(moved.begin(), moved.end(), other->nodeId) == moved.end()) moved.push_back(other->nodeId);
      grown.push_back(other->nodeId);
    }
  }
  return moved;
}

}  // namespace vorlan::host
