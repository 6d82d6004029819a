#include "packer_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlan::hvpack {

PackerDialog::PackerDialog(const CodePackerSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("HV Code Packer settings"));
  version_ = new QComboBox(this);
  version_->setObjectName(QStringLiteral("formatVersion"));
  version_->addItem(QStringLiteral("1 (read by every unpacker)"), 1);
  version_->addItem(QStringLiteral("2 (offsets predicted, smaller)"), 2);
  version_->setCurrentIndex(version_->findData(settings_.formatVersion));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Format version"), version_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &PackerDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PackerDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void PackerDialog::accept() {
  if (version_->currentIndex() >= 0) settings_.formatVersion = version_->currentData().toInt();
  QDialog::accept();
}

}  // namespace vorlan::hvpack
