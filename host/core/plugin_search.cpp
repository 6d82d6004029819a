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

bool Absolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

// Calls `entry` with each non-empty entry of a ':'-separated list.
template <typename Fn>
void ForEachEntry(const std::string& list, Fn entry) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) entry(list.substr(start, end - start));
    start = end + 1;
  }
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
  if (Absolute(in.xdgDataHome)) {
    dataHome = in.xdgDataHome;
  } else if (Absolute(in.home)) {
    dataHome = in.home + "/.local/share";
  }
  if (!dataHome.empty()) folders.push_back({dataHome + "/vorlan/filters", FolderOrigin::User});

  ForEachEntry(in.filterPath, [&](const std::string& entry) {
    if (Absolute(entry)) folders.push_back({entry, FolderOrigin::Environment});
  });

  for (const std::string& dir : in.extra) {
    if (!dir.empty()) folders.push_back({dir, FolderOrigin::CommandLine});
  }
  return folders;
}

std::vector<std::string> IgnoredSearchEntries(const SearchInputs& in) {
  std::vector<std::string> lines;
  auto ignored = [&](const std::string& what, const std::string& value) {
    lines.push_back(what + " \"" + value + "\" is ignored: it is not an absolute folder");
  };
  if (!in.xdgDataHome.empty() && !Absolute(in.xdgDataHome)) ignored("XDG_DATA_HOME", in.xdgDataHome);
  // HOME only matters when XDG_DATA_HOME does not name the user's folder.
  if (!Absolute(in.xdgDataHome) && !in.home.empty() && !Absolute(in.home)) ignored("HOME", in.home);
  ForEachEntry(in.filterPath, [&](const std::string& entry) {
    if (!Absolute(entry)) ignored("VORLAN_FILTER_PATH entry", entry);
  });
  return lines;
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
