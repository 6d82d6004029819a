// The entry point of `vorlan`: the editor, or a headless command.
#include <cstdio>
#include <string>
#include <vector>

#include "core/plugin_search.h"
#include "core/graph_text.h"
#include "core/registry.h"
#include "headless/command_line.h"
#include "headless/headless_runner.h"
#include "headless/filter_details.h"

#if defined(VORLAN_HAVE_EDITOR)
#include "editor.h"
#endif

int main(int argc, char** argv) {
  using namespace vorlan::host;
  const std::vector<std::string> args(argv, argv + argc);
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(args, line, error)) {
    std::fprintf(stderr, "vorlan: %s\n%s\n", error.c_str(), kTryHelp);
    return kExitBadGraph;
  }
  switch (line.mode) {
    case CommandLine::Mode::Help:
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    case CommandLine::Mode::Version:
      std::fputs(VersionText().c_str(), stdout);
      return 0;
    case CommandLine::Mode::Inspect: {
      const Registry registry(PluginSearchPath(ProcessSearchInputs(line.filterFolders)));
      return InspectFilters(registry, line.inspect, line.json, stdout, stderr);
    }
    case CommandLine::Mode::Convert: {
      const Registry registry(PluginSearchPath(ProcessSearchInputs(line.filterFolders)));
      std::string why;
      if (!ConvertGraphFile(line.convertFrom, line.convertTo, registry, why)) {
        std::fprintf(stderr, "vorlan: %s\n", why.c_str());
        return kExitBadGraph;
      }
      return 0;
    }
    case CommandLine::Mode::List: {
      const SearchInputs search = ProcessSearchInputs(line.filterFolders);
      const Registry registry(PluginSearchPath(search));
      ListPrototypes(registry, stdout, IgnoredSearchEntries(search));
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
