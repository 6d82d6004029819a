#include "plane_resampling.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vorlan::resample {

namespace {

// The input samples one output position along a side reads, and their
// weights. The value is taken as ref + sum of weight x (sample - ref), with
// ref the sample at or left of the position: the weights sum to one, so a
// constant side comes out exactly as it went in.
struct Taps {
  int32_t ref = 0;
  int32_t index[4] = {0, 0, 0, 0};
  double weight[4] = {0, 0, 0, 0};
  int count = 0;
};

// Keys' cubic convolution kernel with a = -0.5.
double Cubic(double d) {
  constexpr double a = -0.5;
  d = std::fabs(d);
  if (d <= 1.0) return ((a + 2.0) * d - (a + 3.0)) * d * d + 1.0;
  if (d < 2.0) return ((a * d - 5.0 * a) * d + 8.0 * a) * d - 4.0 * a;
  return 0.0;
}

std::vector<Taps> SideTaps(int32_t source, int32_t length, int32_t factor, Method method) {
  std::vector<Taps> taps(static_cast<size_t>(length));
  const auto clamp = [source](int64_t i) { return static_cast<int32_t>(std::clamp<int64_t>(i, 0, source - 1)); };
  for (int32_t x = 0; x < length; ++x) {
    const double position = (x + 0.5) / factor - 0.5;
    const double below = std::floor(position);
    const double t = position - below;
    const auto i0 = static_cast<int64_t>(below);
    Taps& tap = taps[static_cast<size_t>(x)];
    tap.ref = clamp(i0);
    if (method == Method::Bilinear) {
      tap.count = 2;
      tap.index[0] = clamp(i0);
      tap.index[1] = clamp(i0 + 1);
      tap.weight[0] = 1.0 - t;
      tap.weight[1] = t;
    } else {
      tap.count = 4;
      for (int k = 0; k < 4; ++k) {
        tap.index[k] = clamp(i0 - 1 + k);
        tap.weight[k] = Cubic(t + 1.0 - k);
      }
    }
  }
  return taps;
}

// One side's value from samples `stride` apart.
inline double Apply(const Taps& tap, const double* line, int64_t stride) {
  const double ref = line[tap.ref * stride];
  double sum = 0.0;
  for (int k = 0; k < tap.count; ++k) sum += tap.weight[k] * (line[tap.index[k] * stride] - ref);
  return ref + sum;
}

}  // namespace

bool AreaDown(const double* in, int32_t width, int32_t height, int32_t factor, double* out, const StopPoll& stop) {
  const int32_t outWidth = DownLength(width, factor);
  const int32_t outHeight = DownLength(height, factor);
  for (int32_t oy = 0; oy < outHeight; ++oy) {
    if (stop && stop()) return false;
    const int32_t y0 = oy * factor;
    const int32_t y1 = std::min(y0 + factor, height);
    for (int32_t ox = 0; ox < outWidth; ++ox) {
      const int32_t x0 = ox * factor;
      const int32_t x1 = std::min(x0 + factor, width);
      // The mean as the first sample plus the mean difference: exact on flat blocks.
      const double ref = in[int64_t{y0} * width + x0];
      double sum = 0.0;
      for (int32_t y = y0; y < y1; ++y) {
        const double* row = in + int64_t{y} * width;
        for (int32_t x = x0; x < x1; ++x) sum += row[x] - ref;
      }
      out[int64_t{oy} * outWidth + ox] = ref + sum / (static_cast<double>(y1 - y0) * (x1 - x0));
    }
  }
  return true;
}

bool InterpolateUp(const double* in, int32_t width, int32_t height, int32_t factor, Method method, double* out,
                   int32_t outWidth, int32_t outHeight, const StopPoll& stop) {
  const std::vector<Taps> across = SideTaps(width, outWidth, factor, method);
  const std::vector<Taps> down = SideTaps(height, outHeight, factor, method);
  // Rows first, into height x outWidth, then columns.
  std::vector<double> rows(static_cast<size_t>(int64_t{height} * outWidth));
  for (int32_t y = 0; y < height; ++y) {
    if (stop && stop()) return false;
    const double* line = in + int64_t{y} * width;
    double* dst = rows.data() + int64_t{y} * outWidth;
    for (int32_t x = 0; x < outWidth; ++x) dst[x] = Apply(across[static_cast<size_t>(x)], line, 1);
  }
  for (int32_t y = 0; y < outHeight; ++y) {
    if (stop && stop()) return false;
    const Taps& tap = down[static_cast<size_t>(y)];
    double* dst = out + int64_t{y} * outWidth;
    for (int32_t x = 0; x < outWidth; ++x) dst[x] = Apply(tap, rows.data() + x, outWidth);
  }
  return true;
}

}  // namespace vorlan::resample
