#include "caption_dialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlan::gui {

CaptionDialog::CaptionDialog(const QString& caption, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Set Caption"));
  edit_ = new QLineEdit(caption.left(kMaxLength));
  edit_->setMaxLength(kMaxLength);
  edit_->setMinimumWidth(260);
  edit_->selectAll();
  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edit_);
  layout->addWidget(buttons);
}

QString CaptionDialog::Caption() const { return edit_->text().left(kMaxLength); }

}  // namespace vorlan::gui
