// The built File Input Stream and File Output Stream libraries, loaded the
// way the host loads them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "support/filter_harness.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

struct Library {
  explicit Library(const std::string& name) : handle(test::OpenFilterLibrary(name)) {}
  ~Library() {
    if (handle != nullptr) dlclose(handle);
  }
  template <class F>
  F Get(const char* symbol) const {
    return reinterpret_cast<F>(dlsym(handle, symbol));
  }
  void* handle;
};

struct Expected {
  const char* library;
  const char* libraryName;
  const char* filterName;
  int32_t id;
  const char* dataPin;
  PinKind dataKind;
};

TEST(FileStreamLibraries, ExportTheContractAndRefuseConfigureWithoutAGui) {
  const Expected all[] = {
      {"intake", "File Input Stream Library", "File Input Stream", 10, "Out", PinKind::Output},
      {"outlet", "File Output Stream Library", "File Output Stream", 20, "In", PinKind::Input},
  };
  for (const Expected& e : all) {
    SCOPED_TRACE(e.library);
    Library lib(e.library);
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    auto libraryInfo = lib.Get<GetFilterLibraryInfoFn>(kGetFilterLibraryInfoName);
    auto filterInfo = lib.Get<GetFilterInfoFn>(kGetFilterInfoName);
    auto create = lib.Get<CreateFilterFn>(kCreateFilterName);
    auto destroy = lib.Get<DestroyFilterFn>(kDestroyFilterName);
    auto reason = lib.Get<GetFailureReasonFn>(kGetFailureReasonName);
    auto release = lib.Get<ReleaseConfigFn>(kReleaseConfigName);
    ASSERT_TRUE(libraryInfo && filterInfo && create && destroy && reason && release);

    const FilterLibraryInfo li = libraryInfo();
    EXPECT_STREQ(li.name, e.libraryName);
    EXPECT_EQ(li.count, 1);
    const FilterInfo fi = filterInfo(0);
    EXPECT_STREQ(fi.name, e.filterName);
    EXPECT_EQ(fi.id, e.id);
    EXPECT_EQ(fi.major, 1);
    EXPECT_EQ(create(1), nullptr);

    Filter* f = create(0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Initialize(), Ok);
    ASSERT_EQ(f->pinCount, 3);
    EXPECT_STREQ(f->pins[2]->name, e.dataPin);
    EXPECT_EQ(f->pins[2]->kind, static_cast<int32_t>(e.dataKind));
    EXPECT_EQ(f->Configure(), Failed);
    EXPECT_STRNE(reason(f), "");

    // Settings written by one library instance are read by another.
    uint8_t bytes[] = {5, 0, 0, 0, 'a', '.', 'b', 'm', 'p'};
    EXPECT_EQ(f->ApplyConfig(MakePacket(9, PacketType::Config, bytes), ConfigForm::Serialized), Ok);
    Packet p = f->GetConfig(ConfigForm::Serialized);
    ASSERT_EQ(p.length, 9);
    EXPECT_EQ(std::memcmp(p.data, bytes, 9), 0);
    release(p);

    destroy(f, 7);  // an unknown index leaves the filter alone
    EXPECT_EQ(f->Deinitialize(), Ok);
    destroy(f, 0);
  }
}

}  // namespace
}  // namespace vorlan
