// The program's command line: what `vorlan` was asked to do.
// [main thread] Parsed with Qt's QCommandLineParser before any application
// object exists, so `--help`, `--version`, `--name=value` and the error
// messages follow Qt's conventions in every mode.
#pragma once

#include <string>
#include <vector>

#include "headless/headless_runner.h"

namespace vorlan::host {

struct CommandLine {
  enum class Mode { Editor, Run, List, Help, Version };
  Mode mode = Mode::Editor;
  std::string graph;                       // the editor's graph ("" for none)
  RunOptions run;                          // Mode::Run; run.filterFolders is set in every mode
  std::vector<std::string> filterFolders;  // --filters DIR, in order
};

// Parses `args` (args[0] is the program). False with `error` (one line,
// without the program name) on a wrong command line; the program then
// prints the error and the usage and exits kExitBadGraph.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

// The text of --help: usage, options, and the exit codes of --run.
std::string HelpText();

}  // namespace vorlan::host
