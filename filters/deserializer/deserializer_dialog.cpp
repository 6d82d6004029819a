#include "deserializer_dialog.h"

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

DeserializerDialog::DeserializerDialog(const DeserializerSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Deserializer settings"));
  pinCount_ = new QLineEdit(QString::number(settings.pinCount), this);
  pinCount_->setMaxLength(255);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Number of output pins"), pinCount_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void DeserializerDialog::accept() {
  const int32_t n = ParseDecimal(pinCount_->text());
  if (n < 0 || n > kMaxDeserializerPins) {
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("The number of pins must be a number from 0 to %1.").arg(kMaxDeserializerPins),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return;
  }
  settings_.pinCount = n;
  QDialog::accept();
}

}  // namespace vorlan
