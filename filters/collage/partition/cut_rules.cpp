#include "partition/cut_rules.h"

#include <cmath>
#include <limits>

namespace vorlan::collage {

using fractal::RangeNode;
using fractal::SplitDirection;

namespace {

// The line index with the largest biased difference between neighbouring
// line sums; 0 when none exceeds 0. `lineSum(k)` is the sum of line k,
// `scale` the reciprocal of the summed lines' length minus one (infinite for
// one-pixel lines: a positive product becomes infinite and wins, a zero
// product is not a number and never wins).
template <class LineSum>
void ScanLines(int32_t lines, double scale, LineSum lineSum, double& best, int32_t& index) {
  best = 0.0;
  index = 0;
  if (lines <= 1) return;
  double previous = lineSum(0);
  for (int32_t i = 0; i + 1 < lines; ++i) {
    const double next = lineSum(i + 1);
    const int32_t bias = i < lines - 1 - i ? i : lines - 1 - i;
    const double value = std::fabs(previous - next) * bias * scale;
    if (value > best) {
      best = value;
      index = i;
    }
    previous = next;
  }
}

bool Fits(int32_t position, int32_t side, int32_t minSize) {
  return position >= minSize && int64_t{side} - position >= minSize;
}

}  // namespace

SplitDecision EdgeScanCut::Decide(const RangeNode& node, const IntegralImage& sums, int32_t minSize) const {
  const int32_t w = node.width;
  const int32_t h = node.height;
  constexpr double kInfinite = std::numeric_limits<double>::infinity();
  double bestRow = 0.0;
  double bestCol = 0.0;
  int32_t a = 0;
  int32_t d = 0;
  if (h > 1) {
    const double scale = w > 1 ? 1.0 / (w - 1) : kInfinite;
    ScanLines(h, scale, [&](int32_t r) { return sums.BoxSum(node.x, node.y + r, w, 1); }, bestRow, a);
  }
  if (w > 1) {
    const double scale = h > 1 ? 1.0 / (h - 1) : kInfinite;
    ScanLines(w, scale, [&](int32_t c) { return sums.BoxSum(node.x + c, node.y, 1, h); }, bestCol, d);
  }
  const bool rows = w < 2 || (h >= 2 && (bestRow > bestCol || (bestRow == bestCol && w <= h)));

  SplitDecision decision;
  decision.direction = rows ? SplitDirection::Rows : SplitDirection::Columns;
  int32_t side = rows ? h : w;
  decision.position = Place(rows ? a : d, side, minSize);
  if (Fits(decision.position, side, minSize)) {
    decision.ok = true;
    return decision;
  }
  decision.direction = rows ? SplitDirection::Columns : SplitDirection::Rows;
  side = rows ? w : h;
  decision.position = Place(rows ? d : a, side, minSize);
  decision.ok = Fits(decision.position, side, minSize);
  return decision;
}

int32_t BeforeEdgeCut::Place(int32_t index, int32_t side, int32_t minSize) const {
  int32_t position = index;
  if (position == 0) position = side / 2;
  if (position < minSize || side - position < minSize) position = minSize;
  return position;
}

int32_t OnEdgeCut::Place(int32_t index, int32_t side, int32_t minSize) const {
  // Index 0 never wins the scan (its bias is 0), so it means "no edge".
  int32_t position = index == 0 ? side / 2 : index + 1;
  if (int64_t{side} - position < minSize) position = side - minSize;
  if (position < minSize) position = minSize;
  return position;
}

namespace {

// Squared deviation from the mean of n values with sum s and square sum q.
double Deviation(double s, double q, double n) { return n > 0 ? q - s * s / n : 0.0; }

}  // namespace

SplitDecision LeastDeviationCut::Decide(const RangeNode& node, const IntegralImage& sums, int32_t minSize) const {
  SplitDecision decision;
  double least = std::numeric_limits<double>::infinity();
  double leastBalance = 2.0;
  const double total = sums.BoxSum(node.x, node.y, node.width, node.height);
  const double totalSquares = sums.BoxSquareSum(node.x, node.y, node.width, node.height);
  const double area = static_cast<double>(node.width) * node.height;
  auto consider = [&](SplitDirection direction, int32_t side, int32_t across) {
    for (int32_t p = minSize; int64_t{side} - p >= minSize; ++p) {
      const bool rows = direction == SplitDirection::Rows;
      const double s = rows ? sums.BoxSum(node.x, node.y, node.width, p) : sums.BoxSum(node.x, node.y, p, node.height);
      const double q = rows ? sums.BoxSquareSum(node.x, node.y, node.width, p)
                            : sums.BoxSquareSum(node.x, node.y, p, node.height);
      const double n = static_cast<double>(p) * across;
      const double cost = Deviation(s, q, n) + Deviation(total - s, totalSquares - q, area - n);
      // Costs equal up to rounding (a flat range) prefer the more even cut.
      const double balance = std::fabs(2.0 * p - side) / side;
      const double slack = 1e-9 * (std::fabs(least) + 1.0);
      if (cost < least - slack || (cost <= least + slack && balance < leastBalance)) {
        leastBalance = balance;
        least = cost;
        decision.ok = true;
        decision.position = p;
        decision.direction = direction;
      }
    }
  };
  consider(SplitDirection::Rows, node.height, node.width);
  consider(SplitDirection::Columns, node.width, node.height);
  return decision;
}

std::unique_ptr<CutRule> MakeCutRule(int32_t mode) {
  if (mode == 2 || mode == 3) return std::make_unique<OnEdgeCut>();
  return std::make_unique<BeforeEdgeCut>();
}

}  // namespace vorlan::collage
