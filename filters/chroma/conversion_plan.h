// One conversion prepared for a run: the ranges its formulas expect, the
// linear map of every input plane onto them, the ranges it declares for its
// outputs, and the row kernel that applies the formulas.
#pragma once

#include <array>
#include <cstdint>

#include "colour_formulas.h"
#include "conversion_codes.h"

namespace vorlan::chroma {

// x -> scale * x + offset, built once per plane.
struct LinearMap {
  double scale;
  double offset;
  double operator()(double x) const { return scale * x + offset; }
};

// Maps [from.lo, from.hi] onto [to.lo, to.hi]; `from` must not be empty.
LinearMap MapOnto(Range from, Range to);
// Maps a plane's declared range onto [0, 1].
LinearMap NormalisingMap(Range declared);

class ConversionPlan {
 public:
  // `code` must be valid; `inputDeclared` holds the declared ranges of the
  // input planes in pin order (only the inverse Luv conversion keeps u and v
  // in their own ranges, every other input is mapped onto a fixed range).
  ConversionPlan(int32_t code, const std::array<Range, kMaxPlanes>& inputDeclared);

  int32_t Code() const { return code_; }
  int32_t Inputs() const { return inputs_; }
  int32_t Outputs() const { return outputs_; }
  Range Expected(int32_t k) const { return expected_[k]; }
  Range Declared(int32_t k) const { return declared_[k]; }

  // Converts `count` pixels: pixel i of every input to pixel i of every
  // output. The pointers address the first pixel of the row.
  void ConvertRow(const std::array<const double*, kMaxPlanes>& in, const std::array<double*, kMaxPlanes>& out,
                  int64_t count) const;

 private:
  int32_t code_;
  int32_t inputs_;
  int32_t outputs_;
  std::array<Range, kMaxPlanes> expected_{};
  std::array<Range, kMaxPlanes> declared_{};
  std::array<LinearMap, kMaxPlanes> maps_{};
  CieRanges cie_{};
};

}  // namespace vorlan::chroma
