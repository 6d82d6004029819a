#include "gui/editor.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <memory>

#include "app_icon.h"
#include "core/plugin_search.h"
#include "core/registry.h"
#include "main_window.h"

namespace vorlan::gui {

int RunMainWindow(const host::Registry& registry, const QString& graph,
                  const std::function<void(MainWindow&)>& started) {
  // Exit ends the loop itself once the document is closed; a filter window
  // that is still visible must not keep the program alive, nor must the
  // last of them closing end it early.
  const bool quitOnLast = QApplication::quitOnLastWindowClosed();
  QApplication::setQuitOnLastWindowClosed(false);
  int code = 0;
  {
    auto window = std::make_unique<MainWindow>(registry);
    window->show();
    if (!graph.isEmpty()) window->OpenGraph(graph);
    if (started) started(*window);
    code = QApplication::exec();
  }
  QApplication::setQuitOnLastWindowClosed(quitOnLast);
  return code;
}

int RunEditor(int argc, char** argv, const EditorOptions& options) {
  // Qt keeps a reference to argc for the application's lifetime.
  static int qtArgc = 0;
  qtArgc = argc > 0 ? 1 : 0;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QStringLiteral("vorlan"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  QApplication::setWindowIcon(ApplicationIcon());

  // The libraries stay loaded until every filter of the window is gone.
  const host::SearchInputs search = host::ProcessSearchInputs(options.filterFolders);
  for (const std::string& line : host::IgnoredSearchEntries(search)) std::fprintf(stderr, "warning: %s\n", line.c_str());
  host::Registry registry(host::PluginSearchPath(search));
  return RunMainWindow(registry, QString::fromLocal8Bit(options.graph.c_str()));
}

}  // namespace vorlan::gui
