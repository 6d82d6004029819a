#include "plugin_home.h"

#include <dlfcn.h>

#include <filesystem>

#include "core/plugin_search.h"

namespace vorlan::python {

std::string ProgramFolderOfModule() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ProgramFolderOfModule), &info) != 0 && info.dli_fname != nullptr) {
    std::error_code failed;
    const std::filesystem::path module = std::filesystem::canonical(info.dli_fname, failed);
    if (!failed) {
      // <build>/python/vorlan/_vorlan.so: a build tree has its CMake cache
      // and the plug-ins two folders up.
      const std::filesystem::path root = module.parent_path().parent_path().parent_path();
      if (std::filesystem::is_regular_file(root / "CMakeCache.txt", failed) &&
          std::filesystem::is_directory(root / "filters", failed)) {
        return root.string();
      }
    }
  }
  return VORLAN_INSTALLED_PROGRAM_DIR;
}

const host::Registry& ModuleRegistry() {
  static const host::Registry* registry = [] {
    host::SearchInputs inputs = host::ProcessSearchInputs({});
    inputs.programFolder = ProgramFolderOfModule();
    return new host::Registry(host::PluginSearchPath(inputs));
  }();
  return *registry;
}

}  // namespace vorlan::python
