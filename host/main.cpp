// The entry point of `vorlan`: the editor, or a headless command.
#include <cstdio>
#include <string>
#include <vector>

#include "core/plugin_search.h"
#include "core/registry.h"
#include "headless/command_line.h"
#include "headless/headless_runner.h"

#if defined(VORLAN_HAVE_EDITOR)
#include "editor.h"
#endif

int main(int argc, char** argv) {
  using namespace vorlan::host;
  const std::vector<std::string> args(argv, argv + argc);
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(args, line, error)) {
    std::fprintf(stderr, "vorlan: %s\n%s", error.c_str(), HelpText().c_str());
    return kExitBadGraph;
  }
  switch (line.mode) {
    case CommandLine::Mode::Help:
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    case CommandLine::Mode::Version:
      std::puts("Vorlan Version 1.0");
      return 0;
    case CommandLine::Mode::List: {
      const Registry registry(PluginSearchPath(ProcessSearchInputs(line.filterFolders)));
      ListPrototypes(registry, stdout);
      return 0;
    }
    case CommandLine::Mode::Run:
      return RunGraph(line.run);
    case CommandLine::Mode::Editor:
      break;
  }
#if defined(VORLAN_HAVE_EDITOR)
  vorlan::gui::EditorOptions options;
  options.graph = line.graph;
  options.filterFolders = line.filterFolders;
  return vorlan::gui::RunEditor(argc, argv, options);
#else
  std::fputs("vorlan: the editor is not built; use --run or --list (see --help).\n", stderr);
  return 1;
#endif
}
