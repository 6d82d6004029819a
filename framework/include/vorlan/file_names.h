// How a file name held in a filter's settings finds its file: a relative
// name is taken from the folder of the graph file that holds it (the
// "document folder"), so a graph and the files beside it can move together.
//
// The host tells each filter its document folder through the optional
// library export SetDocumentFolder before every run; the library keeps it
// beside the filter until the filter is destroyed.
#pragma once

#include <string>
#include <string_view>

#include "vorlan/contract.h"

namespace vorlan {

// Optional export: the folder relative file names in the filter's settings
// are taken from (null or "": the current folder). The library keeps a copy.
// [ui thread, no run active]
using SetDocumentFolderFn = void (*)(Filter* filter, const char* folder);
inline constexpr const char* kSetDocumentFolderName = "SetDocumentFolder";

// `name` when it is absolute or empty, or when `folder` is empty (the
// current folder: a graph not yet saved); otherwise folder/name.
inline std::string ResolveFileName(std::string_view folder, std::string_view name) {
  if (name.empty() || name.front() == '/' || folder.empty()) return std::string(name);
  std::string path(folder);
  if (path.back() != '/') path += '/';
  path += name;
  return path;
}

// The library side, one table per library: what SetDocumentFolder stored
// for `filter` ("" when nothing), and forgetting it when the filter goes.
// Safe from any thread.
void SetDocumentFolderOf(const Filter* filter, const char* folder);
std::string DocumentFolderOf(const Filter* filter);
void ForgetDocumentFolderOf(const Filter* filter);

}  // namespace vorlan
