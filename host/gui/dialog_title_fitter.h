// Widens every dialog the program shows, the plug-ins' settings dialogs
// included, so that its whole title fits in the title bar.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace vorlan::gui {

// Width a window needs for `title` in its title bar: the text in a bold
// face plus room for the window icon and the title-bar buttons.
int TitleBarWidth(const QString& title);

// Gives `window` at least TitleBarWidth of its title as minimum width.
void FitToTitle(QWidget& window);

// Installed on the application: applies FitToTitle to each QDialog (but not
// to message boxes, which size themselves to their text) as it is shown.
class DialogTitleFitter : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace vorlan::gui
