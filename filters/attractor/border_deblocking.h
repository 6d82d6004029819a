// Edge-adaptive deblocking of range borders, the decoder's second kind of
// post-processing. A fractal code pastes every range from its own domain,
// so neighbouring ranges meet with a small step where the picture is
// smooth; a real edge of the picture that happens to lie on the border
// makes a large one. Across each border the filter looks at two samples on
// either side (p1 p0 | q0 q1) and moves p0 and q0 towards each other only
// when the step |q0 - p0| is small against the code's offset quantum and
// both sides are flat next to the border. Steps the offset levels could
// not have made are taken for picture content and left alone.
#pragma once

#include <cstdint>
#include <span>

#include "decode_plan.h"

namespace vorlan::attractor {

// Thresholds in offset quanta (the distance between two neighbouring
// offset levels of the code). The defaults were tuned on camera.bmp and
// astronaut's grey at 1000 to 8000 ranges: the flatness test and a small
// correction do the work; a wider correction blurs camera's fine texture.
struct DeblockThresholds {
  double step = 8.0;       // filter only where |q0 - p0| is below this
  double flatness = 1.5;   // ... and |p1 - p0|, |q1 - q0| below this
  double clip = 0.25;      // the correction of p0 and q0 is at most this
};

// The distance between neighbouring offset levels of `header`'s code, in
// plane units; 0 when the code has no usable offset quantiser.
double OffsetQuantum(const fractal::CodeHeader& header);

// Copies `p` into `q` and deblocks the inner borders of the ranges in `q`:
// first every left border (columns), then every top border (rows), so each
// border between two ranges is filtered once. `quantum` is in plane units;
// a quantum of 0 or below leaves q equal to p. A picture without steps
// (constant, or constant within rows across the borders) comes out as it
// went in.
void DeblockBorders(std::span<const DecoderRange> ranges, const double* p, double* q, int32_t width, int32_t height,
                    double quantum, const DeblockThresholds& thresholds = {});

}  // namespace vorlan::attractor
