// A valid plug-in whose load leaves a file "marker" in the current
// directory, written by a constructor that runs at dlopen, before the host
// can look at the library at all.
#include <cstdio>
#include <new>

#include "vorlan/filter_base.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

using namespace vorlan;

namespace {

__attribute__((constructor)) void LeaveMarker() {
  if (std::FILE* f = std::fopen("marker", "w")) {
    std::fputs("loaded\n", f);
    std::fclose(f);
  }
}

class TestMarker final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Test marker", 1, 0, 9301};
  TestMarker() : FilterBase(kInfo) {}

 protected:
  Result Work() override { return Ok; }
};

}  // namespace

TEST_EXPORT FilterLibraryInfo GetFilterLibraryInfo() { return {"Test Marker Library", 1, 0, 1}; }
TEST_EXPORT FilterInfo GetFilterInfo(int32_t index) {
  return index == 0 ? TestMarker::kInfo : FilterInfo{"", 0, 0, 0};
}
TEST_EXPORT Filter* CreateFilter(int32_t index) { return index == 0 ? new (std::nothrow) TestMarker() : nullptr; }
TEST_EXPORT void DestroyFilter(Filter* filter, int32_t index) {
  if (filter != nullptr && index == 0) delete static_cast<TestMarker*>(filter);
}
