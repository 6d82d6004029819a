// Every plug-in library answers the contract's out-of-range calls as the
// contract says and exports exactly its entry points.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "vorlan/contract.h"

namespace {

std::vector<std::string> BuiltLibraries() {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(VORLAN_FILTER_DIR, ec)) {
    if (entry.path().extension() == ".so") out.push_back(entry.path().string());
  }
  for (const char* name : {"a_valid.so", "c_multi.so", "d_duplicate.so"}) {
    out.push_back(std::string(VORLAN_TEST_PLUGIN_DIR) + "/" + name);
  }
  return out;
}

// Sanitizer builds emit type information of Qt classes for their vptr checks.
constexpr bool SanitizerBuild() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

// Global symbols the library defines in its dynamic symbol table.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  std::array<char, 1024> line{};
  while (std::fgets(line.data(), line.size(), pipe) != nullptr) {
    char type = 0;
    char name[900] = {0};
    unsigned long long address = 0;
    if (std::sscanf(line.data(), "%llx %c %899s", &address, &type, name) == 3) {
      // Upper-case types are global; 'A' marks linker-defined section bounds.
      if (type >= 'B' && type <= 'Z') names.insert(name);
    }
  }
  ::pclose(pipe);
  return names;
}

TEST(PluginContract, OutOfRangeCallsAreAnsweredAsTheContractSays) {
  for (const std::string& path : BuiltLibraries()) {
    SCOPED_TRACE(path);
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << ::dlerror();
    auto libraryInfo = reinterpret_cast<vorlan::GetFilterLibraryInfoFn>(::dlsym(module, "GetFilterLibraryInfo"));
    auto filterInfo = reinterpret_cast<vorlan::GetFilterInfoFn>(::dlsym(module, "GetFilterInfo"));
    auto create = reinterpret_cast<vorlan::CreateFilterFn>(::dlsym(module, "CreateFilter"));
    auto destroy = reinterpret_cast<vorlan::DestroyFilterFn>(::dlsym(module, "DestroyFilter"));
    ASSERT_TRUE(libraryInfo && filterInfo && create && destroy);

    const vorlan::FilterLibraryInfo lib = libraryInfo();
    ASSERT_GE(lib.count, 1);
    EXPECT_EQ(lib.major, 1);
    EXPECT_EQ(lib.minor, 0);
    const vorlan::FilterInfo none = filterInfo(lib.count);
    ASSERT_NE(none.name, nullptr);
    EXPECT_STREQ(none.name, "");
    EXPECT_EQ(none.major, 0);
    EXPECT_EQ(none.minor, 0);
    EXPECT_EQ(none.id, 0);
    EXPECT_EQ(create(lib.count), nullptr);

    vorlan::Filter* filter = create(0);
    ASSERT_NE(filter, nullptr);
    const vorlan::FilterInfo info = filterInfo(0);
    EXPECT_EQ(filter->info.id, info.id);
    EXPECT_GE(filter->pinCount, 2);
    EXPECT_EQ(filter->pins[0]->kind, static_cast<int32_t>(vorlan::PinKind::ConfigIn));
    EXPECT_EQ(filter->pins[1]->kind, static_cast<int32_t>(vorlan::PinKind::ConfigOut));
    const int32_t pins = filter->pinCount;
    destroy(filter, 7);  // must leave the filter untouched
    EXPECT_EQ(filter->pinCount, pins);
    EXPECT_EQ(filter->info.id, info.id);
    destroy(filter, 0);
    destroy(nullptr, 0);
    // Not dlclose'd: statics a library keeps would show up as leaks of an
    // unloaded module in sanitizer builds.
  }
}

TEST(PluginContract, LibrariesExportOnlyTheirEntryPoints) {
  const std::set<std::string> allowed = {"GetFilterLibraryInfo", "GetFilterInfo", "CreateFilter",
                                         "DestroyFilter",        "GetFailureReason", "ReleaseConfig",
                                         "SetDocumentFolder", "GetSettingsDescription", "CheckSettings",
                                         "GetPinPacketTypes"};
  for (const std::string& path : BuiltLibraries()) {
    SCOPED_TRACE(path);
    const std::set<std::string> symbols = DefinedDynamicSymbols(path);
    ASSERT_FALSE(symbols.empty()) << "nm -D listed nothing";
    for (const char* required : {"GetFilterLibraryInfo", "GetFilterInfo", "CreateFilter", "DestroyFilter"}) {
      EXPECT_TRUE(symbols.count(required)) << "missing " << required;
    }
    for (const std::string& s : symbols) {
      // Section bounds the linker defines in every library, and the
      // interface symbols of sanitizer builds.
      if (SanitizerBuild() && (s.rfind("_ZTI", 0) == 0 || s.rfind("_ZTS", 0) == 0)) continue;  // vptr checks
      if (s == "__bss_start" || s == "_edata" || s == "_end" || s == "_init" || s == "_fini" ||
          s.rfind("__asan", 0) == 0 || s.rfind("__ubsan", 0) == 0 || s.rfind("__tsan", 0) == 0 ||
          s.rfind("__sanitizer", 0) == 0) {
        continue;
      }
      EXPECT_TRUE(allowed.count(s)) << "unexpected export " << s;
    }
  }
}

}  // namespace
