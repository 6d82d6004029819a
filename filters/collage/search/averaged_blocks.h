// Every fx x fy block average of the image, for each factor pair of the
// search, laid out so that a row of an averaged domain block is one
// contiguous run: the averages at x, x + fx, x + 2fx, ... of an image row sit
// side by side (one run per phase x mod fx). Domains turned by 90 degrees
// read the same runs and write them into the block's columns, so every
// candidate walks image rows, which neighbouring candidates share.
//
// Optionally a single-precision copy of every table, less the image mean,
// for the range scan's approximate pass (same layout, padded at the end so
// that vector loads may run past a row's last value).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "search/integral_image.h"

namespace vorlan::collage {

class AveragedBlocks {
 public:
  // False when the tables would exceed `byteBudget` or memory runs out; the
  // search then averages from the integral image instead. Also false when
  // `stop` (polled once per table row) is set.
  [[nodiscard]] bool Build(const IntegralImage& sums, int32_t minFactor, int32_t maxFactor, int64_t byteBudget,
                           const std::atomic<bool>* stop = nullptr, bool withFloats = false);

  // Values a vector load may read past the end of a single-precision row.
  static constexpr int32_t kFloatPadding = 32;

  // The averages of the blocks at (x, y), (x + fx, y), ... less Center(),
  // in single precision; only after a Build with floats.
  const float* FloatRow(int32_t fx, int32_t fy, int32_t x, int32_t y) const {
    const Table& t = tables_[Index(fx, fy)];
    return t.floats.get() + static_cast<int64_t>(y) * t.rowStride + static_cast<int64_t>(x % fx) * t.rowPhase + x / fx;
  }
  // Lane tables for candidates taken sixteen at a time along a row of
  // domain positions dx = m * stepX (only pairs whose fx divides stepX, L =
  // stepX / fx): segment b of image row y holds, at index M, the average of
  // the block at x = (M * L + b) * fx, less Center(), so that value j = a L +
  // b of the run at m is entry m + a of segment b, neighbouring m side by
  // side. Segments are padded for loads past the last position. False when
  // memory or the budget runs out (the scan then takes candidates singly).
  [[nodiscard]] bool BuildLanes(int32_t stepX, int64_t byteBudget);
  bool HaveLanes(int32_t fx, int32_t fy) const {
    return !lanes_.empty() && lanes_[Index(fx, fy)].step > 0;
  }
  int32_t LaneStep(int32_t fx, int32_t fy) const { return lanes_[Index(fx, fy)].step; }
  int64_t LaneSegmentLength(int32_t fx, int32_t fy) const { return lanes_[Index(fx, fy)].segment; }
  // Segment 0 of image row y; segment b follows b * LaneSegmentLength later.
  const float* LaneRow(int32_t fx, int32_t fy, int32_t y) const {
    const Lanes& l = lanes_[Index(fx, fy)];
    return l.values.get() + static_cast<int64_t>(y) * l.step * l.segment;
  }

  // Distance between rows y and y + 1 of one factor pair's table.
  int64_t RowStride(int32_t fx, int32_t fy) const { return tables_[Index(fx, fy)].rowStride; }
  bool HaveFloats() const { return haveFloats_; }
  // The image mean the single-precision tables are taken about.
  double Center() const { return center_; }

  // The averages of the blocks at (x, y), (x + fx, y), (x + 2fx, y), ...
  const double* Row(int32_t fx, int32_t fy, int32_t x, int32_t y) const {
    const Table& t = tables_[Index(fx, fy)];
    return t.rows.get() + static_cast<int64_t>(y) * t.rowStride + static_cast<int64_t>(x % fx) * t.rowPhase + x / fx;
  }

 private:
  struct Table {
    std::unique_ptr<double[]> rows;
    std::unique_ptr<float[]> floats;
    int64_t rowPhase = 0, rowStride = 0;
  };
  size_t Index(int32_t fx, int32_t fy) const {
    return static_cast<size_t>(fx - minFactor_) * static_cast<size_t>(factors_) + static_cast<size_t>(fy - minFactor_);
  }

  struct Lanes {
    std::unique_ptr<float[]> values;
    int32_t step = 0;     // L; 0 where fx does not divide the step
    int64_t segment = 0;  // values per segment
  };
  std::vector<Table> tables_;
  std::vector<Lanes> lanes_;
  int64_t width_ = 0, height_ = 0;
  int32_t minFactor_ = 1;
  int32_t factors_ = 0;
  bool haveFloats_ = false;
  double center_ = 0.0;
};

}  // namespace vorlan::collage
