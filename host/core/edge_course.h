// The course an edge is drawn along, in document coordinates: the straight
// line between its pins' centres, or a cubic curve that leaves and enters
// each pin along the pin's side (outputs to the right, inputs from the
// left, configuration pins downwards) and runs along it for half the
// distance between the ends measured along that side, at least kLeastBend. The view draws it, the
// view's hit test follows it and Arrange keeps node boxes off it. Any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "core/layout.h"

namespace vorlan::host {

class GraphDocument;
struct FilterNode;
struct GraphEdge;

struct CoursePoint {
  double x = 0;
  double y = 0;
};

struct EdgeCurve {
  CoursePoint from, c1, c2, to;  // ends and the two control points
};

inline constexpr double kLeastBend = 40;

// The unit vector pointing out of the node along the side of `pin`; (0, 0)
// for a pin the node does not have or of an unknown kind.
CoursePoint PinSide(const FilterNode* node, int32_t pin);

// The curve between two pin centres leaving along `fromSide`, entering
// against `toSide`.
EdgeCurve CurveBetween(CoursePoint from, CoursePoint fromSide, CoursePoint to, CoursePoint toSide);

// The curve of `edge` at its stored pin centres.
EdgeCurve CurveOf(const GraphDocument& document, const GraphEdge& edge);

// The point at parameter t in [0, 1].
CoursePoint PointAt(const EdgeCurve& curve, double t);

// The curve as `segments` chords (segments + 1 points); the straight course
// is the two ends.
void FlattenCurve(const EdgeCurve& curve, int segments, std::vector<CoursePoint>& points);

// The smallest rectangle holding the curve: that of its four control points
// (a cubic stays inside their convex hull). Right and bottom rounded up.
Rect CurveBounds(const EdgeCurve& curve);

// Whether the chord from a to b meets the inside of `box` (exclusive right
// and bottom edges, as node boxes are stored).
bool ChordMeetsBox(CoursePoint a, CoursePoint b, const Rect& box);

}  // namespace vorlan::host
