#include "core/plugin_search.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace vorlan::host {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

const char* OriginLabel(FolderOrigin origin) {
  switch (origin) {
    case FolderOrigin::Program:
      return "beside the program";
    case FolderOrigin::User:
      return "user folder";
    case FolderOrigin::Environment:
      return "VORLAN_FILTER_PATH";
    case FolderOrigin::CommandLine:
      return "--filters";
  }
  return "";
}

std::vector<PluginFolder> PluginSearchPath(const SearchInputs& in) {
  std::vector<PluginFolder> folders;
  if (!in.programFolder.empty()) folders.push_back({in.programFolder + "/filters", FolderOrigin::Program});

  std::string dataHome;
  if (!in.xdgDataHome.empty() && in.xdgDataHome.front() == '/') {
    dataHome = in.xdgDataHome;
  } else if (!in.home.empty()) {
    dataHome = in.home + "/.local/share";
  }
  if (!dataHome.empty()) folders.push_back({dataHome + "/vorlan/filters", FolderOrigin::User});

  size_t start = 0;
  while (start <= in.filterPath.size()) {
    size_t end = in.filterPath.find(':', start);
    if (end == std::string::npos) end = in.filterPath.size();
    if (end > start) folders.push_back({in.filterPath.substr(start, end - start), FolderOrigin::Environment});
    start = end + 1;
  }

  for (const std::string& dir : in.extra) {
    if (!dir.empty()) folders.push_back({dir, FolderOrigin::CommandLine});
  }
  return folders;
}

std::string ProgramFolder() {
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return std::string();
  const std::string path(exe, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

SearchInputs ProcessSearchInputs(const std::vector<std::string>& extra) {
  SearchInputs in;
  in.programFolder = ProgramFolder();
  in.xdgDataHome = Env("XDG_DATA_HOME");
  in.home = Env("HOME");
  in.filterPath = Env("VORLAN_FILTER_PATH");
  in.extra = extra;
  return in;
}

}  // namespace vorlan::host
