#include "readout_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "display_text.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

ReadoutWindow::ReadoutWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Text Display"));
  text_ = new QLineEdit(this);
  text_->setReadOnly(true);
  text_->setMinimumWidth(260);
  type_ = new QLabel(this);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  close_->setDefault(true);
  close_->setAutoDefault(true);
  connect(close_, &QPushButton::clicked, this, &QWidget::hide);

  auto* layout = new QGridLayout(this);
  layout->addWidget(text_, 0, 0, 1, 4);
  layout->addWidget(new QLabel(QStringLiteral("Type :"), this), 1, 0);
  layout->addWidget(type_, 1, 1);
  layout->setColumnStretch(2, 1);
  layout->addWidget(close_, 1, 3);
}

void ReadoutWindow::ShowValue(const std::optional<std::string>& text, const std::string& typeLabel,
                              const std::optional<std::string>& caption) {
  text_->setText(text ? QString::fromStdString(FitValueText(*text, typeLabel)) : QString());
  text_->setCursorPosition(0);
  type_->setText(QString::fromStdString(typeLabel));
  if (caption && !caption->empty()) {
    setWindowTitle(QString::fromStdString(FitCaptionTitle("[", *caption, "] - Text Display")));
  } else {
    setWindowTitle(QStringLiteral("Text Display"));
  }
  if (!isVisible()) {
    adjustSize();
    vorlan::gui::PlaceOnScreen(*this);
  }
  show();
  repaint();
}

void ReadoutWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  hide();
}

}  // namespace vorlan
