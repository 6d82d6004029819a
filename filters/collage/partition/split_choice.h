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

// The weights of a pool in pool order with the first heaviest of them at
// hand: a tournament tree whose nodes hold the index of the heaviest leaf
// below them, the left one winning ties. A weight that is not a number
// never wins, except at index 0, where it wins outright (as in a scan that
// starts from the first weight and takes only larger ones).
class HeaviestTree {
 public:
  void Clear();
  // Throws std::bad_alloc (and then holds what it held).
  void PushBack(double weight);
  void Set(size_t index, double weight);
  void PopBack();
  size_t Size() const { return size_; }
  double Weight(size_t index) const { return weights_[index]; }
  // Index of the first of the largest weights; Size() > 0.
  size_t Heaviest() const { return winners_[1]; }

 private:
  void Place(size_t index);
  void Grow();

  std::vector<double> weights_;  // as given, in pool order
  std::vector<double> keys_;     // the leaves' keys, capacity_ of them
  std::vector<uint32_t> winners_;  // node p (1 is the root) over leaves at capacity_ + i
  size_t size_ = 0, capacity_ = 0;
};

class SplitChoice {
 public:
  virtual ~SplitChoice() = default;
  virtual double Weight(const fractal::RangeNode& range) const = 0;
  // Index into `pool` of the range to cut next; `pool` is not empty.
  size_t Choose(const std::vector<fractal::RangeNode*>& pool) const;
  // The same choice from the pool's weights, kept beside it in pool order;
  // `anyUnset` false says that no range in it lacks a transform.
  static size_t Choose(const std::vector<fractal::RangeNode*>& pool, const HeaviestTree& weights, bool anyUnset);
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
