#include "luma_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cmath>

#include "dialog_text.h"

namespace vorlan {

namespace {

const char* const kMethodLabels[5] = {
    "Maximum ( I = max(R, G, B) )",
    "Average ( I = (R + G + B)/3 )",
    "Y ( I = 0.299*R + 0.587*G + 0.114*B)",
    "Luminance ( I = 0.27*R + 0.67*G + 0.06*B)",
    "Trilinear ( I = r*R + g*G + b*B) (r+b+g = 1)",
};

}  // namespace

std::string FormatWeight(double value) { return FormatFixed(value); }

double ParseWeight(const std::string& text) { return ParseReal(text, std::string::npos); }

LumaDialog::LumaDialog(const GrayscaleSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Grayscale Conversion settings"));

  auto* group = new QGroupBox(QStringLiteral("Conversion method"), this);
  group->setObjectName(QStringLiteral("method"));  // settings fields name their widgets
  auto* groupLayout = new QVBoxLayout(group);
  methods_ = new QButtonGroup(this);
  methods_->setExclusive(true);
  for (int code = 0; code < 5; ++code) {
    auto* button = new QRadioButton(QString::fromLatin1(kMethodLabels[code]), group);
    methods_->addButton(button, code);
    groupLayout->addWidget(button);
  }
  if (settings_.method >= 0 && settings_.method < 5) methods_->button(settings_.method)->setChecked(true);

  auto* weightRow = new QHBoxLayout;
  const double values[3] = {settings_.r, settings_.g, settings_.b};
  const char* const after[3] = {"*R +", "*G +", "*B"};
  const char* const fields[3] = {"r", "g", "b"};
  weightRow->addWidget(new QLabel(QStringLiteral("I ="), group));
  for (int i = 0; i < 3; ++i) {
    weights_[i] = new QLineEdit(QString::fromStdString(FormatWeight(values[i])), group);
    weights_[i]->setObjectName(QString::fromLatin1(fields[i]));
    weightRow->addWidget(weights_[i]);
    weightRow->addWidget(new QLabel(QString::fromLatin1(after[i]), group));
  }
  groupLayout->addLayout(weightRow);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &LumaDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &LumaDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

QRadioButton* LumaDialog::MethodButton(int code) const {
  return qobject_cast<QRadioButton*>(methods_->button(code));
}

void LumaDialog::accept() {
  static const char* const kWeightNames[3] = {"R", "G", "B"};
  double parsed[3];
  QStringList problems;
  int firstBad = -1;
  for (int i = 0; i < 3; ++i) {
    parsed[i] = ParseWeight(weights_[i]->text().left(255).toStdString());
    if (std::isfinite(parsed[i])) continue;
    problems << QStringLiteral("The weight of %1 (\"%2\") is not a finite number.")
                    .arg(QLatin1String(kWeightNames[i]), weights_[i]->text());
    if (firstBad < 0) firstBad = i;
  }
  if (!problems.isEmpty()) {
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), problems.join(QLatin1Char('\n')),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    weights_[firstBad]->setFocus();
    return;
  }
  if (methods_->checkedId() >= 0) settings_.method = methods_->checkedId();
  settings_.r = parsed[0];
  settings_.g = parsed[1];
  settings_.b = parsed[2];
  QDialog::accept();
}

}  // namespace vorlan
