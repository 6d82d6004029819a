#include "display_settings_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlan {

namespace {
constexpr int kMaxCaptionLength = 255;
}

DisplaySettingsDialog::DisplaySettingsDialog(const QString& title, bool stretch,
                                             const std::optional<std::string>& caption, QWidget* parent)
    : QDialog(parent), stretch_(stretch), caption_(caption) {
  setWindowTitle(title);

  auto* group = new QGroupBox(QStringLiteral("Display settings"), this);
  stretchBox_ = new QCheckBox(QStringLiteral("Stretch image"), group);
  stretchBox_->setObjectName(QStringLiteral("stretch"));  // the settings fields they edit
  stretchBox_->setChecked(stretch);
  captionEdit_ = new QLineEdit(group);
  captionEdit_->setObjectName(QStringLiteral("caption"));
  captionEdit_->setMaxLength(kMaxCaptionLength);
  if (caption) captionEdit_->setText(QString::fromStdString(*caption));
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(stretchBox_);
  groupLayout->addWidget(new QLabel(QStringLiteral("Caption :"), group));
  groupLayout->addWidget(captionEdit_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &DisplaySettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &DisplaySettingsDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

void DisplaySettingsDialog::accept() {
  stretch_ = stretchBox_->isChecked();
  const QString text = captionEdit_->text().left(kMaxCaptionLength);
  if (text.isEmpty()) caption_.reset();
  else caption_ = text.toStdString();
  QDialog::accept();
}

}  // namespace vorlan
