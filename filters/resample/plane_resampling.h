// Resampling one plane by a whole factor: area averages on the way down,
// bilinear or bicubic interpolation on the way up. Sample centres line up
// (the centre of output pixel x sits at (x + 0.5) / factor - 0.5 in input
// pixels going up), so a plane taken down and up again is not shifted.
#pragma once

#include <cstdint>
#include <functional>

namespace vorlan::resample {

enum class Method : int32_t {
  AreaAverage = 0,  // down: each output pixel is the mean of its factor x factor block
  Bilinear = 1,     // up
  Bicubic = 2,      // up: Keys' cubic, a = -0.5 (Catmull-Rom)
};

inline constexpr int32_t kSmallestFactor = 2;
inline constexpr int32_t kLargestFactor = 8;

inline bool ScalesDown(Method m) { return m == Method::AreaAverage; }

// The size of a side of `length` samples taken down: a last block that the
// factor does not fill still makes an output sample, the mean of what it holds.
inline int32_t DownLength(int32_t length, int32_t factor) { return (length + factor - 1) / factor; }

// Whether an up-scaled side of `length` samples can come from `source`
// samples: the samples it needs are exactly those, so it is at most
// factor x source and more than factor x (source - 1).
inline bool UpLengthFits(int32_t source, int32_t length, int32_t factor) {
  return source >= 1 && length >= 1 && DownLength(length, factor) == source;
}

// False when asked to stop (polled once per output row).
using StopPoll = std::function<bool()>;

// `in` is width x height, `out` DownLength(width) x DownLength(height).
bool AreaDown(const double* in, int32_t width, int32_t height, int32_t factor, double* out, const StopPoll& stop);

// `in` is width x height, `out` outWidth x outHeight with UpLengthFits on
// both sides. Samples beyond the edges repeat the edge sample.
bool InterpolateUp(const double* in, int32_t width, int32_t height, int32_t factor, Method method, double* out,
                   int32_t outWidth, int32_t outHeight, const StopPoll& stop);

}  // namespace vorlan::resample
