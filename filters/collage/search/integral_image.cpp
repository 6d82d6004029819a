#include "search/integral_image.h"

#include <new>

namespace vorlan::collage {

bool IntegralImage::Build(const double* samples, int32_t width, int32_t height, const std::atomic<bool>* stop) {
  auto stopped = [stop] { return stop != nullptr && stop->load(std::memory_order_relaxed); };
  width_ = width;
  height_ = height;
  stride_ = int64_t{width} + 1;
  const int64_t cells = stride_ * (int64_t{height} + 1);
  sum_.reset(new (std::nothrow) double[cells]);
  square_.reset(new (std::nothrow) double[cells]);
  transposed_.reset(new (std::nothrow) double[cells]);
  if (!sum_ || !square_ || !transposed_) {
    sum_.reset();
    square_.reset();
    transposed_.reset();
    return false;
  }
  for (int64_t c = 0; c < stride_; ++c) sum_[c] = square_[c] = 0.0;
  for (int32_t r = 1; r <= height; ++r) {
    if (stopped()) return false;
    const double* in = samples + static_cast<int64_t>(r - 1) * width;
    double* s = sum_.get() + r * stride_;
    double* q = square_.get() + r * stride_;
    const double* sAbove = s - stride_;
    const double* qAbove = q - stride_;
    s[0] = q[0] = 0.0;
    // Running sums along the row, added to the row above.
    double rowSum = 0.0;
    double rowSquares = 0.0;
    for (int32_t c = 1; c <= width; ++c) {
      const double v = in[c - 1];
      rowSum += v;
      rowSquares += v * v;
      s[c] = sAbove[c] + rowSum;
      q[c] = qAbove[c] + rowSquares;
    }
  }
  const int64_t column = int64_t{height} + 1;
  for (int64_t r = 0; r <= height; ++r) {
    if (stopped()) return false;
    for (int64_t c = 0; c < stride_; ++c) transposed_[c * column + r] = sum_[r * stride_ + c];
  }
  return true;
}

}  // namespace vorlan::collage
