// `vorlan --run`, `vorlan --list`: graphs and the registry without a display.
// [main thread]
#pragma once

#include <cstdint>
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
inline constexpr int kExitSignalBase = 128;   // + the number of the signal that stopped the run
inline constexpr int kExitInterrupted = 130;  // SIGINT stopped the run (SIGHUP 129, SIGTERM 143)

struct RunOptions {
  std::string graph;
  std::vector<std::pair<std::string, std::string>> paths;  // caption, file
  std::vector<std::string> settings;  // --set CAPTION.FIELD=VALUE, in order
  std::string report;                 // --report FILE, "" for none
  std::string snapshots;  // folder for display snapshots, "" for none
  bool quiet = false;
  std::vector<std::string> filterFolders;  // --filters DIR, searched after the usual folders
  int64_t memoryLimit = 0;  // bytes of decoded data at once, 0 for the default
};

// "512M", "2G", "1048576": a byte count with an optional K, M or G (powers
// of 1024). False for anything else, zero, or more than 2^50.
bool ParseByteCount(const std::string& text, int64_t& bytes);

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
// SIGINT, SIGTERM and SIGHUP stop the run; it then returns 128 + the signal.
int RunGraph(const RunOptions& options);
// The same over a given registry (tests).
int RunGraph(const Registry& registry, const RunOptions& options, std::FILE* out, std::FILE* err);

// The folders searched, a "warning: " line per environment setting the
// search ignored (`ignored`, see IgnoredSearchEntries), one line per
// prototype, the libraries that were not loaded with the reason, then
// "Loaded %i Libraries with %i Filter prototypes.".
void ListPrototypes(const Registry& registry, std::FILE* out, const std::vector<std::string>& ignored = {});

// The folders a registry searched, one per line, each prefixed by `indent`:
// "<path> (<origin>)", with ", absent" for a folder that does not exist.
std::string DescribeFolders(const Registry& registry, const char* indent);

}  // namespace vorlan::host
