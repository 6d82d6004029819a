#include "about_dialog.h"

#include "app_icon.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vorlan::gui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About vorlan"));
  auto* icon = new QLabel;
  icon->setObjectName(QStringLiteral("icon"));
  icon->setPixmap(ApplicationIcon().pixmap(48, 48));
  auto* text = new QLabel(QStringLiteral("Vorlan Version 1.0"));
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(12);
  row->addWidget(text, 1);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
}

}  // namespace vorlan::gui
