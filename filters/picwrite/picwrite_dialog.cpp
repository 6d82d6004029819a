#include "picwrite_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "picture_formats.h"

namespace vorlan {

PicwriteDialog::PicwriteDialog(const PictureEncoderSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Image Encoder settings"));

  // Widgets carry the identifiers of the settings fields they edit.
  format_ = new QComboBox(this);
  format_->setObjectName(QStringLiteral("format"));
  auto* model = qobject_cast<QStandardItemModel*>(format_->model());
  for (const PictureFormat& f : PictureFormats()) {
    const bool available = CanWrite(f);
    QString label = QString::fromLatin1(f.label);
    if (!available) label += QStringLiteral(" (not available)");
    format_->addItem(label, f.code);
    if (!available && model != nullptr) model->item(format_->count() - 1)->setEnabled(false);
  }
  const int stored = format_->findData(settings_.format);
  format_->setCurrentIndex(stored >= 0 ? stored : 0);

  quality_ = new QSpinBox(this);
  quality_->setObjectName(QStringLiteral("quality"));
  quality_->setRange(0, 100);
  quality_->setValue(settings_.quality);

  bits_ = new QComboBox(this);
  bits_->setObjectName(QStringLiteral("bits"));
  bits_->addItem(QStringLiteral("8"), 8);
  bits_->addItem(QStringLiteral("16"), 16);
  bits_->setCurrentIndex(settings_.bits == 16 ? 1 : 0);

  formats_ = new QLabel(QString::fromStdString("Formats written on this system: " + WritableFormats()), this);
  formats_->setWordWrap(true);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Format:"), format_);
  form->addRow(QStringLiteral("Quality (JPEG, WebP):"), quality_);
  form->addRow(QStringLiteral("Bits per channel:"), bits_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &PicwriteDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PicwriteDialog::reject);
  connect(format_, &QComboBox::currentIndexChanged, this, &PicwriteDialog::FollowFormat);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(formats_);
  layout->addWidget(buttons);
  FollowFormat();
}

void PicwriteDialog::FollowFormat() {
  const PictureFormat* f = FindPictureFormat(format_->currentData().toInt());
  const bool lossy = f != nullptr && f->lossy;
  const bool deep = f != nullptr && f->sixteenBits;
  quality_->setEnabled(lossy);
  auto* model = qobject_cast<QStandardItemModel*>(bits_->model());
  if (model != nullptr) model->item(1)->setEnabled(deep);
  if (!deep) bits_->setCurrentIndex(0);
}

void PicwriteDialog::accept() {
  settings_.format = format_->currentData().toInt();
  settings_.quality = quality_->value();
  settings_.bits = bits_->currentData().toInt();
  QDialog::accept();
}

}  // namespace vorlan
