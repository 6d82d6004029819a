#include "core/pointer_list.h"

#include <cstdint>
#include <cstdlib>

namespace vorlan::host {

PointerList::~PointerList() { std::free(items_); }

int32_t PointerList::Append(void* item) {
  if (count_ == capacity_) {
    if (capacity_ > INT32_MAX - kGrowthStep) return -1;
    const int32_t grown = capacity_ + kGrowthStep;
    void* bigger = std::realloc(items_, sizeof(void*) * static_cast<size_t>(grown));
    if (bigger == nullptr) return -1;
    items_ = static_cast<void**>(bigger);
    capacity_ = grown;
  }
  items_[count_] = item;
  return count_++;
}

bool PointerList::Reserve(int32_t count) {
  if (count <= capacity_) return true;
  const int64_t steps = (int64_t{count} + kGrowthStep - 1) / kGrowthStep;
  if (steps * kGrowthStep > INT32_MAX) return false;
  const auto grown = static_cast<int32_t>(steps * kGrowthStep);
  void* bigger = std::realloc(items_, sizeof(void*) * static_cast<size_t>(grown));
  if (bigger == nullptr) return false;
  items_ = static_cast<void**>(bigger);
  capacity_ = grown;
  return true;
}

int32_t PointerList::RemoveAt(int32_t index) {
  if (index < 0 || index >= count_) return 0;
  items_[index] = items_[count_ - 1];
  --count_;
  return 1;
}

void* PointerList::Get(int32_t index) const {
  if (index < 0 || index >= count_) return nullptr;
  return items_[index];
}

bool PointerList::Swap(int32_t a, int32_t b) {
  if (a < 0 || b < 0 || a >= count_ || b >= count_) return false;
  void* item = items_[a];
  items_[a] = items_[b];
  items_[b] = item;
  return true;
}

}  // namespace vorlan::host
