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
};

// Parses the arguments after "--run". False with `error` on bad usage.
bool ParseRunOptions(int argc, char** argv, RunOptions& options, std::string& error);

// Sets the file path of every file-stream node (filter id 10 or 20)
// captioned `caption`. False with `error` when no such node exists or a
// filter refuses the path.
bool SetStreamPath(GraphDocument& document, const std::string& caption, const std::string& path,
                   std::string& error);

// Loads the libraries (Registry::DefaultFolder) and the graph, applies the
// paths, runs the graph on the worker thread and reports on stdout/stderr.
int RunGraph(const RunOptions& options);
// The same over a given registry (tests).
int RunGraph(const Registry& registry, const RunOptions& options, std::FILE* out, std::FILE* err);

// One line per prototype, then "Loaded %i Libraries with %i Filter prototypes.".
void ListPrototypes(const Registry& registry, std::FILE* out);

}  // namespace vorlan::host
