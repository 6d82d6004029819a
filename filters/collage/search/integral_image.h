// Summed-area tables of the image values and of their squares, so any box
// sum costs four reads. A transposed copy of the value table serves domain
// blocks turned by 90 degrees with row-wise reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace vorlan::collage {

class IntegralImage {
 public:
  // From width x height samples, row r starting width values after row r-1.
  // False when memory runs out or `stop` (polled once per row) is set.
  [[nodiscard]] bool Build(const double* samples, int32_t width, int32_t height,
                           const std::atomic<bool>* stop = nullptr);

  // Sum of the values (or squares) in the w x h box at (x, y).
  double BoxSum(int32_t x, int32_t y, int32_t w, int32_t h) const {
    return Box(sum_.get(), x, y, w, h);
  }
  double BoxSquareSum(int32_t x, int32_t y, int32_t w, int32_t h) const {
    return Box(square_.get(), x, y, w, h);
  }

  // Row r (0 ... height) of the value table, width + 1 entries.
  const double* SumRow(int32_t r) const { return sum_.get() + static_cast<int64_t>(r) * stride_; }
  // Column c (0 ... width) of the value table as a row of height + 1 entries.
  const double* SumColumn(int32_t c) const {
    return transposed_.get() + static_cast<int64_t>(c) * (height_ + 1);
  }

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

 private:
  double Box(const double* t, int32_t x, int32_t y, int32_t w, int32_t h) const {
    const double* top = t + static_cast<int64_t>(y) * stride_;
    const double* bottom = t + static_cast<int64_t>(y + h) * stride_;
    return bottom[x + w] - bottom[x] - top[x + w] + top[x];
  }

  std::unique_ptr<double[]> sum_;
  std::unique_ptr<double[]> square_;
  std::unique_ptr<double[]> transposed_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int64_t stride_ = 0;
};

}  // namespace vorlan::collage
