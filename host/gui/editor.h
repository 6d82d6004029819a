// Entry point of the windowed editor, called by the program's main().
#pragma once

namespace vorlan::gui {

// [main thread] Creates the QApplication and the main window, opens the
// graph named on the command line and runs the event loop; returns the exit
// code of the program.
int RunEditor(int argc, char** argv);

}  // namespace vorlan::gui
