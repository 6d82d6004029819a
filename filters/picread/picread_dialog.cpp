#include "picread_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "picture_decoding.h"

namespace vorlan {

PicreadDialog::PicreadDialog(const PictureDecoderSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Image Decoder settings"));

  limit_ = new QSpinBox(this);
  limit_->setObjectName(QStringLiteral("maxMegapixels"));  // the settings field it edits
  limit_->setRange(1, kLargestMegapixels);
  limit_->setSuffix(QStringLiteral(" megapixels"));
  // A stored value out of range shows clamped; OK stores the shown value.
  limit_->setValue(settings_.maxMegapixels);

  formats_ = new QLabel(QString::fromStdString("Formats read on this system: " + ReadableFormats()), this);
  formats_->setWordWrap(true);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Largest picture:"), limit_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &PicreadDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PicreadDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(formats_);
  layout->addWidget(buttons);
}

void PicreadDialog::accept() {
  settings_.maxMegapixels = limit_->value();
  QDialog::accept();
}

}  // namespace vorlan
