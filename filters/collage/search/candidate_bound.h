// A cheap lower bound on the fitting error of a domain candidate, so that
// candidates that cannot beat a range's best so far are dropped before
// their four full cross sums are taken.
//
// With r the range minus its mean and D the averaged domain block, the
// least-squares error over every scale and offset is
//   n * rms^2 >= |r|^2 - cov^2 / var(D),   cov = sum r * D,
// and any quantised, bounded fit can only do worse. cov is bounded from a
// 2 x 2-averaged copy of both: splitting each into its block means P and
// the detail that averaging removes,
//   |cov| <= |sum P(r) P(D)| + |r - P(r)| * |D - P(D)|   (Cauchy-Schwarz),
// where the first sum has a quarter of the terms. Pixels of an odd last row
// or column count wholly as detail. The scale bound tightens it for blocks
// of little contrast: over |s| <= scaleMax the error is at least
// |r|^2 - 2 s cov + s^2 var(D) at the clamped best s.
#pragma once

#include <cstdint>
#include <vector>

#include "search/transform_fit.h"

namespace vorlan::collage {

class CandidateBound {
 public:
  // Ranges smaller than this are fitted directly: the bound would cost
  // about as much as the cross sums it saves.
  static constexpr int32_t kMinValues = 16;

  // Prepares the range side for all four orientations. False when memory
  // runs out or the range is too small to profit; the bound is then never
  // used.
  [[nodiscard]] bool Load(const RangeBlock& range, double rangeSum);
  // Whether the bound still pays for this range: after a trial of
  // kTrial candidates it stays in use only while it rejects most of them.
  bool Usable() const { return usable_ && (always_ || tried_ < kTrial || rejected_ * 4 >= tried_ * 3); }
  // Keeps the bound in use whatever it rejects (to check it never rejects
  // a winner).
  void KeepAlways(bool always) { always_ = always; }
  static constexpr int64_t kTrial = 128;
  // The range the bound was loaded for.
  const fractal::RangeNode* Range() const { return usable_ ? range_ : nullptr; }

  // Sets rejected[o] for each orientation whose best possible RMS error is
  // not below `error` (the range's best so far, >= 0). `magnitude` bounds
  // the size of the terms the fit's error is computed from, for a margin
  // that keeps rounding from rejecting a candidate that would have won.
  // Returns how many orientations were rejected.
  int32_t Reject(const double* block, double error, double scaleMax, double magnitude,
                 bool rejected[kOrientations]);

 private:
  bool usable_ = false;
  bool always_ = false;
  int64_t tried_ = 0, rejected_ = 0;  // candidates of this range, all four orientations rejected
  const fractal::RangeNode* range_ = nullptr;
  int32_t width_ = 0, height_ = 0;
  int32_t halfWidth_ = 0, halfHeight_ = 0;
  double n_ = 0.0;
  double centeredEnergy_ = 0.0;           // |r|^2
  std::vector<double> coarse_[kOrientations];  // 2 x 2 block sums of r, per orientation
  double detail_[kOrientations] = {};     // |r - P(r)|
  std::vector<double> blockSums_;         // the domain block's 2 x 2 sums
};

}  // namespace vorlan::collage
