#include "resample_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vorlan {

namespace {

const char* const kMethodLabels[3] = {"Area average (down)", "Bilinear (up)", "Bicubic (up)"};

}  // namespace

ResampleDialog::ResampleDialog(const ResamplerSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Plane Resampler settings"));

  auto* scale = new QGroupBox(QStringLiteral("Scale"), this);
  auto* scaleLayout = new QFormLayout(scale);
  factor_ = new QSpinBox(scale);
  factor_->setObjectName(QStringLiteral("factor"));  // settings fields name their widgets
  factor_->setRange(resample::kSmallestFactor, resample::kLargestFactor);
  // A factor outside the range (from a graph file) shows as the nearest one.
  factor_->setValue(settings_.factor);
  scaleLayout->addRow(QStringLiteral("Factor:"), factor_);

  auto* group = new QGroupBox(QStringLiteral("Method"), this);
  group->setObjectName(QStringLiteral("method"));
  auto* groupLayout = new QVBoxLayout(group);
  methods_ = new QButtonGroup(this);
  methods_->setExclusive(true);
  for (int method = 0; method < 3; ++method) {
    auto* button = new QRadioButton(QString::fromLatin1(kMethodLabels[method]), group);
    methods_->addButton(button, method);
    groupLayout->addWidget(button);
  }
  if (settings_.method >= 0 && settings_.method < 3) methods_->button(settings_.method)->setChecked(true);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &ResampleDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ResampleDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(scale);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

QRadioButton* ResampleDialog::MethodButton(int method) const {
  return qobject_cast<QRadioButton*>(methods_->button(method));
}

void ResampleDialog::accept() {
  settings_.factor = factor_->value();
  if (methods_->checkedId() >= 0) settings_.method = methods_->checkedId();
  QDialog::accept();
}

}  // namespace vorlan
