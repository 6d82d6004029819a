#include "border_deblocking.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fractal/code_layout.h"

namespace vorlan::attractor {

double OffsetQuantum(const fractal::CodeHeader& header) {
  if (header.offsetLevels < 2) return 0.0;
  const double lo = fractal::OffsetMin(header.lo, header.hi, header.maxScale);
  const double hi = fractal::OffsetMax(header.lo, header.hi, header.maxScale);
  const double quantum = (hi - lo) / (header.offsetLevels - 1);
  return std::isfinite(quantum) && quantum > 0.0 ? quantum : 0.0;
}

namespace {

// The four samples across one border, p1 p0 | q0 q1; at the picture's edge
// the outer sample is the inner one.
inline void FilterAcross(double& p1, double& p0, double& q0, double& q1, double stepLimit, double flatLimit,
                         double clip) {
  const double step = q0 - p0;
  if (!(std::fabs(step) < stepLimit)) return;
  if (!(std::fabs(p1 - p0) < flatLimit) || !(std::fabs(q1 - q0) < flatLimit)) return;
  // Zero on a straight ramp (q0 - p0 = q1 - q0 = p0 - p1), a quarter of
  // the step on a pure one, which leaves it spread over four samples.
  const double delta = std::clamp((3.0 * step - (q1 - p1)) * 0.125, -clip, clip);
  p0 += delta;
  q0 -= delta;
}

}  // namespace

void DeblockBorders(std::span<const DecoderRange> ranges, const double* p, double* q, int32_t width, int32_t height,
                    double quantum, const DeblockThresholds& thresholds) {
  const int64_t stride = width;
  std::memcpy(q, p, static_cast<size_t>(stride * height) * sizeof(double));
  if (!(quantum > 0.0) || !std::isfinite(quantum)) return;
  const double stepLimit = thresholds.step * quantum;
  const double flatLimit = thresholds.flatness * quantum;
  const double clip = thresholds.clip * quantum;
  auto at = [&](int64_t r, int64_t c) -> double& { return q[r * stride + c]; };
  // Left borders: samples x - 2, x - 1 | x, x + 1 along every row.
  for (const DecoderRange& range : ranges) {
    const int64_t x = range.x;
    if (x < 1 || x >= width) continue;
    const int64_t outerLeft = x >= 2 ? x - 2 : x - 1;
    const int64_t outerRight = x + 1 < width ? x + 1 : x;
    for (int64_t r = range.y; r < int64_t{range.y} + range.height; ++r) {
      double p1 = at(r, outerLeft), q1 = at(r, outerRight);
      FilterAcross(p1, at(r, x - 1), at(r, x), q1, stepLimit, flatLimit, clip);
    }
  }
  // Top borders: rows y - 2, y - 1 | y, y + 1 down every column.
  for (const DecoderRange& range : ranges) {
    const int64_t y = range.y;
    if (y < 1 || y >= height) continue;
    const int64_t outerTop = y >= 2 ? y - 2 : y - 1;
    const int64_t outerBottom = y + 1 < height ? y + 1 : y;
    for (int64_t c = range.x; c < int64_t{range.x} + range.width; ++c) {
      double p1 = at(outerTop, c), q1 = at(outerBottom, c);
      FilterAcross(p1, at(y - 1, c), at(y, c), q1, stepLimit, flatLimit, clip);
    }
  }
}

}  // namespace vorlan::attractor
