// The filter library registry: every plug-in library found in the plug-in
// folders, and the filter prototypes they offer.
//
// Built once on the user-interface thread at start-up and read-only after
// that; the libraries stay loaded until the registry is destroyed, which
// must happen after every filter created through it is gone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <deque>
#include <vector>

#include "core/plugin_search.h"
#include "vorlan/contract.h"
#include "vorlan/file_names.h"
#include "vorlan/pin_types.h"
#include "vorlan/settings_description.h"

namespace vorlan::host {

// The entry points of one library. The four required ones are never null in
// a registered library; the optional ones may be.
struct LibraryEntryPoints {
  GetFilterLibraryInfoFn getLibraryInfo = nullptr;
  GetFilterInfoFn getFilterInfo = nullptr;
  CreateFilterFn create = nullptr;
  DestroyFilterFn destroy = nullptr;
  GetFailureReasonFn failureReason = nullptr;  // optional
  ReleaseConfigFn releaseConfig = nullptr;     // optional
  SetDocumentFolderFn setDocumentFolder = nullptr;  // optional
  GetSettingsDescriptionFn getSettingsDescription = nullptr;  // optional
  CheckSettingsFn checkSettings = nullptr;                    // optional
  GetPinPacketTypesFn getPinPacketTypes = nullptr;            // optional
};

struct FilterLibrary {
  int32_t id = -1;        // library number in load order
  std::string fileName;   // without folder
  std::string path;       // folder/file as loaded; empty for in-process libraries
  void* module = nullptr;  // dlopen handle; null for in-process libraries
  FilterLibraryInfo info{};
  LibraryEntryPoints entry;
};

struct FilterPrototype {
  int32_t id = -1;  // prototype number across all libraries, load order
  const FilterLibrary* library = nullptr;
  int32_t index = 0;  // prototype index inside the library
  FilterInfo info{};
  // The library's description of the settings, checked when the library was
  // registered; null when it gives none or one that cannot be used (then
  // `settingsProblem` says why), and the settings are opaque bytes.
  const SettingsDescription* settings = nullptr;
  std::string settingsProblem;
};

// Prototypes a library may offer at most; a larger count is taken as broken.
inline constexpr int32_t kMaxPrototypesPerLibrary = 4096;

class Registry {
 public:
  // An empty registry (libraries may be added with AddLibrary).
  Registry() = default;
  // Loads every "*.so" of each folder in turn, byte-wise name order within
  // a folder. A folder met a second time (the same directory under another
  // name) is not searched again. Files that do not load, lack one of the
  // four required exports, or offer a filter id an earlier library already
  // offers are not registered; they are listed in Rejected() with the
  // reason.
  explicit Registry(const std::vector<PluginFolder>& folders);
  // The same over one folder (tests and tools).
  explicit Registry(const std::string& folder);
  ~Registry();  // dlcloses every library
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Registers a library whose entry points are already resolved (dlopen'ed
  // by the scan, or linked into the process for tests and tools). Takes
  // over `module` (dlclosed with the registry) only on success. False, with
  // `reason` when given, when a required entry point is missing, the
  // library reports a count outside 0..kMaxPrototypesPerLibrary, or one of
  // its filter ids is taken by a library registered earlier; nothing is
  // registered then.
  bool AddLibrary(const std::string& fileName, void* module, const LibraryEntryPoints& entry,
                  std::string* reason = nullptr);

  const FilterPrototype* FindPrototype(int32_t prototypeId) const;
  // First prototype in load order whose info.id is `filterId`.
  const FilterPrototype* FindPrototypeByFilterId(int32_t filterId) const;

  int32_t LibraryCount() const { return static_cast<int32_t>(libraries_.size()); }
  int32_t PrototypeCount() const { return static_cast<int32_t>(prototypes_.size()); }
  const FilterLibrary& Library(int32_t index) const { return *libraries_[static_cast<size_t>(index)]; }
  const FilterPrototype& Prototype(int32_t index) const { return prototypes_[static_cast<size_t>(index)]; }

  // The folders the scan looked at, in order, and whether each existed.
  struct SearchedFolder {
    PluginFolder folder;
    bool present = false;
  };
  const std::vector<SearchedFolder>& Folders() const { return folders_; }

  // Library files that were found but not registered, in scan order.
  struct RejectedLibrary {
    std::string path;    // folder/file as searched
    std::string reason;  // the loader's message, or what the host refused
  };
  const std::vector<RejectedLibrary>& Rejected() const { return rejected_; }

 private:
  void Scan(const PluginFolder& folder);

  std::vector<SearchedFolder> folders_;
  std::vector<RejectedLibrary> rejected_;
  std::vector<std::unique_ptr<FilterLibrary>> libraries_;
  std::deque<FilterPrototype> prototypes_;  // stable addresses
};

}  // namespace vorlan::host
