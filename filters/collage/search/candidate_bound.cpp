#include "search/candidate_bound.h"

#include <cmath>
#include <new>

namespace vorlan::collage {

namespace {
// Relative safety margin on the squared error: far above the rounding of
// sums over a range, far below any difference that matters to the choice.
constexpr double kMargin = 1e-9;
// Same flat-block test as the fit: such blocks are left to the fit.
constexpr double kFlatBlockRatio = 1e-12;

#if defined(__SANITIZE_THREAD__)
#define VORLAN_BOUND_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VORLAN_BOUND_CLONES
#endif
#endif
#ifndef VORLAN_BOUND_CLONES
#define VORLAN_BOUND_CLONES __attribute__((target_clones("avx2", "default")))
#endif

using Vec4 = double __attribute__((vector_size(32)));

// Sum and sum of squares of n values.
VORLAN_BOUND_CLONES void SumAndSquares(const double* v, int32_t n, double& sum, double& squares) {
  Vec4 t{}, q{};
  int32_t k = 0;
  for (; k + 4 <= n; k += 4) {
    Vec4 x;
    __builtin_memcpy(&x, v + k, sizeof x);
    t += x;
    q += x * x;
  }
  sum = (t[0] + t[1]) + (t[2] + t[3]);
  squares = (q[0] + q[1]) + (q[2] + q[3]);
  for (; k < n; ++k) {
    sum += v[k];
    squares += v[k] * v[k];
  }
}

// Four dot products of `b` with a[0..3], n values each.
VORLAN_BOUND_CLONES void FourDots(const double* const a[kOrientations], const double* b, size_t n,
                                  double out[kOrientations]) {
  Vec4 x0{}, x1{}, x2{}, x3{};
  size_t k = 0;
  for (; k + 4 <= n; k += 4) {
    Vec4 bv, v0, v1, v2, v3;
    __builtin_memcpy(&bv, b + k, sizeof bv);
    __builtin_memcpy(&v0, a[0] + k, sizeof v0);
    __builtin_memcpy(&v1, a[1] + k, sizeof v1);
    __builtin_memcpy(&v2, a[2] + k, sizeof v2);
    __builtin_memcpy(&v3, a[3] + k, sizeof v3);
    x0 += bv * v0;
    x1 += bv * v1;
    x2 += bv * v2;
    x3 += bv * v3;
  }
  out[0] = (x0[0] + x0[1]) + (x0[2] + x0[3]);
  out[1] = (x1[0] + x1[1]) + (x1[2] + x1[3]);
  out[2] = (x2[0] + x2[1]) + (x2[2] + x2[3]);
  out[3] = (x3[0] + x3[1]) + (x3[2] + x3[3]);
  for (; k < n; ++k) {
    for (int32_t o = 0; o < kOrientations; ++o) out[o] += b[k] * a[o][k];
  }
}

// The 2 x 2 block sums of a w x h row-major array into `out`
// ((w / 2) x (h / 2)); returns the sum of their squares.
VORLAN_BOUND_CLONES double BlockSums(const double* v, int32_t w, int32_t h, double* out) {
  const int32_t hw = w / 2;
  const int32_t hh = h / 2;
  double squares = 0.0;
  for (int32_t bi = 0; bi < hh; ++bi) {
    const double* a = v + static_cast<size_t>(2 * bi) * w;
    const double* b = a + w;
    double* o = out + static_cast<size_t>(bi) * hw;
    for (int32_t bj = 0; bj < hw; ++bj) {
      const double s = (a[2 * bj] + a[2 * bj + 1]) + (b[2 * bj] + b[2 * bj + 1]);
      o[bj] = s;
      squares += s * s;
    }
  }
  return squares;
}
}  // namespace

bool CandidateBound::Load(const RangeBlock& range, double rangeSum) {
  usable_ = false;
  tried_ = rejected_ = 0;
  width_ = range.Width();
  height_ = range.Height();
  halfWidth_ = width_ / 2;
  halfHeight_ = height_ / 2;
  const int32_t count = range.Count();
  if (count < kMinValues || halfWidth_ == 0 || halfHeight_ == 0) return false;
  n_ = count;
  const double mean = rangeSum / n_;
  const size_t coarseCount = static_cast<size_t>(halfWidth_) * halfHeight_;
  std::vector<double> centered;
  try {
    centered.resize(static_cast<size_t>(count));
    blockSums_.resize(coarseCount);
    for (auto& c : coarse_) c.resize(coarseCount);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t o = 0; o < kOrientations; ++o) {
    const double* r = range.Oriented(o);
    double energy = 0.0;
    for (int32_t k = 0; k < count; ++k) {
      centered[k] = r[k] - mean;
      energy += centered[k] * centered[k];
    }
    if (o == 0) centeredEnergy_ = energy;
    // P(r) is a quarter of the block sum on each of the block's 4 pixels.
    const double coarseEnergy = 0.25 * BlockSums(centered.data(), width_, height_, coarse_[o].data());
    detail_[o] = std::sqrt(std::max(0.0, energy - coarseEnergy));
  }
  range_ = range.Range();
  usable_ = true;
  return true;
}

int32_t CandidateBound::Reject(const double* block, double error, double scaleMax, double magnitude,
                               bool rejected[kOrientations]) {
  for (int32_t o = 0; o < kOrientations; ++o) rejected[o] = false;
  if (!usable_ || !(error >= 0.0)) return 0;
  double sum = 0.0, squares = 0.0;
  SumAndSquares(block, width_ * height_, sum, squares);
  const double den = n_ * squares - sum * sum;  // n^2 var(D)
  if (!(den > n_ * squares * kFlatBlockRatio)) {
    ++tried_;
    return 0;
  }
  const double coarseSquares = 0.25 * BlockSums(block, width_, height_, blockSums_.data());
  const double domainDetail = std::sqrt(std::max(0.0, squares - coarseSquares));
  const double target = n_ * error * error + kMargin * magnitude;
  const double* coarse[kOrientations] = {coarse_[0].data(), coarse_[1].data(), coarse_[2].data(),
                                         coarse_[3].data()};
  double coarseCross[kOrientations];
  FourDots(coarse, blockSums_.data(), blockSums_.size(), coarseCross);
  // |D - mean|^2; the scale that best fits a covariance c is c / variance,
  // and no scale beyond scaleMax may be used.
  const double variance = den / n_;
  int32_t count_rejected = 0;
  for (int32_t o = 0; o < kOrientations; ++o) {
    const double cov = 0.25 * std::fabs(coarseCross[o]) + detail_[o] * domainDetail;
    // Over |s| <= scaleMax: n * rms^2 >= |r|^2 - 2 s cov + s^2 var(D).
    double lowest;
    if (cov <= scaleMax * variance) {
      lowest = centeredEnergy_ - cov * cov / variance;
    } else {
      lowest = centeredEnergy_ - 2.0 * scaleMax * cov + scaleMax * scaleMax * variance;
    }
    if (lowest > target) {
      rejected[o] = true;
      ++count_rejected;
    }
  }
  ++tried_;
  if (count_rejected == kOrientations) ++rejected_;
  return count_rejected;
}

}  // namespace vorlan::collage
