#include "core/edge_course.h"

#include <algorithm>
#include <cmath>

#include "core/graph_document.h"

namespace vorlan::host {

CoursePoint PinSide(const FilterNode* node, int32_t pin) {
  if (node == nullptr || node->filter == nullptr || pin < 0 || pin >= node->filter->pinCount ||
      node->filter->pins[pin] == nullptr)
    return {};
  switch (static_cast<PinKind>(node->filter->pins[pin]->kind)) {
    case PinKind::Input: return {-1, 0};
    case PinKind::Output: return {1, 0};
    case PinKind::ConfigIn:
    case PinKind::ConfigOut: return {0, 1};
    default: return {};
  }
}

EdgeCurve CurveBetween(CoursePoint from, CoursePoint fromSide, CoursePoint to, CoursePoint toSide) {
  // Each end runs along its side for half the distance the ends lie apart
  // that way: the curve then never swings past the other end's column (or
  // row) for ends far apart across the side.
  const double dx = to.x - from.x, dy = to.y - from.y;
  const double fromBend = std::max(kLeastBend, std::abs(dx * fromSide.x + dy * fromSide.y) / 2);
  const double toBend = std::max(kLeastBend, std::abs(dx * toSide.x + dy * toSide.y) / 2);
  return EdgeCurve{from, {from.x + fromSide.x * fromBend, from.y + fromSide.y * fromBend},
                   {to.x + toSide.x * toBend, to.y + toSide.y * toBend}, to};
}

EdgeCurve CurveOf(const GraphDocument& document, const GraphEdge& edge) {
  return CurveBetween({static_cast<double>(edge.fromX), static_cast<double>(edge.fromY)},
                      PinSide(document.NodeById(edge.fromNode), edge.fromPin),
                      {static_cast<double>(edge.toX), static_cast<double>(edge.toY)},
                      PinSide(document.NodeById(edge.toNode), edge.toPin));
}

CoursePoint PointAt(const EdgeCurve& c, double t) {
  const double u = 1 - t;
  const double a = u * u * u, b = 3 * u * u * t, d = 3 * u * t * t, e = t * t * t;
  return {a * c.from.x + b * c.c1.x + d * c.c2.x + e * c.to.x, a * c.from.y + b * c.c1.y + d * c.c2.y + e * c.to.y};
}

void FlattenCurve(const EdgeCurve& curve, int segments, std::vector<CoursePoint>& points) {
  points.clear();
  const int n = std::max(segments, 1);
  for (int k = 0; k <= n; ++k) points.push_back(PointAt(curve, static_cast<double>(k) / n));
}

Rect CurveBounds(const EdgeCurve& c) {
  const double left = std::min({c.from.x, c.c1.x, c.c2.x, c.to.x});
  const double top = std::min({c.from.y, c.c1.y, c.c2.y, c.to.y});
  const double right = std::max({c.from.x, c.c1.x, c.c2.x, c.to.x});
  const double bottom = std::max({c.from.y, c.c1.y, c.c2.y, c.to.y});
  return Rect{static_cast<int32_t>(std::floor(left)), static_cast<int32_t>(std::floor(top)),
              static_cast<int32_t>(std::ceil(right)) + 1, static_cast<int32_t>(std::ceil(bottom)) + 1};
}

bool ChordMeetsBox(CoursePoint a, CoursePoint b, const Rect& box) {
  // Liang-Barsky clipping of the chord against the open box.
  double t0 = 0, t1 = 1;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - box.left, box.right - a.x, a.y - box.top, box.bottom - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] <= 0) return false;  // parallel to that side and outside it
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, r);
    } else {
      t1 = std::min(t1, r);
    }
    if (t0 > t1) return false;
  }
  // Only touching a side is not meeting the inside.
  if (t1 - t0 > 1e-9) return true;
  const double x = a.x + dx * t0, y = a.y + dy * t0;
  return x > box.left && x < box.right && y > box.top && y < box.bottom;
}

}  // namespace vorlan::host
