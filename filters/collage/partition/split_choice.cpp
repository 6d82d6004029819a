#include "partition/split_choice.h"

namespace vorlan::collage {

size_t SplitChoice::Choose(const std::vector<fractal::RangeNode*>& pool) const {
  std::vector<double> weights(pool.size());
  for (size_t k = 0; k < pool.size(); ++k) weights[k] = Weight(*pool[k]);
  return Choose(pool, weights, true);
}

size_t SplitChoice::Choose(const std::vector<fractal::RangeNode*>& pool, const std::vector<double>& weights,
                           bool anyUnset) {
  if (anyUnset) {
    for (size_t k = 0; k < pool.size(); ++k) {
      if (pool[k]->error == -1.0) return k;
    }
  }
  size_t chosen = 0;
  double heaviest = weights[0];
  for (size_t k = 1; k < weights.size(); ++k) {
    if (weights[k] > heaviest) {
      heaviest = weights[k];
      chosen = k;
    }
  }
  return chosen;
}

std::unique_ptr<SplitChoice> MakeSplitChoice(int32_t mode) {
  if (mode == 2 || mode == 3) return std::make_unique<LargestSquaredError>();
  return std::make_unique<LargestRmsError>();
}

}  // namespace vorlan::collage
