// Uniform scalar quantiser of the fractal codec. Encoder and decoder build it
// from the same bounds and level count, and the levels come from repeated
// addition of the step, so both sides hold bit-identical level tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace vorlan::fractal {

class UniformQuantizer {
 public:
  UniformQuantizer() = default;

  // n >= 2 levels from lo upwards in steps of (hi - lo)/(n - 1). False (and
  // an empty quantiser) for n < 2, non-finite bounds or when memory runs out.
  [[nodiscard]] bool Build(double lo, double hi, int32_t levels);

  // Index of the level nearest to v; a value exactly halfway between two
  // levels takes the upper one. Non-finite values give index 0.
  int32_t Quantize(double v, double& value) const {
    const int32_t last = static_cast<int32_t>(levels_.size()) - 1;
    if (last < 0) {
      value = 0.0;
      return 0;
    }
    int32_t index;
    if (!(v > levels_[0])) {
      index = 0;  // also every value that is not a number
    } else if (v >= levels_[static_cast<size_t>(last)]) {
      index = v <= kLargest ? last : 0;  // +infinity is not a value either
    } else {
      // Above level 0 the scaled position is positive, where truncation is
      // the floor; rounding at the ends is clamped.
      const double position = (v + halfStepMinusLo_) * inverseStep_;
      index = position > 0.0 ? static_cast<int32_t>(position) : 0;
      if (index > last) index = last;
    }
    value = levels_[static_cast<size_t>(index)];
    return index;
  }
  int32_t Quantize(double v) const {
    double ignored;
    return Quantize(v, ignored);
  }

  // Level `index`; the caller keeps 0 <= index < Levels().
  double Level(int32_t index) const { return levels_[static_cast<size_t>(index)]; }
  bool ValidIndex(int32_t index) const { return index >= 0 && index < Levels(); }
  int32_t Levels() const { return static_cast<int32_t>(levels_.size()); }
  double Step() const { return step_; }

 private:
  static constexpr double kLargest = std::numeric_limits<double>::max();
  std::vector<double> levels_;
  double step_ = 0.0;
  double halfStepMinusLo_ = 0.0;  // e/2 - lo, computed once
  double inverseStep_ = 0.0;      // 1/e, 0 when e = 0
};

}  // namespace vorlan::fractal
