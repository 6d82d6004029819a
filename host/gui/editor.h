// Entry point of the windowed editor, called by the program's main().
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

namespace vorlan::host {
class Registry;
}

namespace vorlan::gui {

class MainWindow;

struct EditorOptions {
  std::string graph;                       // opened at start-up; "" for none
  std::vector<std::string> filterFolders;  // --filters DIR, searched last
};

// [main thread] Creates the QApplication and the main window, loads the
// plug-ins of the search path, opens the graph and runs the event loop;
// returns the exit code of the program. The caller has checked the command
// line; argc/argv only go to QApplication.
int RunEditor(int argc, char** argv, const EditorOptions& options);

// [main thread, QApplication exists] Shows a main window on `registry`,
// opens `graph` when it is not empty, calls `started` (may be empty) and runs
// the event loop until the window's Exit ends it. The window, and with it
// every filter and filter window, is gone when this returns.
int RunMainWindow(const host::Registry& registry, const QString& graph,
                  const std::function<void(MainWindow&)>& started = {});

}  // namespace vorlan::gui
