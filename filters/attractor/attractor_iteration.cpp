#include "attractor_iteration.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vorlan::attractor {

namespace {

// Sums are taken in double precision; extended precision would change only
// the last bits of a sample.

// One row of a range: value j is offset + e * (sum of the fx x fy block
// starting at src + j * fx), written to out[j * step].
using RowKernel = void (*)(const double* src, int64_t stride, int32_t fx, int32_t fy, int32_t count, double offset,
                           double e, double* out, int64_t step);

template <int Fx, int Fy>
void ReduceRow(const double* src, int64_t stride, int32_t fx, int32_t fy, int32_t count, double offset, double e,
               double* out, int64_t step) {
  const int32_t kx = Fx > 0 ? Fx : fx;
  const int32_t ky = Fy > 0 ? Fy : fy;
  if constexpr (Fx == 2 && Fy == 2) {
    // The common case, written so the compiler can keep both rows in step.
    const double* top = src;
    const double* below = src + stride;
    for (int32_t j = 0; j < count; ++j) {
      const double sum = (top[2 * j] + top[2 * j + 1]) + (below[2 * j] + below[2 * j + 1]);
      out[j * step] = offset + e * sum;
    }
    return;
  }
  for (int32_t j = 0; j < count; ++j) {
    const double* block = src + int64_t{j} * kx;
    double sum = 0.0;
    for (int32_t m = 0; m < ky; ++m) {
      const double* row = block + m * stride;
      for (int32_t k = 0; k < kx; ++k) sum += row[k];
    }
    out[j * step] = offset + e * sum;
  }
}

// Small factors get loops the compiler unrolls.
RowKernel KernelFor(int32_t fx, int32_t fy) {
  if (fx == 1 && fy == 1) return ReduceRow<1, 1>;
  if (fx == 2 && fy == 2) return ReduceRow<2, 2>;
  if (fx == 2 && fy == 1) return ReduceRow<2, 1>;
  if (fx == 1 && fy == 2) return ReduceRow<1, 2>;
  if (fx == 3 && fy == 3) return ReduceRow<3, 3>;
  if (fx == 2 && fy == 3) return ReduceRow<2, 3>;
  if (fx == 3 && fy == 2) return ReduceRow<3, 2>;
  return ReduceRow<0, 0>;
}

}  // namespace

void PassScratch::Reserve(std::span<const DecoderRange> ranges) {
  size_t largest = 1;
  for (const DecoderRange& r : ranges) {
    // A turned range is reduced into a block of its own size first.
    if (r.hasTransform && r.rotate) largest = std::max(largest, static_cast<size_t>(r.width) * r.height);
  }
  lines_.assign(largest, 0.0);
}

bool ApplyRange(const DecoderRange& range, const double* source, double* target, int32_t width, double* lines,
                const StopPoll& stop) {
  const int32_t w = range.width;
  const int32_t h = range.height;
  const int64_t stride = width;
  if (!range.hasTransform) {
    if (stop()) return false;
    for (int32_t i = 0; i < h; ++i) {
      double* row = target + (range.y + i) * stride + range.x;
      std::fill(row, row + w, range.offset);
    }
    return true;
  }
  const int32_t fx = range.fx;
  const int32_t fy = range.fy;
  const double e = (1.0 / (static_cast<double>(fx) * fy)) * range.scale;
  const RowKernel kernel = KernelFor(fx, fy);
  const double* domain = source + range.dy * stride + range.dx;
  if (!range.rotate) {
    for (int32_t i = 0; i < h; ++i) {
      if (stop()) return false;
      const int32_t targetRow = range.reverseRows ? h - 1 - i : i;
      double* out = target + (range.y + targetRow) * stride + range.x;
      if (range.reverseColumns) {
        kernel(domain + i * fy * stride, stride, fx, fy, w, range.offset, e, out + (w - 1), -1);
      } else {
        kernel(domain + i * fy * stride, stride, fx, fy, w, range.offset, e, out, 1);
      }
    }
    return true;
  }
  // Turned domain: the domain (h * fx wide, w * fy high) is reduced into a
  // block B of w rows and h columns; range pixel (i, j) takes B[w-1-j][i]
  // (a quarter turn clockwise), then rows and columns are mirrored.
  for (int32_t b = 0; b < w; ++b) {
    if (stop()) return false;
    kernel(domain + b * fy * stride, stride, fx, fy, h, range.offset, e, lines + int64_t{b} * h, 1);
  }
  for (int32_t i = 0; i < h; ++i) {
    if (stop()) return false;
    const int32_t targetRow = range.reverseRows ? h - 1 - i : i;
    double* out = target + (range.y + targetRow) * stride + range.x;
    const double* column = lines + i;  // B[.][i]
    if (range.reverseColumns) {
      for (int32_t j = 0; j < w; ++j) out[w - 1 - j] = column[int64_t{w - 1 - j} * h];
    } else {
      for (int32_t j = 0; j < w; ++j) out[j] = column[int64_t{w - 1 - j} * h];
    }
  }
  return true;
}

