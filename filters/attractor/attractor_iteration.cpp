#include "attractor_iteration.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vorlan::attractor {

namespace {

// Sums are taken in double precision; extended precision would change only
// the last bits of a sample.

inline double BlockSum(const double* acc, int32_t count) {
  double s = 0.0;
  for (int32_t k = 0; k < count; ++k) s += acc[k];
  return s;
}

// Writes one computed range row into the target, mirrored when asked.
template <int Fx>
inline void ReduceRow(const double* acc, int32_t fx, int32_t w, double offset, double e, double* out, bool reverse) {
  const int32_t step = Fx > 0 ? Fx : fx;
  if (!reverse) {
    for (int32_t j = 0; j < w; ++j) out[j] = offset + e * BlockSum(acc + int64_t{j} * step, step);
  } else {
    for (int32_t j = 0; j < w; ++j) out[w - 1 - j] = offset + e * BlockSum(acc + int64_t{j} * step, step);
  }
}

inline void Reduce(const double* acc, int32_t fx, int32_t w, double offset, double e, double* out, bool reverse) {
  switch (fx) {
    case 1: ReduceRow<1>(acc, fx, w, offset, e, out, reverse); break;
    case 2: ReduceRow<2>(acc, fx, w, offset, e, out, reverse); break;
    case 3: ReduceRow<3>(acc, fx, w, offset, e, out, reverse); break;
    case 4: ReduceRow<4>(acc, fx, w, offset, e, out, reverse); break;
    default: ReduceRow<0>(acc, fx, w, offset, e, out, reverse); break;
  }
}

}  // namespace

void PassScratch::Reserve(std::span<const DecoderRange> ranges) {
  size_t largest = 1;
  for (const DecoderRange& r : ranges) {
    if (!r.hasTransform) continue;
    // A plain row needs w * fx column sums, a turned one dh row sums.
    largest = std::max(largest, static_cast<size_t>(r.rotate ? r.domainHeight : r.domainWidth));
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
  const bool reverseColumns = range.reverseColumns != 0;
  for (int32_t i = 0; i < h; ++i) {
    if (stop()) return false;
    const int32_t targetRow = range.reverseRows ? h - 1 - i : i;
    double* out = target + (range.y + targetRow) * stride + range.x;
    if (!range.rotate) {
      // Column sums over the fy domain rows that feed range row i.
      const int64_t columns = int64_t{w} * fx;
      const double* first = source + (range.dy + int64_t{i} * fy) * stride + range.dx;
      std::memcpy(lines, first, static_cast<size_t>(columns) * sizeof(double));
      for (int32_t m = 1; m < fy; ++m) {
        const double* row = first + m * stride;
        for (int64_t c = 0; c < columns; ++c) lines[c] += row[c];
      }
      Reduce(lines, fx, w, range.offset, e, out, reverseColumns);
    } else {
      // Turned domain: range row i reads domain columns dx + i*fx ..., and
      // range column j reads domain rows counted up from the bottom.
      const int32_t dh = range.domainHeight;
      const double* column = source + range.dy * stride + range.dx + int64_t{i} * fx;
      for (int32_t r = 0; r < dh; ++r) lines[r] = BlockSum(column + r * stride, fx);
      for (int32_t j = 0; j < w; ++j) {
        const double value = range.offset + e * BlockSum(lines + (dh - int64_t{j + 1} * fy), fy);
        out[reverseColumns ? w - 1 - j : j] = value;
      }
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
