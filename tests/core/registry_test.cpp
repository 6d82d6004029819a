#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core_fixture.h"

namespace vorlan::host::test {
namespace {

TEST(Registry, SkipsBrokenLibrariesAndNumbersTheRestInNameOrder) {
  const Registry& r = TestRegistry();
  // a_valid, c_multi, d_duplicate load; b_no_destroy lacks DestroyFilter,
  // e_broken.so is no library, notes.txt has the wrong name.
  ASSERT_EQ(r.LibraryCount(), 3);
  ASSERT_EQ(r.PrototypeCount(), 5);
  EXPECT_EQ(r.Library(0).fileName, "a_valid.so");
  EXPECT_EQ(r.Library(1).fileName, "c_multi.so");
  EXPECT_EQ(r.Library(2).fileName, "d_duplicate.so");
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(r.Library(i).id, i);

  // c_multi offers three prototypes with consecutive ids and indexes 0, 1, 2.
  for (int32_t i = 0; i < 3; ++i) {
    const FilterPrototype& p = r.Prototype(1 + i);
    EXPECT_EQ(p.id, 1 + i);
    EXPECT_EQ(p.index, i);
    EXPECT_EQ(p.library, &r.Library(1));
  }
  EXPECT_STREQ(r.Prototype(2).info.name, "Test relay");
  EXPECT_EQ(r.Prototype(4).library, &r.Library(2));
}

TEST(Registry, OptionalExportsAreFoundWhenPresent) {
  const Registry& r = TestRegistry();
  EXPECT_NE(r.Library(0).entry.failureReason, nullptr);
  EXPECT_NE(r.Library(0).entry.releaseConfig, nullptr);
  EXPECT_EQ(r.Library(1).entry.failureReason, nullptr);
  EXPECT_NE(r.Library(1).entry.releaseConfig, nullptr);
  EXPECT_EQ(r.Library(2).entry.failureReason, nullptr);
  EXPECT_EQ(r.Library(2).entry.releaseConfig, nullptr);
}

TEST(Registry, LookupsByPrototypeIdAndFilterId) {
  const Registry& r = TestRegistry();
  EXPECT_EQ(r.FindPrototype(3)->info.id, kWorkerId);
  EXPECT_EQ(r.FindPrototype(5), nullptr);
  EXPECT_EQ(r.FindPrototype(-1), nullptr);
  // Two libraries report 9001: the one loaded first wins.
  const FilterPrototype* p = r.FindPrototypeByFilterId(kValidId);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->library->fileName, "a_valid.so");
  EXPECT_EQ(r.FindPrototypeByFilterId(12345), nullptr);
}

TEST(Registry, MissingOrEmptyFolderGivesNothing) {
  const Registry missing("/nonexistent/vorlan/filters");
  EXPECT_EQ(missing.LibraryCount(), 0);
  EXPECT_EQ(missing.PrototypeCount(), 0);
  const std::string empty = vorlan::test::TempDir("registry-empty");
  const Registry none(empty);
  EXPECT_EQ(none.PrototypeCount(), 0);
}

TEST(Registry, InProcessLibrariesNeedTheFourRequiredEntryPoints) {
  Registry r;
  LibraryEntryPoints entry = TestRegistry().Library(1).entry;
  entry.destroy = nullptr;
  EXPECT_FALSE(r.AddLibrary("x.so", nullptr, entry));
  EXPECT_EQ(r.LibraryCount(), 0);
  entry = TestRegistry().Library(1).entry;
  EXPECT_TRUE(r.AddLibrary("x.so", nullptr, entry));
  EXPECT_EQ(r.PrototypeCount(), 3);
}

TEST(Registry, DefaultFolderPrefersTheCurrentDirectory) {
  namespace fs = std::filesystem;
  const fs::path old = fs::current_path();
  const std::string dir = vorlan::test::TempDir("registry-cwd");
  fs::current_path(dir);
  // No ./filters here: the folder beside the test program is used.
  const std::string beside = Registry::DefaultFolder();
  EXPECT_NE(beside, "filters");
  EXPECT_EQ(fs::path(beside).filename(), "filters");
  // An empty ./filters (a source tree's, say) does not hide the program's own.
  fs::create_directory("filters");
  EXPECT_EQ(Registry::DefaultFolder(), beside);
  vorlan::test::WriteFile("filters/any.so", {});
  EXPECT_EQ(Registry::DefaultFolder(), "filters");
  fs::current_path(old);
}

}  // namespace
}  // namespace vorlan::host::test
