#include "gui/editor.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "core/registry.h"
#include "main_window.h"

namespace vorlan::gui {

namespace {

struct EditorArguments {
  QString graph;         // graph file to open at start-up, empty for none
  int quitAfterMs = -1;  // hidden: close the window after this long (smoke tests)
  QString error;
};

EditorArguments ParseArguments(const QStringList& args) {
  EditorArguments parsed;
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QStringLiteral("--quit-after-ms")) {
      bool ok = false;
      parsed.quitAfterMs = i + 1 < args.size() ? args[i + 1].toInt(&ok) : -1;
      if (!ok || parsed.quitAfterMs < 0) {
        parsed.error = QStringLiteral("--quit-after-ms needs a number of milliseconds");
        return parsed;
      }
      ++i;
    } else if (a.startsWith(QStringLiteral("--"))) {
      parsed.error = QStringLiteral("unknown option %1").arg(a);
      return parsed;
    } else if (parsed.graph.isEmpty()) {
      parsed.graph = a;
    } else {
      parsed.error = QStringLiteral("only one graph file can be opened");
      return parsed;
    }
  }
  return parsed;
}

}  // namespace

int RunEditor(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vorlan"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  const EditorArguments args = ParseArguments(QApplication::arguments());
  if (!args.error.isEmpty()) {
    std::fprintf(stderr, "vorlan: %s\n", qPrintable(args.error));
    return 2;
  }

  // The libraries stay loaded until every filter of the window is gone.
  host::Registry registry(host::Registry::DefaultFolder());
  int code = 0;
  {
    MainWindow window(registry);
    window.show();
    if (!args.graph.isEmpty()) window.OpenGraph(args.graph);
    if (args.quitAfterMs >= 0) {
      window.SetPromptForUnsaved(false);
      QTimer::singleShot(args.quitAfterMs, &window, &QWidget::close);
    }
    code = QApplication::exec();
  }
  return code;
}

}  // namespace vorlan::gui
