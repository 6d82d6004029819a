// What plug-ins with a user interface share: whether a GUI exists in this
// process, the "nothing to configure" box, and calls from the worker thread
// onto the user-interface thread. Links Qt Widgets; processing code never
// includes it.
#pragma once

#include <functional>

#include "vorlan/contract.h"

namespace vorlan::gui {

// True when a QApplication exists in the process (the editor). Headless
// runs and tests have none: dialogs and windows are then never created.
bool GuiAvailable();

// The task-modal information box of a filter without settings, titled for
// example "BMP Encoder settings". Failed without a GUI.
Result ShowNothingToConfigure(const char* title);

// Runs `call` on the user-interface thread and waits for it to finish.
// Called on that thread itself it runs directly; without a GUI it does
// nothing.
void RunOnGuiThread(const std::function<void()>& call);

}  // namespace vorlan::gui
