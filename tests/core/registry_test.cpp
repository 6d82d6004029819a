#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core_fixture.h"

namespace vorlan::host::test {
namespace {

TEST(Registry, SkipsBrokenLibrariesAndNumbersTheRestInNameOrder) {
  const Registry& r = TestRegistry();
  // a_valid and c_multi load; b_no_destroy lacks DestroyFilter, d_duplicate
  // offers the id a_valid already took, e_broken.so is no library,
  // notes.txt has the wrong name.
  ASSERT_EQ(r.LibraryCount(), 2);
  ASSERT_EQ(r.PrototypeCount(), 4);
  EXPECT_EQ(r.Library(0).fileName, "a_valid.so");
  EXPECT_EQ(r.Library(1).fileName, "c_multi.so");
  for (int32_t i = 0; i < 2; ++i) EXPECT_EQ(r.Library(i).id, i);

  // c_multi offers three prototypes with consecutive ids and indexes 0, 1, 2.
  for (int32_t i = 0; i < 3; ++i) {
    const FilterPrototype& p = r.Prototype(1 + i);
    EXPECT_EQ(p.id, 1 + i);
    EXPECT_EQ(p.index, i);
    EXPECT_EQ(p.library, &r.Library(1));
  }
  EXPECT_STREQ(r.Prototype(2).info.name, "Test relay");

  // Every file that was not registered is named with the reason.
  const std::string dir = VORLAN_TEST_PLUGIN_DIR;
  ASSERT_EQ(r.Rejected().size(), 3u);
  EXPECT_EQ(r.Rejected()[0].path, dir + "/b_no_destroy.so");
  EXPECT_EQ(r.Rejected()[0].reason, "lacks the export DestroyFilter");
  EXPECT_EQ(r.Rejected()[1].path, dir + "/d_duplicate.so");
  EXPECT_EQ(r.Rejected()[1].reason, "filter id 9001 (\"Test duplicate\") is already taken by \"Test valid\" of " + dir +
                                        "/a_valid.so; one of the two needs another id (docs/filter-ids.md)");
  EXPECT_EQ(r.Rejected()[2].path, dir + "/e_broken.so");
  // The dynamic loader's own message, which names the file.
  EXPECT_NE(r.Rejected()[2].reason.find("e_broken.so"), std::string::npos) << r.Rejected()[2].reason;
}

TEST(Registry, OptionalExportsAreFoundWhenPresent) {
  const Registry& r = TestRegistry();
  EXPECT_NE(r.Library(0).entry.failureReason, nullptr);
  EXPECT_NE(r.Library(0).entry.releaseConfig, nullptr);
  EXPECT_EQ(r.Library(1).entry.failureReason, nullptr);
  EXPECT_NE(r.Library(1).entry.releaseConfig, nullptr);
}

TEST(Registry, LookupsByPrototypeIdAndFilterId) {
  const Registry& r = TestRegistry();
  EXPECT_EQ(r.FindPrototype(3)->info.id, kWorkerId);
  EXPECT_EQ(r.FindPrototype(4), nullptr);
  EXPECT_EQ(r.FindPrototype(-1), nullptr);
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

TEST(Registry, InProcessLibrariesCannotTakeAnIdTwice) {
  Registry r;
  const LibraryEntryPoints multi = TestRegistry().Library(1).entry;
  ASSERT_TRUE(r.AddLibrary("first.so", nullptr, multi));
  std::string reason;
  EXPECT_FALSE(r.AddLibrary("second.so", nullptr, multi, &reason));
  EXPECT_EQ(reason, "filter id 9101 (\"Test source\") is already taken by \"Test source\" of first.so; one of the two needs another id (docs/filter-ids.md)");
  EXPECT_EQ(r.LibraryCount(), 1);
  EXPECT_EQ(r.PrototypeCount(), 3);
}

// Folders are searched in the order given; within one, files go by name.
// The first library to offer an id keeps it, whatever its folder.
TEST(Registry, FoldersInOrderAndTheFirstIdWins) {
  namespace fs = std::filesystem;
  const std::string plugins = VORLAN_TEST_PLUGIN_DIR;
  const std::string early = vorlan::test::TempDir("registry-early");
  // Sorts before a_valid, but its folder comes first only in `front`.
  fs::copy_file(plugins + "/d_duplicate.so", early + "/z_duplicate.so", fs::copy_options::overwrite_existing);

  const Registry back({{plugins, FolderOrigin::Program}, {early, FolderOrigin::CommandLine}});
  ASSERT_EQ(back.LibraryCount(), 2);
  EXPECT_EQ(back.FindPrototypeByFilterId(kValidId)->library->fileName, "a_valid.so");
  EXPECT_EQ(back.Rejected().back().path, early + "/z_duplicate.so");

  const Registry front({{early, FolderOrigin::User}, {plugins, FolderOrigin::Program}});
  ASSERT_EQ(front.LibraryCount(), 2);
  EXPECT_EQ(front.Library(0).fileName, "z_duplicate.so");
  EXPECT_EQ(front.Library(1).fileName, "c_multi.so");
  EXPECT_STREQ(front.FindPrototypeByFilterId(kValidId)->info.name, "Test duplicate");
  // a_valid and d_duplicate of the later folder both lose 9001.
  int taken = 0;
  for (const auto& rejected : front.Rejected()) {
    taken += rejected.reason.find("is already taken by \"Test duplicate\" of " + early + "/z_duplicate.so;") !=
                     std::string::npos
                 ? 1
                 : 0;
  }
  EXPECT_EQ(taken, 2);

  // One folder reached twice (here under a second name) is searched once;
  // a missing folder is listed as absent.
  const Registry twice({{plugins, FolderOrigin::Program},
                        {plugins + "/.", FolderOrigin::Environment},
                        {"/nonexistent/vorlan", FolderOrigin::CommandLine}});
  EXPECT_EQ(twice.LibraryCount(), 2);
  ASSERT_EQ(twice.Folders().size(), 2u);
  EXPECT_TRUE(twice.Folders()[0].present);
  EXPECT_FALSE(twice.Folders()[1].present);
  EXPECT_EQ(twice.Rejected().size(), 3u);
}

TEST(PluginSearch, OrderOfTheFolders) {
  SearchInputs in;
  in.programFolder = "/opt/vorlan";
  in.home = "/home/u";
  in.filterPath = ":/a::rel/b:";
  in.extra = {"filters", "/c"};
  auto paths = [](const std::vector<PluginFolder>& folders) {
    std::vector<std::string> out;
    for (const PluginFolder& f : folders) out.push_back(f.path + "|" + OriginLabel(f.origin));
    return out;
  };
  // No current directory anywhere, even for the empty entries of the list:
  // a relative entry of the environment is dropped (and reported), a
  // relative --filters folder is kept.
  EXPECT_EQ(paths(PluginSearchPath(in)),
            (std::vector<std::string>{"/opt/vorlan/filters|beside the program",
                                      "/home/u/.local/share/vorlan/filters|user folder", "/a|VORLAN_FILTER_PATH",
                                      "filters|--filters", "/c|--filters"}));
  EXPECT_EQ(IgnoredSearchEntries(in),
            (std::vector<std::string>{"VORLAN_FILTER_PATH entry \"rel/b\" is ignored: it is not an absolute folder"}));
  in.xdgDataHome = "/data";
  EXPECT_EQ(PluginSearchPath(in)[1].path, "/data/vorlan/filters");
  // A relative XDG_DATA_HOME is invalid and ignored.
  in.xdgDataHome = "data";
  EXPECT_EQ(PluginSearchPath(in)[1].path, "/home/u/.local/share/vorlan/filters");
  EXPECT_EQ(IgnoredSearchEntries(in).front(), "XDG_DATA_HOME \"data\" is ignored: it is not an absolute folder");
  // So is a relative HOME: no user folder at all, and both are named.
  in.home = ".";
  EXPECT_EQ(paths(PluginSearchPath(in))[1], "/a|VORLAN_FILTER_PATH");
  EXPECT_EQ(IgnoredSearchEntries(in),
            (std::vector<std::string>{"XDG_DATA_HOME \"data\" is ignored: it is not an absolute folder",
                                      "HOME \".\" is ignored: it is not an absolute folder",
                                      "VORLAN_FILTER_PATH entry \"rel/b\" is ignored: it is not an absolute folder"}));
  // A relative HOME does not matter while XDG_DATA_HOME names the folder.
  in.xdgDataHome = "/data";
  EXPECT_EQ(IgnoredSearchEntries(in).size(), 1u);
  in.xdgDataHome.clear();
  in.home.clear();
  in.filterPath.clear();
  in.extra.clear();
  EXPECT_EQ(paths(PluginSearchPath(in)), (std::vector<std::string>{"/opt/vorlan/filters|beside the program"}));
  // The test program's own folder.
  EXPECT_EQ(ProgramFolder(), std::filesystem::canonical(VORLAN_BUILD_DIR).string() + "/tests");
}

}  // namespace
}  // namespace vorlan::host::test
