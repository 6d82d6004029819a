#include "gui/editor.h"

#include <QApplication>
#include <QStringList>

#include "core/registry.h"
#include "main_window.h"

namespace vorlan::gui {

int RunEditor(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vorlan"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  // The program's main() has checked the command line: at most a graph.
  const QStringList args = QApplication::arguments();
  const QString graph = args.size() > 1 ? args[1] : QString();

  // The libraries stay loaded until every filter of the window is gone.
  host::Registry registry(host::Registry::DefaultFolder());
  int code = 0;
  {
    MainWindow window(registry);
    window.show();
    if (!graph.isEmpty()) window.OpenGraph(graph);
    code = QApplication::exec();
  }
  return code;
}

}  // namespace vorlan::gui
