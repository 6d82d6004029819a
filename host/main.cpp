// The entry point of `vorlan`: the editor, or a headless command.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/registry.h"
#include "headless/headless_runner.h"

#if defined(VORLAN_HAVE_EDITOR)
#include "editor.h"
#endif

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  vorlan [GRAPH.gph]            open the editor, optionally with a graph\n"
    "  vorlan --run GRAPH.gph [--path CAPTION=FILE]... [--snapshots DIR] [--memory-limit SIZE] [--quiet]\n"
    "                                run a graph without a display\n"
    "  vorlan --list                 list the filter prototypes of the loaded libraries\n"
    "  vorlan --help | --version\n"
    "\n"
    "Exit status of --run:\n"
    "  0    the graph ended Done\n"
    "  1    the run failed (a filter failed, or a snapshot could not be written)\n"
    "  2    the graph cannot be loaded, or the command line is wrong\n"
    "  129  stopped by SIGHUP, 130 by SIGINT (Ctrl-C), 143 by SIGTERM (128 + signal)\n"
    "--path sets the file of the File Input/Output Stream nodes with that caption.\n"
    "--snapshots writes what RGB and mono displays received as DIR/<node>-<caption>.png.\n"    "--memory-limit caps the data decoders may hold at once (default 2G; K, M, G suffixes).\n"
    "Text display values are printed on stdout as caption<TAB>value<TAB>type.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace vorlan::host;
  if (argc >= 2) {
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (command == "--version") {
      std::puts("Vorlan Version 1.0");
      return 0;
    }
    if (command == "--list") {
      const Registry registry(Registry::DefaultFolder());
      ListPrototypes(registry, stdout);
      return 0;
    }
    if (command == "--run") {
      RunOptions options;
      std::string error;
      if (!ParseRunOptions(argc - 2, argv + 2, options, error)) {
        std::fprintf(stderr, "vorlan: %s\n%s", error.c_str(), kUsage);
        return kExitBadGraph;
      }
      return RunGraph(options);
    }
    if (command.size() > 1 && command[0] == '-') {
      std::fprintf(stderr, "vorlan: unknown option %s\n%s", command.c_str(), kUsage);
      return kExitBadGraph;
    }
  }
  if (argc > 2) {
    std::fprintf(stderr, "vorlan: the editor takes at most one graph file\n%s", kUsage);
    return kExitBadGraph;
  }
#if defined(VORLAN_HAVE_EDITOR)
  return vorlan::gui::RunEditor(argc, argv);
#else
  std::fputs("vorlan: the editor is not built; use --run or --list (see --help).\n", stderr);
  return 1;
#endif
}
