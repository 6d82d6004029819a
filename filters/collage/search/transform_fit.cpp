#include "search/transform_fit.h"

#include <cmath>
#include <cstring>
#include <new>

namespace vorlan::collage {

using fractal::DomainCandidate;
using fractal::RangeNode;

bool RangeBlock::Load(const RangeNode& range) {
  const int32_t w = range.width;
  const int32_t h = range.height;
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  try {
    for (auto& v : values_) v.resize(n);
  } catch (const std::bad_alloc&) {
    range_ = nullptr;
    return false;
  }
  for (int32_t i = 0; i < h; ++i) {
    const double* row = range.view.Row(i);
    double* plain = values_[0].data() + static_cast<size_t>(i) * w;
    double* columns = values_[1].data() + static_cast<size_t>(i) * w;
    double* rows = values_[2].data() + static_cast<size_t>(h - 1 - i) * w;
    double* both = values_[3].data() + static_cast<size_t>(h - 1 - i) * w;
    for (int32_t j = 0; j < w; ++j) {
      plain[j] = row[j];
      columns[w - 1 - j] = row[j];
      rows[j] = row[j];
      both[w - 1 - j] = row[j];
    }
  }
  range_ = &range;
  width_ = w;
  height_ = h;
  return true;
}

void PrefetchDomainBlock(const AveragedBlocks& averages, int32_t w, int32_t h, const DomainCandidate& c) {
  const int32_t lines = c.rotate == 0 ? h : w;
  for (int32_t k = 0; k < lines; ++k) {
    __builtin_prefetch(averages.Row(c.fx, c.fy, c.dx, c.dy + k * c.fy));
  }
}

bool BuildDomainBlock(const IntegralImage& sums, const AveragedBlocks* averages, int32_t w, int32_t h,
                      DomainCandidate& c, double* block, double* line, const StopFlags& stop) {
  c.SizeDomainFor(w, h);
  const double scale = 1.0 / (static_cast<double>(c.fx) * c.fy);
  if (averages != nullptr) {
    if (c.rotate == 0) {
      for (int32_t i = 0; i < h; ++i) {
        if (stop.Requested()) return false;
        const double* in = averages->Row(c.fx, c.fy, c.dx, c.dy + i * c.fy);
        double* out = block + static_cast<size_t>(i) * w;
        for (int32_t j = 0; j < w; ++j) out[j] = in[j];
      }
    } else {
      // Turned a quarter turn clockwise: column j of D is the image row
      // strip dy + (w-1-j)*fy ..., read left to right.
      for (int32_t j = 0; j < w; ++j) {
        if (stop.Requested()) return false;
        const double* in = averages->Row(c.fx, c.fy, c.dx, c.dy + (w - 1 - j) * c.fy);
        double* out = block + j;
        for (int32_t i = 0; i < h; ++i) out[static_cast<size_t>(i) * w] = in[i];
      }
    }
    return true;  // the block sum comes with the cross sums
  }
  for (int32_t i = 0; i < h; ++i) {
    if (stop.Requested()) return false;
    double* out = block + static_cast<size_t>(i) * w;
    if (c.rotate == 0) {
      // Row i of D averages image rows dy + i*fy ... + fy - 1; the column
      // differences of the table give the block sums along that strip.
      const double* top = sums.SumRow(c.dy + i * c.fy) + c.dx;
      const double* bottom = sums.SumRow(c.dy + (i + 1) * c.fy) + c.dx;
      for (int32_t k = 0; k <= w; ++k) line[k] = bottom[k * c.fx] - top[k * c.fx];
      for (int32_t j = 0; j < w; ++j) out[j] = scale * (line[j + 1] - line[j]);
    } else {
      // Turned a quarter turn clockwise: row i of D is image column strip
      // dx + i*fx ... + fx - 1 read bottom-up, taken from the transposed table.
      const double* left = sums.SumColumn(c.dx + i * c.fx) + c.dy;
      const double* right = sums.SumColumn(c.dx + (i + 1) * c.fx) + c.dy;
      for (int32_t k = 0; k <= w; ++k) line[k] = right[k * c.fy] - left[k * c.fy];
      for (int32_t j = 0; j < w; ++j) out[j] = scale * (line[w - j] - line[w - 1 - j]);
    }
  }
  return true;
}

namespace {

using Vec4 = double __attribute__((vector_size(32)));

// The hot loop of the search. Lane-wise vector sums keep the same order of
// additions in every clone, so results do not depend on the CPU.
// ThreadSanitizer instruments the clones' resolver, which the loader runs
// before the sanitizer's runtime exists; such builds keep the default clone.
#if defined(__SANITIZE_THREAD__)
#define VORLAN_DOTS_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VORLAN_DOTS_CLONES
#endif
#endif
#ifndef VORLAN_DOTS_CLONES
#define VORLAN_DOTS_CLONES __attribute__((target_clones("avx2", "default")))
#endif
VORLAN_DOTS_CLONES void Dots(const double* d, const double* r0,
                                                             const double* r1, const double* r2,
                                                             const double* r3, int32_t n, double out[6]) {
  Vec4 t{}, q{}, x0{}, x1{}, x2{}, x3{};
  int32_t k = 0;
  for (; k + 4 <= n; k += 4) {
    Vec4 dv, v0, v1, v2, v3;
    __builtin_memcpy(&dv, d + k, sizeof dv);
    __builtin_memcpy(&v0, r0 + k, sizeof v0);
    __builtin_memcpy(&v1, r1 + k, sizeof v1);
    __builtin_memcpy(&v2, r2 + k, sizeof v2);
    __builtin_memcpy(&v3, r3 + k, sizeof v3);
    t += dv;
    q += dv * dv;
    x0 += dv * v0;
    x1 += dv * v1;
    x2 += dv * v2;
    x3 += dv * v3;
  }
  double sum = (t[0] + t[1]) + (t[2] + t[3]);
  double sq = (q[0] + q[1]) + (q[2] + q[3]);
  double s0 = (x0[0] + x0[1]) + (x0[2] + x0[3]);
  double s1 = (x1[0] + x1[1]) + (x1[2] + x1[3]);
  double s2 = (x2[0] + x2[1]) + (x2[2] + x2[3]);
  double s3 = (x3[0] + x3[1]) + (x3[2] + x3[3]);
  for (; k < n; ++k) {
    sum += d[k];
    sq += d[k] * d[k];
    s0 += d[k] * r0[k];
    s1 += d[k] * r1[k];
    s2 += d[k] * r2[k];
    s3 += d[k] * r3[k];
  }
  out[0] = sq;
  out[1] = s0;
  out[2] = s1;
  out[3] = s2;
  out[4] = s3;
  out[5] = sum;
}

}  // namespace

void CrossSums(const double* block, const RangeBlock& range, double& sum, double& squareSum,
               double cross[kOrientations]) {
  double out[6];
  Dots(block, range.Oriented(0), range.Oriented(1), range.Oriented(2), range.Oriented(3), range.Count(), out);
  squareSum = out[0];
  sum = out[5];
  for (int32_t o = 0; o < kOrientations; ++o) cross[o] = out[o + 1];
}

namespace {
constexpr double kFlatBlockRatio = 1e-12;
}  // namespace

double Fit(const FitContext& context, const RangeNode& range, double cross, DomainCandidate& c) {
  const double n = static_cast<double>(range.width) * range.height;
  const double sumR = range.sum;
  const double sumD = c.sum;
  const double den = n * c.squareSum - sumD * sumD;
  double scale;
  int32_t scaleIndex;
  double o;
  // den is never negative in exact arithmetic (Cauchy-Schwarz); a flat block
  // whose rounded sums leave a few ulps of den is flat, not steep.
  if (den > n * c.squareSum * kFlatBlockRatio) {
    scaleIndex = context.scales->Quantize((n * cross - sumR * sumD) / den, scale);
    o = (sumR - scale * sumD) * (1.0 / n);
  } else {
    scaleIndex = context.scales->Quantize(0.0, scale);
    o = sumR * (1.0 / n);
  }
  double offset;
  const int32_t offsetIndex = context.offsets->Quantize(o, offset);
  if (scale < context.scaleMin || scale > context.scaleMax) return -1.0;
  c.scale = scale;
  c.offset = offset;
  c.scaleIndex = scaleIndex;
  c.offsetIndex = offsetIndex;
  const double radicand =
      (scale * (scale * c.squareSum - 2.0 * cross + 2.0 * offset * sumD) + offset * (offset * n - 2.0 * sumR) +
       range.squareSum) *
      (1.0 / n);
  // A near-exact fit can leave a radicand a few ulps below zero.
  return std::sqrt(radicand > 0.0 ? radicand : 0.0);
}

double MaxDifference(const double* block, const RangeBlock& range, int32_t orientation, const DomainCandidate& c) {
  const double* r = range.Oriented(orientation);
  double largest = 0.0;
  for (int32_t k = 0, n = range.Count(); k < n; ++k) {
    const double diff = std::fabs(r[k] - (c.scale * block[k] + c.offset));
    if (diff > largest) largest = diff;
  }
  return largest;
}

}  // namespace vorlan::collage
