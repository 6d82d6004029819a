// What plug-ins with a user interface share: whether a GUI exists in this
// process, the "nothing to configure" box, and calls from the worker thread
// onto the user-interface thread. Links Qt Widgets; processing code never
// includes it.
#pragma once

#include <QRect>
#include <QSize>
#include <functional>

class QWidget;

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

// The frame `frame` (title bar included) moved, and shrunk when it is larger,
// so that it lies wholly inside `work`.
QRect KeepInside(const QRect& frame, const QRect& work);

// What the window manager adds around a window's client area: measured once
// the window has been shown, estimated before.
QSize FrameExtra(const QWidget& window);

// Call before showing a filter's top-level window. The first time, the
// window goes beside the editor's main window, each new one a step further
// down and right; every time, its whole frame is kept on the work area of
// that screen, shrinking the window if need be. [ui thread]
void PlaceOnScreen(QWidget& window);

}  // namespace vorlan::gui
