// A plane sample as a level of an integer picture, as the Bmp and Image
// encoders write it.
#pragma once

#include <cmath>
#include <cstdint>

namespace vorlan {

// The sample scaled from the plane's declared range [min, max] onto 0..top
// and rounded to the nearest level, halves upwards: at or below 0 gives 0,
// at or above top gives top, NaN gives 0. Rounding (not truncation) keeps a
// written picture centred on its plane: truncation would make it half a
// level darker on average, and a 99.9999 would come out as 99.
inline int32_t NearestLevel(double sample, double min, double max, int32_t top) {
  const double value = top * (sample - min) / (max - min);
  if (!(value > 0.0)) return 0;  // also NaN
  if (value >= top) return top;
  return static_cast<int32_t>(std::round(value));
}

}  // namespace vorlan
