// The memory budget for decoded payloads. A few bytes of a damaged or
// hostile stream can claim gigabytes; every decoder reserves what it is about
// to allocate here first, and fails with a reason when the budget cannot
// cover it.
//
// The budget is one per process and owned by the host. Plug-ins are separate
// modules, each linked with its own copy of this framework, so a plain global
// would be one budget per module. Instead the host program exports the
// record below under kDecodedMemoryBudgetName (see cmake/host_exports.list),
// and every module uses the first definition the dynamic linker finds, which
// is the program's. A program that exports none (a filter's unit tests) uses
// its own copy with the default limit.
#pragma once

#include <atomic>
#include <cstdint>

namespace vorlan {

// About 2 GiB of decoded values, planes and records at once.
inline constexpr int64_t kDefaultDecodedMemoryLimit = int64_t{2} << 30;

inline constexpr const char* kDecodedMemoryBudgetName = "VorlanDecodedMemoryBudget";

// Shared between modules by address: the layout is fixed.
struct DecodedMemoryBudget {
  std::atomic<int64_t> limit{kDefaultDecodedMemoryLimit};  // bytes
  std::atomic<int64_t> used{0};                            // bytes reserved and not yet returned
};
static_assert(sizeof(DecodedMemoryBudget) == 16 && std::atomic<int64_t>::is_always_lock_free);

// The process's budget (the host's when it exports one). [any thread]
DecodedMemoryBudget& SharedDecodedMemoryBudget();

// [host, ui thread, no run active]
void SetDecodedMemoryLimit(int64_t bytes);

// Adds `bytes` to the use when the result stays within the limit; returns
// false and changes nothing otherwise. [worker thread]
bool ReserveDecodedMemory(int64_t bytes);
// Returns a reservation. [any thread]
void ReturnDecodedMemory(int64_t bytes);

}  // namespace vorlan
