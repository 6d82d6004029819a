// A second library reporting filter id 9001, with only the four required
// exports.
#include "test_filters.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

using namespace vorlan;

namespace {
class TestDuplicate final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Test duplicate", 1, 0, 9001};
  TestDuplicate() : FilterBase(kInfo) {}

 protected:
  Result Work() override { return Ok; }
};
}  // namespace

TEST_EXPORT FilterLibraryInfo GetFilterLibraryInfo() { return {"Test Duplicate Library", 1, 0, 1}; }
TEST_EXPORT FilterInfo GetFilterInfo(int32_t index) {
  return index == 0 ? TestDuplicate::kInfo : FilterInfo{"", 0, 0, 0};
}
TEST_EXPORT Filter* CreateFilter(int32_t index) {
  return index == 0 ? new (std::nothrow) TestDuplicate() : nullptr;
}
TEST_EXPORT void DestroyFilter(Filter* filter, int32_t index) {
  if (filter != nullptr && index == 0) delete static_cast<TestDuplicate*>(filter);
}
