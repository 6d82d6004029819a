// The decoder's kernel: one pass of every range transform from one image
// into the other, the distance between two passes, and the smoothing of
// range borders after the last pass. Images are width x height doubles, row
// by row; the two images of a pass never overlap.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "decode_plan.h"

namespace vorlan::attractor {

// Polled before every range row; true ends the pass early.
using StopPoll = std::function<bool()>;

// Working memory of one pass, sized once for a plan's largest range.
class PassScratch {
 public:
  // May throw std::bad_alloc.
  void Reserve(std::span<const DecoderRange> ranges);
  double* Lines() { return lines_.data(); }

 private:
  std::vector<double> lines_;
};

// Writes range `range` of `target` from `source`:
//   target(i, j) = offset + scale / (fx * fy) * (sum of the fx x fy block of
//   the domain that maps onto (i, j)),
// with the domain turned a quarter turn when `rotate` is set, then rows and
// columns mirrored as the isometry says. Returns false when `stop` answered
// true before a row (the range is left unfinished).
bool ApplyRange(const DecoderRange& range, const double* source, double* target, int32_t width, double* lines,
                const StopPoll& stop);

// Applies every range in list order. False when stopped inside the pass.
bool ApplyPass(std::span<const DecoderRange> ranges, const double* source, double* target, int32_t width,
               PassScratch& scratch, const StopPoll& stop);

// Root mean square of a - b over `count` samples.
double RmsDifference(const double* a, const double* b, int64_t count);

// Softens the seams between ranges: copies `p` into `q`, then rewrites the
// one or two lines on each inner side of every range edge from `p` with the
// weights 1:2 (outermost line) and 0:1:2:3 (next line). Edges on the image
// border are left as they are.
void SmoothBorders(std::span<const DecoderRange> ranges, const double* p, double* q, int32_t width, int32_t height);

}  // namespace vorlan::attractor
