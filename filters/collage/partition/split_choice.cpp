#include "partition/split_choice.h"

namespace vorlan::collage {

size_t SplitChoice::Choose(const std::vector<fractal::RangeNode*>& pool) const {
  for (size_t k = 0; k < pool.size(); ++k) {
    if (pool[k]->error == -1.0) return k;
  }
  size_t chosen = 0;
  double heaviest = Weight(*pool[0]);
  for (size_t k = 1; k < pool.size(); ++k) {
    const double weight = Weight(*pool[k]);
    if (weight > heaviest) {
      heaviest = weight;
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
