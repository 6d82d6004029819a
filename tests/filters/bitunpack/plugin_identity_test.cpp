// Loads the six byte-stream plug-ins the way the host does and checks what
// they report and export.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "support/filter_harness.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

struct Expected {
  const char* file;
  const char* library;
  const char* filter;
  int32_t id;
  int32_t pins;
};

TEST(BytePlugins, ReportTheirIdentityAndCreateFilters) {
  const Expected all[] = {
      {"squeeze", "Huffman encoder Library", "Huffman encoder", 190, 4},
      {"unsqueeze", "Huffman decoder Library", "Huffman decoder", 200, 4},
      {"bitpack", "Binary encoder Library", "Binary encoder", 170, 4},
      {"bitunpack", "Binary decoder Library", "Binary decoder", 180, 4},
      {"serializer", "Serializer Library", "Serializer", 150, 5},
      {"deserializer", "Deserializer Library", "Deserializer", 160, 5},
  };
  for (const Expected& e : all) {
    SCOPED_TRACE(e.file);
    void* handle = test::OpenFilterLibrary(e.file);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto libraryInfo = reinterpret_cast<GetFilterLibraryInfoFn>(dlsym(handle, kGetFilterLibraryInfoName));
    auto filterInfo = reinterpret_cast<GetFilterInfoFn>(dlsym(handle, kGetFilterInfoName));
    auto create = reinterpret_cast<CreateFilterFn>(dlsym(handle, kCreateFilterName));
    auto destroy = reinterpret_cast<DestroyFilterFn>(dlsym(handle, kDestroyFilterName));
    ASSERT_TRUE(libraryInfo && filterInfo && create && destroy);
    EXPECT_EQ(dlsym(handle, "_ZN6vorlan10FilterBase7ProcessEv"), nullptr) << "internal symbols stay hidden";

    const FilterLibraryInfo lib = libraryInfo();
    EXPECT_STREQ(lib.name, e.library);
    EXPECT_EQ(lib.count, 1);
    const FilterInfo info = filterInfo(0);
    EXPECT_STREQ(info.name, e.filter);
    EXPECT_EQ(info.id, e.id);
    EXPECT_EQ(info.major, 1);
    EXPECT_EQ(filterInfo(1).id, 0);
    EXPECT_EQ(create(1), nullptr);

    Filter* f = create(0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Initialize(), Ok);
    EXPECT_EQ(f->pinCount, e.pins);
    EXPECT_EQ(f->Configure(), Failed) << "no user interface in tests";
    f->Deinitialize();
    destroy(f, 0);
    dlclose(handle);
  }
}

}  // namespace
}  // namespace vorlan
