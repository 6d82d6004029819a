// The modal "About vorlan" box.
#pragma once

#include <QDialog>

namespace vorlan::gui {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace vorlan::gui