bool ApplyPass(std::span<const DecoderRange> ranges, const double* source, double* target, int32_t width,
               PassScratch& scratch, const StopPoll& stop) {
  for (const DecoderRange& range : ranges) {
    if (!ApplyRange(range, source, target, width, scratch.Lines(), stop)) return false;
  }
  return true;
}

double RmsDifference(const double* a, const double* b, int64_t count) {
  if (count <= 0) return 0.0;
  double sum = 0.0;
  for (int64_t k = 0; k < count; ++k) {
    const double d = a[k] - b[k];
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(count));
}

void SmoothBorders(std::span<const DecoderRange> ranges, const double* p, double* q, int32_t width, int32_t height) {
  const int64_t stride = width;
  std::memcpy(q, p, static_cast<size_t>(stride * height) * sizeof(double));
  constexpr double kInner = 1.0 / 3.0;  // weights 1, 2
  constexpr double kSecond = 1.0 / 6.0;  // weights 0, 1, 2, 3
  auto P = [&](int64_t r, int64_t c) { return p[r * stride + c]; };
  auto Q = [&](int64_t r, int64_t c) -> double& { return q[r * stride + c]; };
  for (const DecoderRange& range : ranges) {
    const int64_t x = range.x, y = range.y, w = range.width, h = range.height;
    const int64_t bottom = y + h;
    const int64_t right = x + w;
    for (int64_t c = x; c < right; ++c) {
      if (y >= 1) {
        Q(y, c) = (1 * P(y - 1, c) + 2 * P(y, c)) * kInner;
        if (h >= 2 && y >= 2) {
          Q(y + 1, c) = (0 * P(y - 2, c) + 1 * P(y - 1, c) + 2 * P(y, c) + 3 * P(y + 1, c)) * kSecond;
        }
      }
      if (bottom < height) {
        Q(bottom - 1, c) = (1 * P(bottom, c) + 2 * P(bottom - 1, c)) * kInner;
        if (h >= 2 && bottom + 2 <= height) {
          Q(bottom - 2, c) =
              (0 * P(bottom + 1, c) + 1 * P(bottom, c) + 2 * P(bottom - 1, c) + 3 * P(bottom - 2, c)) * kSecond;
        }
      }
    }
    for (int64_t r = y; r < bottom; ++r) {
      if (x >= 1) {
        Q(r, x) = (1 * P(r, x - 1) + 2 * P(r, x)) * kInner;
        if (w >= 2 && x >= 2) {
          Q(r, x + 1) = (0 * P(r, x - 2) + 1 * P(r, x - 1) + 2 * P(r, x) + 3 * P(r, x + 1)) * kSecond;
        }
      }
      if (right < width) {
        Q(r, right - 1) = (1 * P(r, right) + 2 * P(r, right - 1)) * kInner;
        if (w >= 2 && right + 2 <= width) {
          Q(r, right - 2) =
              (0 * P(r, right + 1) + 1 * P(r, right) + 2 * P(r, right - 1) + 3 * P(r, right - 2)) * kSecond;
        }
      }
    }
  }
}

}  // namespace vorlan::attractor
