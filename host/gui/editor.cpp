#include "gui/editor.h"

#include <QApplication>
#include <QMainWindow>

namespace vorlan::gui {

int RunEditor(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("vorlan");
  QMainWindow window;
  window.setWindowTitle("Vorlan");
  window.resize(800, 600);
  window.show();
  return QApplication::exec();
}

}  // namespace vorlan::gui
