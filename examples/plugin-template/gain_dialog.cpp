#include "gain_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>

namespace gain {

GainDialog::GainDialog(const GainSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Gain settings"));
  auto* form = new QFormLayout(this);
  gain_ = new QDoubleSpinBox(this);
  gain_->setObjectName(QStringLiteral("gain"));  // the settings field it edits: its tooltip
  gain_->setRange(-1000.0, 1000.0);
  gain_->setDecimals(4);
  gain_->setSingleStep(0.1);
  gain_->setValue(settings_.gain);
  form->addRow(QStringLiteral("Gain"), gain_);
  clip_ = new QCheckBox(QStringLiteral("Clip to the input range"), this);
  clip_->setObjectName(QStringLiteral("clip"));
  clip_->setChecked(settings_.clip != 0);
  form->addRow(clip_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

GainSettings GainDialog::Settings() const {
  GainSettings edited = settings_;
  edited.gain = gain_->value();
  edited.clip = clip_->isChecked() ? 1 : 0;
  return edited;
}

}  // namespace gain
