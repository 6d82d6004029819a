// The arithmetic of one domain candidate against one range: the averaged
// domain block, the cross sums of its four orientations, the least-squares
// scale and offset, and the largest single-pixel difference. Runs without
// the encoder's lock on a worker's private buffers and read-only image data.
//
// Sums are accumulated in double precision, not extended precision; that
// can only change the choice between exactly tied candidates.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "fractal/domain_candidate.h"
#include "fractal/range_node.h"
#include "fractal/uniform_quantizer.h"
#include "search/averaged_blocks.h"
#include "search/integral_image.h"

namespace vorlan::collage {

// Polled between rows: the encoder's own stop flag and the worker's.
struct StopFlags {
  const std::atomic<bool>* encoder = nullptr;
  const std::atomic<bool>* worker = nullptr;
  bool Requested() const {
    return (encoder != nullptr && encoder->load(std::memory_order_relaxed)) ||
           (worker != nullptr && worker->load(std::memory_order_relaxed));
  }
};

// Orientation o = reverseRows * 2 + reverseColumns, the order in which the
// four orientations are tried.
inline constexpr int32_t kOrientations = 4;

// A range's values copied once in the four orientations, so that every cross
// sum is one contiguous dot product with the averaged domain block:
// sum R[i][j] * D[i'][j'] equals sum over the block of Ro[i][j] * D[i][j].
class RangeBlock {
 public:
  // False when memory runs out.
  [[nodiscard]] bool Load(const fractal::RangeNode& range);
  const fractal::RangeNode* Range() const { return range_; }
  const double* Oriented(int32_t orientation) const { return values_[orientation].data(); }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Count() const { return width_ * height_; }

 private:
  const fractal::RangeNode* range_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<double> values_[kOrientations];
};

// Builds the h x w averaged block D of `candidate` (dx, dy, fx, fy, rotate
// set; the domain must lie inside the image) into `block` and sets the
// candidate's domain size. Copies rows from `averages` when given, else sums
// from the integral image into `line` (at least w + 1 values).
// False when a stop was noticed (the block is abandoned).
bool BuildDomainBlock(const IntegralImage& sums, const AveragedBlocks* averages, int32_t w, int32_t h,
                      fractal::DomainCandidate& candidate, double* block, double* line, const StopFlags& stop);

// Asks the cache for the table rows BuildDomainBlock will read.
void PrefetchDomainBlock(const AveragedBlocks& averages, int32_t w, int32_t h, const fractal::DomainCandidate& c);

// The sum of D, the sum of its squares and the four cross sums X[o] with
// the range block.
void CrossSums(const double* block, const RangeBlock& range, double& sum, double& squareSum,
               double cross[kOrientations]);

// Fitting for one range: the quantisers and the scale bounds.
struct FitContext {
  const fractal::UniformQuantizer* scales = nullptr;
  const fractal::UniformQuantizer* offsets = nullptr;
  double scaleMin = -1.0;
  double scaleMax = 1.0;
};

// Least-squares scale and offset for the range (n values, sum, square sum)
// and the block (candidate.sum, candidate.squareSum) with cross sum X,
// quantised. Returns the RMS error of the quantised map, or -1.0 when the
// quantised scale falls outside the bounds (the candidate is left as it was).
double Fit(const FitContext& context, const fractal::RangeNode& range, double cross,
           fractal::DomainCandidate& candidate);

// Largest |R - (scale * D + offset)| over the range in the given orientation.
double MaxDifference(const double* block, const RangeBlock& range, int32_t orientation,
                     const fractal::DomainCandidate& candidate);

}  // namespace vorlan::collage
