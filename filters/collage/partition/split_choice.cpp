#include "partition/split_choice.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vorlan::collage {

namespace {
constexpr double kInfinity = std::numeric_limits<double>::infinity();
}  // namespace

void HeaviestTree::Clear() {
  weights_.clear();
  size_ = 0;
  std::fill(keys_.begin(), keys_.end(), -kInfinity);
  for (size_t p = capacity_; p-- > 1;) winners_[p] = winners_[2 * p];
}

void HeaviestTree::Grow() {
  const size_t capacity = capacity_ == 0 ? 64 : 2 * capacity_;
  std::vector<double> keys(capacity, -kInfinity);
  std::vector<uint32_t> winners(2 * capacity);
  std::copy(keys_.begin(), keys_.end(), keys.begin());
  keys_.swap(keys);
  winners_.swap(winners);
  capacity_ = capacity;
  for (size_t i = 0; i < capacity_; ++i) winners_[capacity_ + i] = static_cast<uint32_t>(i);
  for (size_t p = capacity_; p-- > 1;) {
    const uint32_t l = winners_[2 * p], r = winners_[2 * p + 1];
    winners_[p] = keys_[r] > keys_[l] ? r : l;
  }
}

void HeaviestTree::Place(size_t index) {
  const double w = index < size_ ? weights_[index] : -kInfinity;
  keys_[index] = std::isnan(w) ? (index == 0 ? kInfinity : -kInfinity) : w;
  for (size_t p = (capacity_ + index) / 2; p >= 1; p /= 2) {
    const uint32_t l = winners_[2 * p], r = winners_[2 * p + 1];
    winners_[p] = keys_[r] > keys_[l] ? r : l;
  }
}

void HeaviestTree::PushBack(double weight) {
  weights_.reserve(size_ + 1);
  if (size_ == capacity_) Grow();
  weights_.push_back(weight);
  ++size_;
  Place(size_ - 1);
}

void HeaviestTree::Set(size_t index, double weight) {
  weights_[index] = weight;
  Place(index);
}

void HeaviestTree::PopBack() {
  weights_.pop_back();
  --size_;
  Place(size_);
}

size_t SplitChoice::Choose(const std::vector<fractal::RangeNode*>& pool) const {
  HeaviestTree weights;
  for (const fractal::RangeNode* range : pool) weights.PushBack(Weight(*range));
  return Choose(pool, weights, true);
}

size_t SplitChoice::Choose(const std::vector<fractal::RangeNode*>& pool, const HeaviestTree& weights,
                           bool anyUnset) {
  if (anyUnset) {
    for (size_t k = 0; k < pool.size(); ++k) {
      if (pool[k]->error == -1.0) return k;
    }
  }
  return weights.Heaviest();
}

std::unique_ptr<SplitChoice> MakeSplitChoice(int32_t mode) {
  if (mode == 2 || mode == 3) return std::make_unique<LargestSquaredError>();
  return std::make_unique<LargestRmsError>();
}

}  // namespace vorlan::collage
