#include "search/averaged_blocks.h"

#include <new>

namespace vorlan::collage {

bool AveragedBlocks::Build(const IntegralImage& sums, int32_t minFactor, int32_t maxFactor, int64_t byteBudget,
                           const std::atomic<bool>* stop, bool withFloats) {
  tables_.clear();
  lanes_.clear();
  haveFloats_ = false;
  const int64_t w = sums.Width();
  const int64_t h = sums.Height();
  const int64_t factors = int64_t{maxFactor} - minFactor + 1;
  if (factors < 1 || minFactor < 1) return false;
  // Each pair holds about one image's worth of doubles (and of floats).
  const int64_t entryBytes = withFloats ? 12 : 8;
  int64_t bytes = 0;
  for (int64_t fx = minFactor; fx <= maxFactor; ++fx) {
    for (int64_t fy = minFactor; fy <= maxFactor; ++fy) {
      bytes += entryBytes * (h * fx * ((w + fx - 1) / fx) + kFloatPadding);
      if (bytes > byteBudget) return false;
    }
  }
  center_ = w > 0 && h > 0 ? sums.BoxSum(0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)) /
                                 (static_cast<double>(w) * static_cast<double>(h))
                           : 0.0;
  minFactor_ = minFactor;
  factors_ = static_cast<int32_t>(factors);
  width_ = w;
  height_ = h;
  try {
    tables_.resize(static_cast<size_t>(factors * factors));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t fx = minFactor; fx <= maxFactor; ++fx) {
    for (int32_t fy = minFactor; fy <= maxFactor; ++fy) {
      Table& t = tables_[Index(fx, fy)];
      t.rowPhase = (w + fx - 1) / fx;
      t.rowStride = fx * t.rowPhase;
      t.rows.reset(new (std::nothrow) double[static_cast<size_t>(h * t.rowStride)]());
      if (withFloats) t.floats.reset(new (std::nothrow) float[static_cast<size_t>(h * t.rowStride + kFloatPadding)]());
      if (!t.rows || (withFloats && !t.floats)) {
        tables_.clear();
        return false;
      }
      const double scale = 1.0 / (static_cast<double>(fx) * fy);
      // Only blocks inside the image have averages; the rest stay 0 and are
      // never read, since a domain must end inside the image.
      for (int64_t y = 0; y + fy <= h; ++y) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
          tables_.clear();
          return false;
        }
        const double* top = sums.SumRow(static_cast<int32_t>(y));
        const double* bottom = sums.SumRow(static_cast<int32_t>(y + fy));
        double* row = t.rows.get() + y * t.rowStride;
        for (int64_t x = 0; x + fx <= w; ++x) {
          const double average = scale * ((bottom[x + fx] - top[x + fx]) - (bottom[x] - top[x]));
          row[(x % fx) * t.rowPhase + x / fx] = average;
        }
        if (withFloats) {
          float* floats = t.floats.get() + y * t.rowStride;
          for (int64_t k = 0; k < t.rowStride; ++k) floats[k] = static_cast<float>(row[k] - center_);
        }
      }
    }
  }
  haveFloats_ = withFloats;
  return true;
}

bool AveragedBlocks::BuildLanes(int32_t stepX, int64_t byteBudget) {
  lanes_.clear();
  if (tables_.empty() || stepX < 1) return false;
  const int32_t maxFactor = minFactor_ + factors_ - 1;
  int64_t bytes = 0;
  for (int32_t fx = minFactor_; fx <= maxFactor; ++fx) {
    if (stepX % fx != 0) continue;
    const int64_t positions = width_ / fx;  // blocks of phase 0 along a row
    const int64_t step = stepX / fx;
    bytes += factors_ * 4 * height_ * step * ((positions + step - 1) / step + 2 * kFloatPadding);
  }
  if (bytes > byteBudget) return false;
  try {
    lanes_.resize(tables_.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t fx = minFactor_; fx <= maxFactor; ++fx) {
    if (stepX % fx != 0) continue;
    const int64_t positions = width_ / fx;
    const int32_t step = stepX / fx;
    for (int32_t fy = minFactor_; fy <= maxFactor; ++fy) {
      Lanes& l = lanes_[Index(fx, fy)];
      l.segment = (positions + step - 1) / step + 2 * kFloatPadding;
      l.values.reset(new (std::nothrow) float[static_cast<size_t>(height_ * step * l.segment)]());
      if (!l.values) {
        lanes_.clear();
        return false;
      }
      l.step = step;
      for (int64_t y = 0; y + fy <= height_; ++y) {
        const double* row = Row(fx, fy, 0, static_cast<int32_t>(y));
        float* out = l.values.get() + y * step * l.segment;
        for (int64_t u = 0; u < positions; ++u) {
          out[(u % step) * l.segment + u / step] = static_cast<float>(row[u] - center_);
        }
      }
    }
  }
  return true;
}

}  // namespace vorlan::collage
