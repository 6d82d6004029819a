#include "fractal/uniform_quantizer.h"

#include <cmath>
#include <new>

namespace vorlan::fractal {

bool UniformQuantizer::Build(double lo, double hi, int32_t levels) {
  levels_.clear();
  if (levels < 2 || !std::isfinite(lo) || !std::isfinite(hi)) return false;
  try {
    levels_.resize(static_cast<size_t>(levels));
  } catch (const std::bad_alloc&) {
    levels_.clear();
    return false;
  }
  step_ = (hi - lo) / (levels - 1);
  halfStepMinusLo_ = step_ / 2 - lo;
  inverseStep_ = step_ != 0.0 ? 1.0 / step_ : 0.0;
  double level = lo;
  levels_[0] = level;
  for (size_t k = 1; k < levels_.size(); ++k) {
    level += step_;
    levels_[k] = level;
  }
  return true;
}

}  // namespace vorlan::fractal
