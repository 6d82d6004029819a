#include "gauge_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlan {

GaugeDialog::GaugeDialog(int32_t prescaling, QWidget* parent) : QDialog(parent), prescaling_(prescaling) {
  setWindowTitle(QStringLiteral("PSNR enumerator settings"));
  auto* group = new QGroupBox(QStringLiteral("Scaling"), this);
  auto* groupLayout = new QVBoxLayout(group);
  box_ = new QCheckBox(QStringLiteral("Scale planes to the same range (Prescaling)"), group);
  box_->setObjectName(QStringLiteral("prescaling"));  // the settings field it edits
  box_->setChecked(prescaling != 0);
  groupLayout->addWidget(box_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &GaugeDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &GaugeDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

void GaugeDialog::accept() {
  prescaling_ = box_->isChecked() ? 1 : 0;
  QDialog::accept();
}

}  // namespace vorlan
