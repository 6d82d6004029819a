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
  lo_ = lo;
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

int32_t UniformQuantizer::Quantize(double v, double& value) const {
  if (levels_.empty()) {
    value = 0.0;
    return 0;
  }
  int32_t index;
  if (!std::isfinite(v) || v <= levels_.front()) {
    index = 0;
  } else if (v >= levels_.back()) {
    index = Levels() - 1;
  } else {
    index = static_cast<int32_t>(std::floor((v + halfStepMinusLo_) * inverseStep_));
    // Rounding near the top can step one past the table.
    if (index > Levels() - 1) index = Levels() - 1;
    if (index < 0) index = 0;
  }
  value = levels_[static_cast<size_t>(index)];
  return index;
}

}  // namespace vorlan::fractal
