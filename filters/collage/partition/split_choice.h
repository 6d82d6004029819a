// Which accepted range the range-count modes cut next. Ranges without a
// transform (error -1) always come first; among the others the one with the
// largest weight is cut, the first of equal ones winning. Error 0 marks a
// range that must not be cut and weighs nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fractal/range_tree.h"

namespace vorlan::collage {

class SplitChoice {
 public:
  virtual ~SplitChoice() = default;
  virtual double Weight(const fractal::RangeNode& range) const = 0;
  // Index into `pool` of the range to cut next; `pool` is not empty.
  size_t Choose(const std::vector<fractal::RangeNode*>& pool) const;
  // The same choice from the pool's weights, kept beside it in pool order;
  // `anyUnset` false says that no range in it lacks a transform.
  static size_t Choose(const std::vector<fractal::RangeNode*>& pool, const std::vector<double>& weights,
                       bool anyUnset);
};

// Size mode: the largest RMS error, however small the range.
class LargestRmsError final : public SplitChoice {
 public:
  double Weight(const fractal::RangeNode& range) const override { return range.error; }
};

// Least error mode: the largest total squared error (RMS error squared
// times the area), i.e. the cut that can remove the most squared error.
class LargestSquaredError final : public SplitChoice {
 public:
  double Weight(const fractal::RangeNode& range) const override {
    return range.error * range.error * static_cast<double>(range.Area());
  }
};

// The choice a range-count mode (1 or 2) grows with.
std::unique_ptr<SplitChoice> MakeSplitChoice(int32_t mode);

}  // namespace vorlan::collage
