// The filters as the editor offers them for adding: each prototype with a
// category, and a search over name, library, file and category. Pure; any
// thread (the registry is read-only).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry.h"

namespace vorlan::host {

// The categories, in the order the editor lists them; plug-ins this source
// tree does not know land in "other".
inline constexpr const char* kFilterCategories[] = {"streams",  "images",   "colour",  "fractal", "entropy",
                                                    "containers", "measures", "displays", "other"};

// The category of a filter by its id.
const char* FilterCategory(int32_t filterId);

struct CatalogEntry {
  int32_t prototypeId = -1;
  std::string name;      // the filter's info name
  std::string library;   // the library's info name
  std::string fileName;  // the library file, without folder
  std::string category;
};

std::vector<CatalogEntry> BuildCatalog(const Registry& registry);

// Entries matching every word of `query` (case-insensitive, each word a
// part of the name, library, file name or category), best first: a name
// that starts with the query, then a word of the name that does, then the
// rest, each group in catalog order. An empty query matches everything.
std::vector<const CatalogEntry*> SearchCatalog(const std::vector<CatalogEntry>& catalog, std::string_view query);

}  // namespace vorlan::host
