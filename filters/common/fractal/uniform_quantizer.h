// Uniform scalar quantiser of the fractal codec. Encoder and decoder build it
// from the same bounds and level count, and the levels come from repeated
// addition of the step, so both sides hold bit-identical level tables.
#pragma once

#include <cstddef>
#include <cstdint>
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
  int32_t Quantize(double v, double& value) const;
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
  std::vector<double> levels_;
  double lo_ = 0.0;
  double step_ = 0.0;
  double halfStepMinusLo_ = 0.0;  // e/2 - lo, computed once
  double inverseStep_ = 0.0;      // 1/e, 0 when e = 0
};

}  // namespace vorlan::fractal
