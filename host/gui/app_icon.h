// The program's icon: window icon of every top-level window and the picture
// of the About box.
#pragma once

#include <QIcon>

namespace vorlan::gui {

// [ui thread] Built from the icon compiled into the program.
QIcon ApplicationIcon();

}  // namespace vorlan::gui
