#include "pin_count_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>
#include <climits>
#include <cstdlib>

namespace vorlan {
namespace {

// At most 255 characters are read, as strtol would convert them.
int32_t ParseDecimal(const QString& text) {
  const QByteArray bytes = text.left(255).toLatin1();
  const long value = std::strtol(bytes.constData(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

PinCountDialog::PinCountDialog(const QString& title, const QString& label, int32_t count, int32_t maxCount,
                               QWidget* parent)
    : QDialog(parent), count_(count), maxCount_(maxCount) {
  setWindowTitle(title);
  edit_ = new QLineEdit(QString::number(count), this);
  edit_->setMaxLength(255);
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
  const int32_t n = ParseDecimal(edit_->text());
  if (n < 0 || n > maxCount_) {
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("The number of pins must be a number from 0 to %1.").arg(maxCount_),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return;
  }
  count_ = n;
  QDialog::accept();
}

}  // namespace vorlan
