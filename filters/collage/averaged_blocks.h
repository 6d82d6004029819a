// Every fx x fy block average of the image, for each factor pair of the
// search, laid out so that a row of an averaged domain block is one
// contiguous run: the averages at x, x + fx, x + 2fx, ... of an image row sit
// side by side (one run per phase x mod fx). Domains turned by 90 degrees
// read the same runs and write them into the block's columns, so every
// candidate walks image rows, which neighbouring candidates share.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "integral_image.h"

namespace vorlan::collage {

class AveragedBlocks {
 public:
  // False when the tables would exceed `byteBudget` or memory runs out; the
  // search then averages from the integral image instead. Also false when
  // `stop` (polled once per table row) is set.
  [[nodiscard]] bool Build(const IntegralImage& sums, int32_t minFactor, int32_t maxFactor, int64_t byteBudget,
                           const std::atomic<bool>* stop = nullptr);

  // The averages of the blocks at (x, y), (x + fx, y), (x + 2fx, y), ...
  const double* Row(int32_t fx, int32_t fy, int32_t x, int32_t y) const {
    const Table& t = tables_[Index(fx, fy)];
    return t.rows.get() + static_cast<int64_t>(y) * t.rowStride + static_cast<int64_t>(x % fx) * t.rowPhase + x / fx;
  }

 private:
  struct Table {
    std::unique_ptr<double[]> rows;
    int64_t rowPhase = 0, rowStride = 0;
  };
  size_t Index(int32_t fx, int32_t fy) const {
    return static_cast<size_t>(fx - minFactor_) * static_cast<size_t>(factors_) + static_cast<size_t>(fy - minFactor_);
  }

  std::vector<Table> tables_;
  int32_t minFactor_ = 1;
  int32_t factors_ = 0;
};

}  // namespace vorlan::collage
