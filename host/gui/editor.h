// Entry point of the windowed editor, called by the program's main().
#pragma once

#include <string>
#include <vector>

namespace vorlan::gui {

struct EditorOptions {
  std::string graph;                       // opened at start-up; "" for none
  std::vector<std::string> filterFolders;  // --filters DIR, searched last
};

// [main thread] Creates the QApplication and the main window, loads the
// plug-ins of the search path, opens the graph and runs the event loop;
// returns the exit code of the program. The caller has checked the command
// line; argc/argv only go to QApplication.
int RunEditor(int argc, char** argv, const EditorOptions& options);

}  // namespace vorlan::gui
