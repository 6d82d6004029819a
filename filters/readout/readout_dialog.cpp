#include "readout_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlan {

namespace {
constexpr int kMaxCaptionLength = 255;
}

ReadoutDialog::ReadoutDialog(const std::optional<std::string>& caption, QWidget* parent)
    : QDialog(parent), caption_(caption) {
  setWindowTitle(QStringLiteral("Text Display settings"));
  edit_ = new QLineEdit(this);
  edit_->setObjectName(QStringLiteral("caption"));  // the settings field it edits
  edit_->setMaxLength(kMaxCaptionLength);
  if (caption_) edit_->setText(QString::fromStdString(*caption_));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &ReadoutDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ReadoutDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Caption :"), this));
  layout->addWidget(edit_);
  layout->addWidget(buttons);
}

void ReadoutDialog::accept() {
  const QString text = edit_->text().left(kMaxCaptionLength);
  if (text.isEmpty()) caption_.reset();
  else caption_ = text.toStdString();
  QDialog::accept();
}

}  // namespace vorlan
