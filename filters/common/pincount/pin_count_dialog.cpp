#include "pin_count_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

#include "dialog_text.h"

namespace vorlan {
namespace {

// At most 255 characters are read.
constexpr int kEditChars = 255;

}  // namespace

PinCountDialog::PinCountDialog(const QString& title, const QString& label, int32_t count, int32_t maxCount,
                               QWidget* parent)
    : QDialog(parent), label_(label), count_(count), maxCount_(maxCount) {
  setWindowTitle(title);
  edit_ = new QLineEdit(QString::number(count), this);
  edit_->setObjectName(QStringLiteral("pinCount"));  // the settings field it edits
  edit_->setMaxLength(kEditChars);
  auto* form = new QFormLayout;
  form->addRow(label, edit_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void PinCountDialog::accept() {
  const int32_t n = ParseInt32(edit_->text().toStdString(), kEditChars);
  if (n < 0 || n > maxCount_) {
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("%1 must be a number from 0 to %2.").arg(label_).arg(maxCount_),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return;
  }
  count_ = n;
  QDialog::accept();
}

}  // namespace vorlan
