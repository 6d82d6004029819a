#include "vorlan/memory_budget.h"

#include <dlfcn.h>

#include <limits>

// This module's own budget and pool. The host program exports its copies; in
// plug-ins the version script keeps them local, so they find the program's.
extern "C" __attribute__((visibility("default"))) vorlan::DecodedMemoryBudget VorlanDecodedMemoryBudget;
vorlan::DecodedMemoryBudget VorlanDecodedMemoryBudget;
extern "C" __attribute__((visibility("default"))) vorlan::UnbackedDecodedPool VorlanUnbackedDecodedPool;
vorlan::UnbackedDecodedPool VorlanUnbackedDecodedPool;

namespace vorlan {
namespace {

// Adds `bytes` to `counter` when the sum stays at or below `limit`.
bool Add(std::atomic<int64_t>& counter, int64_t bytes, int64_t limit) {
  int64_t used = counter.load(std::memory_order_relaxed);
  do {
    if (bytes > limit - used) return false;
  } while (!counter.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
  return true;
}

}  // namespace

DecodedMemoryBudget& SharedDecodedMemoryBudget() {
  static DecodedMemoryBudget* const shared = [] {
    void* found = ::dlsym(RTLD_DEFAULT, kDecodedMemoryBudgetName);
    return found != nullptr ? static_cast<DecodedMemoryBudget*>(found) : &VorlanDecodedMemoryBudget;
  }();
  return *shared;
}

UnbackedDecodedPool& SharedUnbackedDecodedPool() {
  static UnbackedDecodedPool* const shared = [] {
    void* found = ::dlsym(RTLD_DEFAULT, kUnbackedDecodedPoolName);
    return found != nullptr ? static_cast<UnbackedDecodedPool*>(found) : &VorlanUnbackedDecodedPool;
  }();
  return *shared;
}

void SetDecodedMemoryLimit(int64_t bytes) {
  SharedDecodedMemoryBudget().limit.store(bytes > 0 ? bytes : 0, std::memory_order_relaxed);
}

int64_t UnbackedDecodedLimit() {
  return SharedDecodedMemoryBudget().limit.load(std::memory_order_relaxed) / kUnbackedPoolDivisor;
}

bool ReserveDecodedMemory(int64_t bytes) {
  if (bytes <= 0) return true;
  DecodedMemoryBudget& budget = SharedDecodedMemoryBudget();
  return Add(budget.used, bytes, budget.limit.load(std::memory_order_relaxed));
}

DecodedRefusal ReserveDecodedMemory(int64_t bytes, int64_t inputBytes, int64_t& unbacked) {
  unbacked = 0;
  if (bytes <= 0) return DecodedRefusal::None;
  if (!ReserveDecodedMemory(bytes)) return DecodedRefusal::OverLimit;
  const int64_t input = inputBytes > 0 ? inputBytes : 0;
  constexpr int64_t kMost = std::numeric_limits<int64_t>::max();
  const int64_t backed = input > kMost / kDecodedBytesPerInputByte ? kMost : input * kDecodedBytesPerInputByte;
  const int64_t beyond = bytes > backed ? bytes - backed : 0;
  if (beyond > 0 && !Add(SharedUnbackedDecodedPool().used, beyond, UnbackedDecodedLimit())) {
    ReturnDecodedMemory(bytes);
    return DecodedRefusal::OverExpansion;
  }
  unbacked = beyond;
  return DecodedRefusal::None;
}

void ReturnDecodedMemory(int64_t bytes, int64_t unbacked) {
  if (bytes > 0) SharedDecodedMemoryBudget().used.fetch_sub(bytes, std::memory_order_relaxed);
  if (unbacked > 0) SharedUnbackedDecodedPool().used.fetch_sub(unbacked, std::memory_order_relaxed);
}

}  // namespace vorlan
