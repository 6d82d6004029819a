#include "gui/editor.h"

#include <QApplication>

#include "core/plugin_search.h"
#include "core/registry.h"
#include "main_window.h"

namespace vorlan::gui {

int RunEditor(int argc, char** argv, const EditorOptions& options) {
  // Qt keeps a reference to argc for the application's lifetime.
  static int qtArgc = 0;
  qtArgc = argc > 0 ? 1 : 0;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QStringLiteral("vorlan"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));

  // The libraries stay loaded until every filter of the window is gone.
  host::Registry registry(host::PluginSearchPath(host::ProcessSearchInputs(options.filterFolders)));
  int code = 0;
  {
    MainWindow window(registry);
    window.show();
    if (!options.graph.empty()) window.OpenGraph(QString::fromLocal8Bit(options.graph.c_str()));
    code = QApplication::exec();
  }
  return code;
}

}  // namespace vorlan::gui
