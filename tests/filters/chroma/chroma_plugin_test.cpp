// The built plug-in as the host loads it: its exports, identity, and a
// filter created through the library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "support/filter_harness.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

TEST(ChromaPlugin, LibraryIdentityAndHeadlessConfigure) {
  void* handle = test::OpenFilterLibrary("chroma");
  ASSERT_NE(handle, nullptr) << dlerror();
  auto libraryInfo = reinterpret_cast<GetFilterLibraryInfoFn>(dlsym(handle, kGetFilterLibraryInfoName));
  auto filterInfo = reinterpret_cast<GetFilterInfoFn>(dlsym(handle, kGetFilterInfoName));
  auto create = reinterpret_cast<CreateFilterFn>(dlsym(handle, kCreateFilterName));
  auto destroy = reinterpret_cast<DestroyFilterFn>(dlsym(handle, kDestroyFilterName));
  auto reason = reinterpret_cast<GetFailureReasonFn>(dlsym(handle, kGetFailureReasonName));
  ASSERT_TRUE(libraryInfo && filterInfo && create && destroy && reason);

  EXPECT_STREQ(libraryInfo().name, "RGB Conversion Library");
  EXPECT_EQ(libraryInfo().count, 1);
  const FilterInfo info = filterInfo(0);
  EXPECT_STREQ(info.name, "RGB conversion");
  EXPECT_EQ(info.id, 80);
  EXPECT_EQ(create(1), nullptr);

  Filter* f = create(0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Initialize(), Ok);
  EXPECT_EQ(f->pinCount, 8);
  EXPECT_EQ(f->Configure(), Failed) << "no user interface in this process";
  EXPECT_NE(std::string(reason(f)), "");
  destroy(f, 0);
  // Not unloaded: Qt keeps start-up allocations that would show as leaks
  // once its libraries are gone. The host, too, unloads only at exit.
}

}  // namespace
}  // namespace vorlan
