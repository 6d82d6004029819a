// `vorlan --run`, `vorlan --list`: graphs and the registry without a display.
// [main thread]
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace vorlan::host {

class GraphDocument;
class Registry;

// Exit codes of `vorlan --run`.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;      // a filter failed, the run was refused, "Error occured."
inline constexpr int kExitBadGraph = 2;    // the graph could not be loaded; bad command line
inline constexpr int kExitInterrupted = 130;  // SIGINT stopped the run

struct RunOptions {
  std::string graph;
  std::vector<std::pair<std::string, std::string>> paths;  // caption, file
  std::string snapshots;  // folder for display snapshots, "" for none
  bool quiet = false;
  std::vector<std::string> filterFolders;  // --filters DIR, searched after the usual folders
};

// Parses the arguments after "--run" (as the program's command line does).
// False with `error` on bad usage.
bool ParseRunOptions(int argc, char** argv, RunOptions& options, std::string& error);

// Sets the file path of every file-stream node (filter id 10 or 20)
// captioned `caption`. False with `error` when no such node exists or a
// filter refuses the path.
bool SetStreamPath(GraphDocument& document, const std::string& caption, const std::string& path,
                   std::string& error);

// Loads the libraries (the plug-in search path, see core/plugin_search.h)
// and the graph, applies the paths, runs the graph on the worker thread and
// reports on stdout/stderr; libraries that were not loaded are warned about.
int RunGraph(const RunOptions& options);
// The same over a given registry (tests).
int RunGraph(const Registry& registry, const RunOptions& options, std::FILE* out, std::FILE* err);

// The folders searched, one line per prototype, the libraries that were not
// loaded with the reason, then "Loaded %i Libraries with %i Filter prototypes.".
void ListPrototypes(const Registry& registry, std::FILE* out);

// The folders a registry searched, one per line, each prefixed by `indent`:
// "<path> (<origin>)", with ", absent" for a folder that does not exist.
std::string DescribeFolders(const Registry& registry, const char* indent);

}  // namespace vorlan::host
