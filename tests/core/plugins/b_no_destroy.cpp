// A library lacking DestroyFilter: the registry must skip it.
#include "test_filters.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

TEST_EXPORT vorlan::FilterLibraryInfo GetFilterLibraryInfo() { return {"Test No Destroy Library", 1, 0, 1}; }
TEST_EXPORT vorlan::FilterInfo GetFilterInfo(int32_t index) {
  return index == 0 ? vorlan::FilterInfo{"Test no destroy", 1, 0, 9201} : vorlan::FilterInfo{"", 0, 0, 0};
}
TEST_EXPORT vorlan::Filter* CreateFilter(int32_t index) {
  return index == 0 ? new vorlan::testplugins::TestRelay() : nullptr;
}
