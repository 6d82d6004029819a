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
  enum class Mode { Editor, Run, List, Help, Version, Inspect, Convert };
  Mode mode = Mode::Editor;
  std::string graph;                       // the editor's graph ("" for none)
  std::string inspect;                     // Mode::Inspect: NAME|ID, "" for every filter
  bool json = false;                       // Mode::Inspect: JSON instead of text
  std::string convertFrom, convertTo;      // Mode::Convert
  RunOptions run;                          // Mode::Run; run.filterFolders is set in every mode
  std::vector<std::string> filterFolders;  // --filters DIR, in order
};

// Parses `args` (args[0] is the program). False with `error` (one line,
// without the program name) on a wrong command line; the program then
// prints "vorlan: <error>" and kTryHelp and exits kExitBadGraph.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

inline constexpr const char* kTryHelp = "Try 'vorlan --help' for more information.";

// The text of --help: usage, options, and the exit codes of --run.
std::string HelpText();
// The text of --version, GNU style: "vorlan 1.0".
std::string VersionText();

}  // namespace vorlan::host
