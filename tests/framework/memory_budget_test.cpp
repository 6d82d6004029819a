#include "vorlan/memory_budget.h"

#include <gtest/gtest.h>

#include <string>

#include "vorlan/filter_base.h"

namespace vorlan {
namespace {

constexpr int64_t kMiB = int64_t{1} << 20;

// Restores the default limit however a test ends.
struct LimitScope {
  explicit LimitScope(int64_t bytes) { SetDecodedMemoryLimit(bytes); }
  ~LimitScope() { SetDecodedMemoryLimit(kDefaultDecodedMemoryLimit); }
};

TEST(DecodedMemoryBudget, InputsPayForTheirDataAndThePoolIsSharedBeyondThat) {
  const LimitScope limit(16 * kMiB);  // a pool of 1 MiB
  DecodedMemoryBudget& budget = SharedDecodedMemoryBudget();
  UnbackedDecodedPool& pool = SharedUnbackedDecodedPool();
  ASSERT_EQ(UnbackedDecodedLimit(), kMiB);
  int64_t unbacked = -1;

  // 4 KiB of input pay for 4 MiB.
  EXPECT_EQ(ReserveDecodedMemory(4 * kMiB, 4096, unbacked), DecodedRefusal::None);
  EXPECT_EQ(unbacked, 0);
  // 1 KiB pays for 1 MiB; 2 MiB more do not fit the pool, and nothing changes.
  EXPECT_EQ(ReserveDecodedMemory(3 * kMiB, 1024, unbacked), DecodedRefusal::OverExpansion);
  EXPECT_EQ(budget.used.load(), 4 * kMiB);
  EXPECT_EQ(pool.used.load(), 0);
  // Two decoders share the one pool.
  int64_t first = 0, second = 0, third = 0;
  EXPECT_EQ(ReserveDecodedMemory(kMiB + 624 * 1024, 1024, first), DecodedRefusal::None);
  EXPECT_EQ(first, 624 * 1024);
  EXPECT_EQ(ReserveDecodedMemory(kMiB / 2, 0, second), DecodedRefusal::OverExpansion) << "no input pays for nothing";
  EXPECT_EQ(ReserveDecodedMemory(400 * 1024, 0, second), DecodedRefusal::None);
  EXPECT_EQ(pool.used.load(), kMiB);
  // The limit holds whatever the input: it is checked first.
  EXPECT_EQ(ReserveDecodedMemory(12 * kMiB, int64_t{1} << 40, third), DecodedRefusal::OverLimit);
  EXPECT_EQ(ReserveDecodedMemory(1, int64_t{1} << 62, third), DecodedRefusal::None) << "a huge input saturates";

  ReturnDecodedMemory(4 * kMiB);
  ReturnDecodedMemory(kMiB + 624 * 1024, first);
  ReturnDecodedMemory(400 * 1024, second);
  ReturnDecodedMemory(1, third);
  EXPECT_EQ(budget.used.load(), 0);
  EXPECT_EQ(pool.used.load(), 0);
}

class Reserver : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Reserver", 1, 0, 998};
  Reserver() : FilterBase(kInfo) {}
  using FilterBase::ReserveDecoded;
  using FilterBase::ReturnDecodedPart;

 protected:
  Result Work() override { return Ok; }
};

TEST(DecodedMemoryBudget, FiltersNameTheRuleTheyBrokeAndReturnWhatTheyHeld) {
  const LimitScope limit(16 * kMiB);
  Reserver r;
  EXPECT_EQ(r.ReserveDecoded(3 * kMiB, 15, "the decoded array"), Failed);
  const std::string expansion = r.FailureReason();
  EXPECT_NE(expansion.find("Reserver: the decoded array would take 3145728 bytes decoded from 15 bytes of input"),
            std::string::npos)
      << expansion;
  EXPECT_NE(expansion.find("1024 bytes per input byte"), std::string::npos) << expansion;
  EXPECT_NE(expansion.find("only 1048576 bytes for all decoders together (0 in use)"), std::string::npos)
      << expansion;
  EXPECT_EQ(r.ReserveDecoded(32 * kMiB, 1 << 20, "the picture"), Failed);
  EXPECT_NE(std::string(r.FailureReason()).find("over the memory limit of 16777216 bytes"), std::string::npos)
      << r.FailureReason();

  // 2 MiB of which 1 MiB is the pool's: a part returned early goes to the pool first.
  ASSERT_EQ(r.ReserveDecoded(2 * kMiB, 1024, "the picture"), Ok);
  EXPECT_EQ(SharedUnbackedDecodedPool().used.load(), kMiB);
  r.ReturnDecodedPart(kMiB / 4);
  EXPECT_EQ(SharedUnbackedDecodedPool().used.load(), 3 * kMiB / 4);
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 7 * kMiB / 4);
  EXPECT_EQ(r.Reset(), Ok);
  EXPECT_EQ(SharedUnbackedDecodedPool().used.load(), 0);
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0);
}

}  // namespace
}  // namespace vorlan
