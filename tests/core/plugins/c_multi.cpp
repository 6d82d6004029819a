// A library offering three prototypes, with five exports: the four required
// ones and ReleaseConfig, but no GetFailureReason.
#include "test_filters.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

using namespace vorlan;
using namespace vorlan::testplugins;

TEST_EXPORT FilterLibraryInfo GetFilterLibraryInfo() { return {"Test Multi Library", 1, 0, 3}; }

TEST_EXPORT FilterInfo GetFilterInfo(int32_t index) {
  switch (index) {
    case 0: return TestSource::kInfo;
    case 1: return TestRelay::kInfo;
    case 2: return TestWorker::kInfo;
    default: return FilterInfo{"", 0, 0, 0};
  }
}

TEST_EXPORT Filter* CreateFilter(int32_t index) {
  switch (index) {
    case 0: return new (std::nothrow) TestSource();
    case 1: return new (std::nothrow) TestRelay();
    case 2: return new (std::nothrow) TestWorker();
    default: return nullptr;
  }
}

TEST_EXPORT void DestroyFilter(Filter* filter, int32_t index) {
  if (filter == nullptr) return;
  switch (index) {
    case 0: delete static_cast<TestSource*>(filter); break;
    case 1: delete static_cast<TestRelay*>(filter); break;
    case 2: delete static_cast<TestWorker*>(filter); break;
    default: break;
  }
}

TEST_EXPORT void ReleaseConfig(Packet packet) { std::free(packet.data); }
