#include "core/registry.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>

namespace vorlan::host {
namespace {

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

bool EndsWithSo(const std::string& name) {
  return name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0;
}

// Whether `folder` holds at least one plug-in file.
bool HoldsPlugins(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (EndsWithSo(entry->d_name)) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

template <class Fn>
Fn Lookup(void* module, const char* name) {
  return reinterpret_cast<Fn>(::dlsym(module, name));
}

}  // namespace

Registry::Registry(const std::string& folder) { Scan(folder); }

Registry::~Registry() {
  prototypes_.clear();
  for (auto& library : libraries_) {
    if (library->module != nullptr) ::dlclose(library->module);
  }
  libraries_.clear();
}

std::string Registry::DefaultFolder() {
  // A ./filters folder without plug-ins (the source tree's, say) does not
  // hide the program's own.
  if (IsDirectory("filters") && HoldsPlugins("filters")) return "filters";
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "filters";
  std::string path(exe, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "filters";
  return path.substr(0, slash) + "/filters";
}

void Registry::Scan(const std::string& folder) {
  folder_ = folder;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (EndsWithSo(name)) names.push_back(std::move(name));
  }
  ::closedir(dir);
  // std::string compares bytes as unsigned chars: byte-wise order, so
  // prototype ids do not depend on the directory's own order or the locale.
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    if (!IsRegularFile(path)) continue;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) continue;
    LibraryEntryPoints entry;
    entry.getLibraryInfo = Lookup<GetFilterLibraryInfoFn>(module, kGetFilterLibraryInfoName);
    entry.getFilterInfo = Lookup<GetFilterInfoFn>(module, kGetFilterInfoName);
    entry.create = Lookup<CreateFilterFn>(module, kCreateFilterName);
    entry.destroy = Lookup<DestroyFilterFn>(module, kDestroyFilterName);
    entry.failureReason = Lookup<GetFailureReasonFn>(module, kGetFailureReasonName);
    entry.releaseConfig = Lookup<ReleaseConfigFn>(module, kReleaseConfigName);
    if (!AddLibrary(name, module, entry)) ::dlclose(module);
  }
}

bool Registry::AddLibrary(const std::string& fileName, void* module, const LibraryEntryPoints& entry) {
  if (entry.getLibraryInfo == nullptr || entry.getFilterInfo == nullptr || entry.create == nullptr ||
      entry.destroy == nullptr) {
    return false;
  }
  auto library = std::make_unique<FilterLibrary>();
  library->fileName = fileName;
  library->info = entry.getLibraryInfo();
  if (library->info.count < 0 || library->info.count > kMaxPrototypesPerLibrary) return false;
  if (library->info.name == nullptr) library->info.name = "";
  library->entry = entry;
  library->id = LibraryCount();
  library->module = module;
  for (int32_t i = 0; i < library->info.count; ++i) {
    FilterPrototype prototype;
    prototype.library = library.get();
    prototype.index = i;
    prototype.info = entry.getFilterInfo(i);
    if (prototype.info.name == nullptr) prototype.info.name = "";
    prototype.id = PrototypeCount();
    prototypes_.push_back(prototype);
  }
  libraries_.push_back(std::move(library));
  return true;
}

const FilterPrototype* Registry::FindPrototype(int32_t prototypeId) const {
  for (const FilterPrototype& p : prototypes_) {
    if (p.id == prototypeId) return &p;
  }
  return nullptr;
}

const FilterPrototype* Registry::FindPrototypeByFilterId(int32_t filterId) const {
  for (const FilterPrototype& p : prototypes_) {
    if (p.info.id == filterId) return &p;
  }
  return nullptr;
}

}  // namespace vorlan::host
