#include "core/registry.h"

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "vorlan/settings_values.h"

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

// The directory's identity, so that one folder reached under two names is
// searched once.
std::string Identity(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::canonical(folder, ec);
  return ec ? folder : canonical.string();
}

template <class Fn>
Fn Lookup(void* module, const char* name) {
  return reinterpret_cast<Fn>(::dlsym(module, name));
}

}  // namespace

Registry::Registry(const std::vector<PluginFolder>& folders) {
  std::set<std::string> seen;
  for (const PluginFolder& folder : folders) {
    if (!seen.insert(Identity(folder.path)).second) continue;
    Scan(folder);
  }
}

Registry::Registry(const std::string& folder) { Scan(PluginFolder{folder, FolderOrigin::CommandLine}); }

Registry::~Registry() {
  prototypes_.clear();
  for (auto& library : libraries_) {
    if (library->module != nullptr) ::dlclose(library->module);
  }
  libraries_.clear();
}

void Registry::Scan(const PluginFolder& folder) {
  const bool present = IsDirectory(folder.path);
  folders_.push_back({folder, present});
  if (!present) return;
  DIR* dir = ::opendir(folder.path.c_str());
  if (dir == nullptr) {
    folders_.back().present = false;
    return;
  }
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
    const std::string path = folder.path + "/" + name;
    if (!IsRegularFile(path)) {
      rejected_.push_back({path, "not a regular file"});
      continue;
    }
    ::dlerror();
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* why = ::dlerror();
      rejected_.push_back({path, why != nullptr ? why : "cannot be loaded"});
      continue;
    }
    LibraryEntryPoints entry;
    entry.getLibraryInfo = Lookup<GetFilterLibraryInfoFn>(module, kGetFilterLibraryInfoName);
    entry.getFilterInfo = Lookup<GetFilterInfoFn>(module, kGetFilterInfoName);
    entry.create = Lookup<CreateFilterFn>(module, kCreateFilterName);
    entry.destroy = Lookup<DestroyFilterFn>(module, kDestroyFilterName);
    entry.failureReason = Lookup<GetFailureReasonFn>(module, kGetFailureReasonName);
    entry.releaseConfig = Lookup<ReleaseConfigFn>(module, kReleaseConfigName);
    entry.setDocumentFolder = Lookup<SetDocumentFolderFn>(module, kSetDocumentFolderName);
    entry.getSettingsDescription = Lookup<GetSettingsDescriptionFn>(module, kGetSettingsDescriptionName);
    entry.checkSettings = Lookup<CheckSettingsFn>(module, kCheckSettingsName);
    entry.getPinPacketTypes = Lookup<GetPinPacketTypesFn>(module, kGetPinPacketTypesName);
    std::string reason;
    if (!AddLibrary(name, module, entry, &reason)) {
      ::dlclose(module);
      rejected_.push_back({path, reason});
    } else {
      libraries_.back()->path = path;
    }
  }
}

bool Registry::AddLibrary(const std::string& fileName, void* module, const LibraryEntryPoints& entry,
                          std::string* reason) {
  auto refuse = [reason](std::string why) {
    if (reason != nullptr) *reason = std::move(why);
    return false;
  };
  const std::pair<const void*, const char*> required[] = {
      {reinterpret_cast<const void*>(entry.getLibraryInfo), kGetFilterLibraryInfoName},
      {reinterpret_cast<const void*>(entry.getFilterInfo), kGetFilterInfoName},
      {reinterpret_cast<const void*>(entry.create), kCreateFilterName},
      {reinterpret_cast<const void*>(entry.destroy), kDestroyFilterName}};
  for (const auto& [fn, name] : required) {
    if (fn == nullptr) return refuse(std::string("lacks the export ") + name);
  }
  auto library = std::make_unique<FilterLibrary>();
  library->fileName = fileName;
  library->info = entry.getLibraryInfo();
  if (library->info.count < 0 || library->info.count > kMaxPrototypesPerLibrary) {
    return refuse("reports " + std::to_string(library->info.count) + " filter prototypes (at most " +
                  std::to_string(kMaxPrototypesPerLibrary) + " are accepted)");
  }
  if (library->info.name == nullptr) library->info.name = "";
  library->entry = entry;
  library->id = LibraryCount();
  library->module = module;

  std::vector<FilterPrototype> offered;
  for (int32_t i = 0; i < library->info.count; ++i) {
    FilterPrototype prototype;
    prototype.library = library.get();
    prototype.index = i;
    prototype.info = entry.getFilterInfo(i);
    if (prototype.info.name == nullptr) prototype.info.name = "";
    // The first library to offer an id keeps it: graph files find filters
    // by id, so a second one could never be loaded back from a saved graph.
    // The message names both libraries and both filters, so that whoever
    // installed them can tell which one to renumber.
    if (const FilterPrototype* taken = FindPrototypeByFilterId(prototype.info.id)) {
      const FilterLibrary& first = *taken->library;
      return refuse("filter id " + std::to_string(prototype.info.id) + " (\"" + prototype.info.name +
                    "\") is already taken by \"" + taken->info.name + "\" of " +
                    (first.path.empty() ? first.fileName : first.path) +
                    "; one of the two needs another id (docs/filter-ids.md)");
    }
    if (entry.getSettingsDescription != nullptr) {
      const SettingsDescription* settings = entry.getSettingsDescription(i);
      if (settings != nullptr) {
        prototype.settingsProblem = DescriptionProblem(settings);
        if (prototype.settingsProblem.empty()) prototype.settings = settings;
      }
    }
    offered.push_back(prototype);
  }
  for (FilterPrototype& prototype : offered) {
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
