#include "vorlan/memory_budget.h"

#include <dlfcn.h>

// This module's own budget. The host program exports its copy; in plug-ins
// the version script keeps it local, so they find the program's.
extern "C" __attribute__((visibility("default"))) vorlan::DecodedMemoryBudget VorlanDecodedMemoryBudget;
vorlan::DecodedMemoryBudget VorlanDecodedMemoryBudget;

namespace vorlan {

DecodedMemoryBudget& SharedDecodedMemoryBudget() {
  static DecodedMemoryBudget* const shared = [] {
    void* found = ::dlsym(RTLD_DEFAULT, kDecodedMemoryBudgetName);
    return found != nullptr ? static_cast<DecodedMemoryBudget*>(found) : &VorlanDecodedMemoryBudget;
  }();
  return *shared;
}

void SetDecodedMemoryLimit(int64_t bytes) {
  SharedDecodedMemoryBudget().limit.store(bytes > 0 ? bytes : 0, std::memory_order_relaxed);
}

bool ReserveDecodedMemory(int64_t bytes) {
  if (bytes <= 0) return true;
  DecodedMemoryBudget& budget = SharedDecodedMemoryBudget();
  const int64_t limit = budget.limit.load(std::memory_order_relaxed);
  int64_t used = budget.used.load(std::memory_order_relaxed);
  do {
    if (bytes > limit - used) return false;
  } while (!budget.used.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
  return true;
}

void ReturnDecodedMemory(int64_t bytes) {
  if (bytes > 0) SharedDecodedMemoryBudget().used.fetch_sub(bytes, std::memory_order_relaxed);
}

}  // namespace vorlan
