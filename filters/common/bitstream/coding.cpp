#include "coding.h"

#include <sys/mman.h>

#include <cstdint>

namespace vorlan {

void AdviseLargeOutput(void* data, size_t bytes) {
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  if (data == nullptr || bytes < 2 * kHugePage) return;
  const auto begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace vorlan
