// The memory budget for decoded payloads. A few bytes of a damaged or
// hostile stream can claim gigabytes; every decoder reserves what it is about
// to allocate here first, and fails with a reason when the budget cannot
// cover it.
//
// Two rules hold for every reservation that names the input it is decoded
// from:
//  - the limit: all decoded data held at once stays within the limit
//    (2 GiB by default);
//  - the expansion rule: a decoder may hold kDecodedBytesPerInputByte bytes
//    per byte of its input; what it holds beyond that comes from a pool
//    shared by all decoders of the process, a kUnbackedPoolDivisor-th of the
//    limit (128 MiB by default). So a tiny file cannot claim gigabytes, while
//    constant arrays, flat pictures and small codes decoded large still fit.
//
// The budget is one per process and owned by the host. Plug-ins are separate
// modules, each linked with its own copy of this framework, so a plain global
// would be one budget per module. Instead the host program exports the
// records below under kDecodedMemoryBudgetName and kUnbackedDecodedPoolName
// (see cmake/host_exports.list), and every module uses the first definition
// the dynamic linker finds, which is the program's. A program that exports
// none (a filter's unit tests) uses its own copies with the default limit.
#pragma once

#include <atomic>
#include <cstdint>

namespace vorlan {

// About 2 GiB of decoded values, planes and records at once.
inline constexpr int64_t kDefaultDecodedMemoryLimit = int64_t{2} << 30;

// Decoded bytes one byte of input pays for. Real inputs stay below: a
// strongly compressed photo JPEG gives about 470 bytes of planes per byte, a
// packed code about 17 bytes of arrays, a Huffman stream at most 32 per byte
// and word-length value unless its table has a single entry.
inline constexpr int64_t kDecodedBytesPerInputByte = 1024;
// The pool for decoded data beyond that is the limit divided by this.
inline constexpr int64_t kUnbackedPoolDivisor = 16;

inline constexpr const char* kDecodedMemoryBudgetName = "VorlanDecodedMemoryBudget";
inline constexpr const char* kUnbackedDecodedPoolName = "VorlanUnbackedDecodedPool";

// Shared between modules by address: the layout is fixed.
struct DecodedMemoryBudget {
  std::atomic<int64_t> limit{kDefaultDecodedMemoryLimit};  // bytes
  std::atomic<int64_t> used{0};                            // bytes reserved and not yet returned
};
static_assert(sizeof(DecodedMemoryBudget) == 16 && std::atomic<int64_t>::is_always_lock_free);

// The part of the reservations that their inputs do not pay for. A record
// of its own, so that modules built before it existed keep sharing the
// budget above unchanged.
struct UnbackedDecodedPool {
  std::atomic<int64_t> used{0};  // bytes
};
static_assert(sizeof(UnbackedDecodedPool) == 8);

// The process's budget and pool (the host's when it exports them). [any thread]
DecodedMemoryBudget& SharedDecodedMemoryBudget();
UnbackedDecodedPool& SharedUnbackedDecodedPool();

// [host, ui thread, no run active]
void SetDecodedMemoryLimit(int64_t bytes);

// The size of the shared pool: the limit / kUnbackedPoolDivisor. [any thread]
int64_t UnbackedDecodedLimit();

// Adds `bytes` to the use when the result stays within the limit; returns
// false and changes nothing otherwise. The expansion rule does not apply
// (for data whose input is not known). [worker thread]
bool ReserveDecodedMemory(int64_t bytes);

enum class DecodedRefusal { None, OverLimit, OverExpansion };

// Reserves `bytes` decoded from `inputBytes` of input under both rules; the
// part beyond kDecodedBytesPerInputByte x inputBytes is taken from the pool
// and stored in `unbacked`. Changes nothing when refused. [worker thread]
DecodedRefusal ReserveDecodedMemory(int64_t bytes, int64_t inputBytes, int64_t& unbacked);

// Returns a reservation (`unbacked` of it to the pool). [any thread]
void ReturnDecodedMemory(int64_t bytes, int64_t unbacked = 0);

}  // namespace vorlan
