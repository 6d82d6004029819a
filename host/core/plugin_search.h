// Where the program looks for plug-in libraries, and in which order.
//
// The current directory is never searched on its own: a folder a user
// happens to stand in (a downloaded picture set, a colleague's project) must
// not be able to run code in the program. Folders are searched in this
// order, and the first library to offer a filter id keeps it:
//   1. the `filters` folder beside the program (build tree or installation);
//   2. the user's plug-in folder, $XDG_DATA_HOME/vorlan/filters
//      (~/.local/share/vorlan/filters when XDG_DATA_HOME is unset);
//   3. the folders of VORLAN_FILTER_PATH, separated by ':';
//   4. the folders given with --filters, in command-line order.
// A relative folder given with --filters is the user's explicit choice and
// is kept relative (resolved against the current directory when searched).
// The environment is different: it is inherited, often set by scripts far
// from where the program is started, so a relative VORLAN_FILTER_PATH entry,
// HOME or XDG_DATA_HOME would quietly make the current directory a plug-in
// folder. Those are ignored, and IgnoredSearchEntries says so.
#pragma once

#include <string>
#include <vector>

namespace vorlan::host {

enum class FolderOrigin { Program, User, Environment, CommandLine };

// How a folder's origin is shown next to it ("beside the program", ...).
const char* OriginLabel(FolderOrigin origin);

struct PluginFolder {
  std::string path;
  FolderOrigin origin = FolderOrigin::Program;
};

// What the search order is computed from; every field may be empty.
struct SearchInputs {
  std::string programFolder;           // folder holding the executable
  std::string xdgDataHome;             // $XDG_DATA_HOME
  std::string home;                    // $HOME
  std::string filterPath;              // $VORLAN_FILTER_PATH
  std::vector<std::string> extra;      // --filters DIR, in order
};

// The folders to search, in order. A relative XDG_DATA_HOME is ignored, as
// the XDG base-directory rules ask, and so are a relative HOME and relative
// entries of VORLAN_FILTER_PATH; empty entries of VORLAN_FILTER_PATH are
// skipped (they would otherwise mean the current directory).
std::vector<PluginFolder> PluginSearchPath(const SearchInputs& inputs);

// One line per relative environment setting that PluginSearchPath ignored,
// naming the variable and its value, for `--list` and the runner's warnings.
std::vector<std::string> IgnoredSearchEntries(const SearchInputs& inputs);

// The inputs of this process: its executable's folder and environment, plus
// the --filters folders of its command line.
SearchInputs ProcessSearchInputs(const std::vector<std::string>& extra);

// The folder holding the running executable ("" when it cannot be found).
std::string ProgramFolder();

}  // namespace vorlan::host
